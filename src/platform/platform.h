// The one door to the operating system. The run-time reaches files, the standard handles, the
// terminal test, the clock, interrupts and the end of the process only through `Platform`, so
// tests can put a fake in its place that fails any call on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

// Wide enough for a POSIX descriptor and for a Windows handle, which is a pointer-sized value.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// Why a call failed. kOk means it did not.
enum class Err {
  kOk,
  kNotFound,      // no such file
  kExists,        // create-exclusive found the name taken
  kAccessDenied,  // permissions, read-only medium, locks
  kInvalid,       // a name or argument the system rejects
  kIsFolder,      // an open for reading or writing named a folder
  kTooManyFiles,  // the process has no handle left
  kDiskFull,      // no room for the data: device full, quota exhausted, file size limit
  kIo,            // any other failure of a read, write, seek or close
  kInterrupted,   // an interrupt signal ended the call, or kept it from waiting (see read)
};

enum class Access { kRead, kWrite, kReadWrite };

// Sharing asked of an open. POSIX has no mandatory sharing, so the POSIX layer accepts and
// ignores it; it is part of the interface for systems that enforce it.
enum class Share { kDenyNone, kCompat, kDenyRead, kDenyWrite, kDenyReadWrite };

enum class StdStream { kIn = 0, kOut = 1, kErr = 2 };

// Identity of an open file: two names are one file when their ids are equal.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

// What a name is, learnt without opening it (the open of a FIFO waits for its other end).
struct NameInfo {
  // A FIFO, a character device or a socket: bytes flow through it, and nothing there can be
  // overwritten.
  bool stream = false;
  FileId id;  // as identity gives it for a handle open on the name
};

struct OpenResult {
  Handle handle = kNoHandle;
  Err err = Err::kOk;
};

// count is the number of bytes moved, also when err is set (a short write).
struct IoResult {
  std::size_t count = 0;
  Err err = Err::kOk;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Opens an existing file; fails with kNotFound when there is none, kIsFolder for a folder.
  virtual OpenResult open_existing(const char* name, Access access, Share share) = 0;
  // Creates a file that must not exist yet (never following a symbolic link at the name);
  // the new file may be read and written by its owner.
  virtual OpenResult create_new(const char* name, Access access, Share share) = 0;
  // Reads up to n bytes; count 0 without an error is the end of the file. An interrupt that
  // arrives during the call, or arrived before it and after the last pending_interrupt, ends it
  // with kInterrupted instead of letting it wait for data (a read that need not wait, as from a
  // regular file, may still complete). Such an interrupt is never lost in the gap between the
  // caller's pending_interrupt and the start of the wait.
  virtual IoResult read(Handle h, void* buf, std::size_t n) = 0;
  // Writes all n bytes, or reports how many were written and why the rest were not. As for
  // read, an interrupt that arrives during the call, or arrived before it and after the last
  // pending_interrupt, ends it with kInterrupted (the bytes accepted so far counted) instead of
  // letting it wait for room. One already reported by pending_interrupt does not, so the
  // writes that end an interrupted run still wait for a slow reader.
  virtual IoResult write(Handle h, const void* buf, std::size_t n) = 0;
  // Moves the file position; fails where the handle has none (a pipe, a FIFO, a terminal).
  virtual Err seek(Handle h, std::int64_t offset) = 0;
  // Sets the end of the file at the current position.
  virtual Err truncate_here(Handle h) = 0;
  // Makes `length` bytes of the file at dst, from dst_offset on, share the storage of the file
  // at src from src_offset on, where the file system clones extents; the file offset of dst
  // stays where it was. kInvalid when it does not (another file system, two file systems,
  // offsets or a length it does not take, a file that is no regular one): the bytes must then
  // be written. Another error is a failure, as a write's would be.
  virtual Err clone_range(Handle src, std::int64_t src_offset, Handle dst, std::int64_t dst_offset,
                          std::size_t length) {
    (void)src, (void)src_offset, (void)dst, (void)dst_offset, (void)length;
    return Err::kInvalid;
  }
  // Closes the handle, also when it reports a failure: a late write failure (kDiskFull, kIo)
  // means bytes written before may not have reached the file.
  virtual Err close(Handle h) = 0;
  virtual Err remove(const char* name) = 0;
  virtual bool exists(const char* name) = 0;
  virtual bool identity(Handle h, FileId* id) = 0;
  // The size of the regular file open on h; -1 for any other handle.
  virtual std::int64_t size(Handle h) {
    (void)h;
    return -1;
  }
  // What the name is; false when nothing has that name, or where the system cannot tell
  // without opening it.
  virtual bool look_up(const char* name, NameInfo* info) {
    (void)name, (void)info;
    return false;
  }

  // The command line as one string, where the system hands it over that way and the run-time
  // splits it by its own rules (the program's own file name when the line is empty); null
  // where the system hands over the words already split.
  virtual const char* command_line() = 0;
  // True when b is the first byte of a double-byte character in the active code page.
  virtual bool is_lead_byte(unsigned char b) = 0;

  virtual Handle std_handle(StdStream s) = 0;
  // True when the handle is a character device (a terminal).
  virtual bool is_terminal(Handle h) = 0;
  // Name of the device that discards what is written to it.
  virtual const char* null_device() = 0;
  // True when the system itself reserves the printer and serial device names (PRN, AUX,
  // COM1, LPT1, ..., also with an extension). Where it does not, only the bare names CON,
  // USER, ERR and NUL stand for devices and every other name is an ordinary file.
  virtual bool reserves_device_names() = 0;
  // Where the last component of a path begins: just after its last folder separator.
  virtual std::size_t last_component(std::string_view path) = 0;
  // A monotonic clock in milliseconds.
  virtual std::int64_t now_ms() = 0;

  // Prepares the process before anything is opened: standard handles that are closed are
  // opened on the null device (so no file takes their place), and the interrupt signals are
  // caught. False when that is impossible.
  virtual bool start_process() { return true; }
  // Number of the interrupt signal that arrived since start (0: none), also one that arrived
  // during CPU-bound work or a transfer that did not wait. Interrupts only set this.
  // Every signal whose default action ends the process counts, except the program-fault signals
  // and those ignored at start; broken pipes and file size limits are not signals here, they
  // fail the write instead.
  virtual int pending_interrupt() = 0;
  // From now on a write to a pipe or socket whose reader has gone ends as SIGPIPE would end it
  // by default: the write fails with kInterrupted and pending_interrupt reports SIGPIPE, so the
  // run ends quietly by that signal once its units are closed. Where the process started with
  // SIGPIPE ignored, or where there are no such signals, such a write stays a failed write.
  virtual void end_by_broken_pipe() {}
  [[noreturn]] virtual void exit_process(int status) = 0;
  // Ends the process by the default action of the signal, so the caller sees the signal.
  [[noreturn]] virtual void exit_by_signal(int signal) = 0;
};

// The platform in use. The POSIX one until `install` puts another in its place.
// current(), install() and the two exits below live in platform.cc; native() in platform_posix.cc.
Platform& current();
void install(Platform& p);
// The platform of the system the program was built for.
Platform& native();

// End the process through the current platform; never return.
[[noreturn]] void exit_process(int status);
[[noreturn]] void exit_by_signal(int signal);

}  // namespace platform
