// An in-memory platform for tests: files in a map, scripted standard input, captured standard
// output and error and a log of every write call (wrappers.h has the faults put in front of it);
// and the verbs that start the run-time on it and collect its console text.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

class FakePlatform : public platform::Platform {
 public:
  struct File {
    std::string data;
    std::uint64_t index = 0;
  };

  FakePlatform();
  // Installs itself as the current platform; the POSIX one is put back on destruction.
  ~FakePlatform() override;

  // --- what the test sets up ---
  std::map<std::string, std::shared_ptr<File>> files;
  std::string stdin_data;
  bool stdin_terminal = false;
  bool stdout_terminal = false;
  // A terminal read returns at most one line; a redirected read returns at most this many.
  std::size_t stdin_chunk = 1 << 16;
  // The command line handed over as one string, or null for words already split.
  const char* line = nullptr;
  // Reported by pending_interrupt; the faults of wrappers.h set it as a signal would.
  int interrupt = 0;
  // Path syntax and device names as on a system that reserves device names and separates
  // folders with a backslash, "/" and a drive's ":" (otherwise as on POSIX).
  bool windows_names = false;
  // A file system that clones file ranges; where it does not, clone_range answers kInvalid.
  bool clones = false;
  // Advanced by 1 at every now_ms call, and settable.
  std::int64_t clock_ms = 0;

  // --- what the test inspects ---
  std::string out;  // bytes written to standard output
  std::string err;  // bytes written to standard error
  struct WriteCall {
    std::string name;  // file name, or "<stdout>" / "<stderr>"
    std::size_t size;
  };
  std::vector<WriteCall> write_calls;
  int stdin_reads = 0;
  int open_handles() const;
  // The name a handle was opened by, "<stdout>" or "<stderr>" for those; "" for none.
  std::string name_of(platform::Handle h) const;
  // True when h is an open file (the null device too) that may be read, or written, as `a` asks.
  bool open_for(platform::Handle h, platform::Access a) const;

  // Convenience: a file's contents ("" when it does not exist) and a file maker.
  std::string contents(const std::string& name) const;
  void put(const std::string& name, std::string data);

  // --- Platform ---
  platform::OpenResult open_existing(const char* name, platform::Access access,
                                     platform::Share share) override;
  platform::OpenResult create_new(const char* name, platform::Access access,
                                  platform::Share share) override;
  platform::IoResult read(platform::Handle h, void* buf, std::size_t n) override;
  platform::IoResult write(platform::Handle h, const void* buf, std::size_t n) override;
  platform::Err seek(platform::Handle h, std::int64_t offset) override;
  platform::Err truncate_here(platform::Handle h) override;
  platform::Err clone_range(platform::Handle src, std::int64_t src_offset, platform::Handle dst,
                            std::int64_t dst_offset, std::size_t length) override;
  platform::Err close(platform::Handle h) override;
  platform::Err remove(const char* name) override;
  bool exists(const char* name) override;
  bool identity(platform::Handle h, platform::FileId* id) override;
  const char* command_line() override { return line; }
  // As in a double-byte code page whose lead bytes are 0x81-0x9F and 0xE0-0xFC.
  bool is_lead_byte(unsigned char b) override {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  }
  platform::Handle std_handle(platform::StdStream s) override;
  bool is_terminal(platform::Handle h) override;
  const char* null_device() override { return "/dev/null"; }
  bool reserves_device_names() override { return windows_names; }
  std::size_t last_component(std::string_view path) override;
  std::int64_t now_ms() override { return clock_ms++; }
  int pending_interrupt() override { return interrupt; }
  [[noreturn]] void exit_process(int status) override;
  [[noreturn]] void exit_by_signal(int signal) override;

 private:
  struct Open {
    std::string name;
    std::shared_ptr<File> file;  // null for the null device
    std::size_t pos = 0;
    platform::Access access;
  };
  platform::OpenResult open_file(const char* name, platform::Access access, bool create);
  std::map<platform::Handle, Open> open_;
  platform::Handle next_handle_ = 3;
  std::uint64_t next_index_ = 1;
  std::size_t stdin_pos_ = 0;
};

// Starts the run-time on the installed platform as the program "prog" given `args`.
void start(const std::vector<std::string>& args = {});
// Starts it with `input` waiting on standard input; `terminal` makes standard input and output a
// terminal (standard output stays one when the test has made it one).
void start(FakePlatform& fp, std::string input = "", bool terminal = false);
// Everything standard output has received once the console buffer has gone out.
std::string flushed(const FakePlatform& fp);

}  // namespace fake
