// Platforms that stand in front of the fake and break calls on purpose. A Wrapper forwards every
// call to the platform installed when it was made (the fake, or another wrapper in front of it,
// so faults stack) and is the installed platform while it lives; each fault class overrides only
// the calls it breaks. A call failed with kInterrupted sets the fake's interrupt to SIGINT (2)
// first, as the signal that cut the call short would.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "fake_platform.h"

namespace fake {

class Wrapper : public platform::Platform {
 public:
  using Access = platform::Access;
  using Err = platform::Err;
  using Handle = platform::Handle;
  using IoResult = platform::IoResult;
  using OpenResult = platform::OpenResult;
  using Share = platform::Share;
  using Size = std::size_t;
  using Offset = std::int64_t;

  explicit Wrapper(FakePlatform& fp) : fp_(fp), next_(platform::current()) {
    platform::install(*this);
  }
  ~Wrapper() override { platform::install(next_); }
  Wrapper(const Wrapper&) = delete;
  Wrapper& operator=(const Wrapper&) = delete;

  OpenResult open_existing(const char* n, Access a, Share s) override {
    return next_.open_existing(n, a, s);
  }
  OpenResult create_new(const char* n, Access a, Share s) override {
    return next_.create_new(n, a, s);
  }
  IoResult read(Handle h, void* b, Size n) override { return next_.read(h, b, n); }
  IoResult write(Handle h, const void* b, Size n) override { return next_.write(h, b, n); }
  Err seek(Handle h, Offset at) override { return next_.seek(h, at); }
  Err truncate_here(Handle h) override { return next_.truncate_here(h); }
  Err clone_range(Handle s, Offset at, Handle d, Offset to, Size n) override {
    return next_.clone_range(s, at, d, to, n);
  }
  Err close(Handle h) override { return next_.close(h); }
  Err remove(const char* name) override { return next_.remove(name); }
  bool exists(const char* name) override { return next_.exists(name); }
  bool identity(Handle h, platform::FileId* id) override { return next_.identity(h, id); }
  std::int64_t size(Handle h) override { return next_.size(h); }
  bool look_up(const char* name, platform::NameInfo* info) override {
    return next_.look_up(name, info);
  }
  const char* command_line() override { return next_.command_line(); }
  bool is_lead_byte(unsigned char b) override { return next_.is_lead_byte(b); }
  Handle std_handle(platform::StdStream s) override { return next_.std_handle(s); }
  bool is_terminal(Handle h) override { return next_.is_terminal(h); }
  const char* null_device() override { return next_.null_device(); }
  bool reserves_device_names() override { return next_.reserves_device_names(); }
  Size last_component(std::string_view p) override { return next_.last_component(p); }
  std::int64_t now_ms() override { return next_.now_ms(); }
  bool start_process() override { return next_.start_process(); }
  int pending_interrupt() override { return next_.pending_interrupt(); }
  void end_by_broken_pipe() override { next_.end_by_broken_pipe(); }
  // A platform's exit never returns.
  [[noreturn]] void exit_process(int status) override {
    next_.exit_process(status);
    std::abort();
  }
  [[noreturn]] void exit_by_signal(int signal) override {
    next_.exit_by_signal(signal);
    std::abort();
  }

 protected:
  Err fail(Err e) {
    if (e == Err::kInterrupted) fp_.interrupt = 2;
    return e;
  }
  FakePlatform& fp_;  // the fake behind every wrapper, for its state and its log

 private:
  platform::Platform& next_;  // installed before this one: takes every call, and is put back
};

// Once `left` more bytes have been written to files (not the standard handles), writes fail with
// err: the write that crosses the limit is short. The fake's log keeps the size asked for.
struct FileWritesFail : Wrapper {
  FileWritesFail(FakePlatform& fp, Size left, Err err) : Wrapper(fp), left(left), err(err) {}
  IoResult write(Handle h, const void* b, Size n) override {
    if (!fp_.open_for(h, Access::kWrite)) return Wrapper::write(h, b, n);
    IoResult r = Wrapper::write(h, b, std::min(n, left));
    left -= r.count;
    if (r.count < n) {
      fp_.write_calls.back().size = n;
      r.err = fail(err);
    }
    return r;
  }
  Size left;
  Err err;
};

// Reads of files (not standard input) fail with err once `before` more have been made.
struct FileReadsFail : Wrapper {
  FileReadsFail(FakePlatform& fp, int before, Err err) : Wrapper(fp), before(before), err(err) {}
  IoResult read(Handle h, void* b, Size n) override {
    if (!fp_.open_for(h, Access::kRead)) return Wrapper::read(h, b, n);
    if (before == 0) return {0, fail(err)};
    --before;
    return Wrapper::read(h, b, n);
  }
  int before;
  Err err;
};

// Errors by file name; "<stdout>" names standard output.
using Errors = std::map<std::string, platform::Err>;

// Opens, of an existing file or of a new one, of the names given fail with their errors.
struct OpenFails : Wrapper {
  OpenFails(FakePlatform& fp, Errors errors) : Wrapper(fp), errors(std::move(errors)) {}
  OpenResult open_existing(const char* n, Access a, Share s) override {
    auto it = errors.find(n);
    if (it != errors.end()) return {platform::kNoHandle, fail(it->second)};
    return Wrapper::open_existing(n, a, s);
  }
  OpenResult create_new(const char* n, Access a, Share s) override {
    auto it = errors.find(n);
    if (it != errors.end()) return {platform::kNoHandle, fail(it->second)};
    return Wrapper::create_new(n, a, s);
  }
  Errors errors;
};

// Closes of the names given fail with their errors; the handle is closed all the same.
struct CloseFails : Wrapper {
  CloseFails(FakePlatform& fp, Errors errors) : Wrapper(fp), errors(std::move(errors)) {}
  Err close(Handle h) override {
    auto it = errors.find(fp_.name_of(h));
    const Err e = Wrapper::close(h);
    return e == Err::kOk && it != errors.end() ? fail(it->second) : e;
  }
  Errors errors;
};

// The write to standard output made after `before` more fails with err and writes nothing; the
// writes after it go through.
struct StdoutWriteFails : Wrapper {
  StdoutWriteFails(FakePlatform& fp, int before, Err err) : Wrapper(fp), before(before), err(err) {}
  IoResult write(Handle h, const void* b, Size n) override {
    const bool out = h == fp_.std_handle(platform::StdStream::kOut);
    if (!out || before < 0 || before-- != 0) return Wrapper::write(h, b, n);
    fp_.write_calls.push_back({"<stdout>", n});
    return {0, fail(err)};
  }
  int before;
  Err err;
};

// A signal that arrives as the next read (standard input or a file) begins, after the run-time's
// last look at pending_interrupt: the read ends with kInterrupted, as the real platform's does,
// and the fake's interrupt takes the signal.
struct SignalAtRead : Wrapper {
  SignalAtRead(FakePlatform& fp, int signal) : Wrapper(fp), signal(signal) {}
  IoResult read(Handle h, void* b, Size n) override {
    if (signal == 0) return Wrapper::read(h, b, n);
    fp_.interrupt = std::exchange(signal, 0);
    return {0, Err::kInterrupted};
  }
  int signal;  // 0 once it has arrived
};

// Clones of file ranges are refused (kInvalid, as where the file system does not clone) once
// `before` more have been made.
struct ClonesRefused : Wrapper {
  ClonesRefused(FakePlatform& fp, int before) : Wrapper(fp), before(before) {}
  Err clone_range(Handle s, Offset at, Handle d, Offset to, Size n) override {
    ++calls;
    if (before == 0) return Err::kInvalid;
    --before;
    return Wrapper::clone_range(s, at, d, to, n);
  }
  int before;
  int calls = 0;  // every clone asked for, the refused included
};

// A fault as a table of cases holds it: makes a T in front of the fake with these arguments.
using Fault = std::function<std::unique_ptr<Wrapper>(FakePlatform&)>;
template <class T, class... A>
Fault fault(A... args) {
  return [=](FakePlatform& fp) { return std::make_unique<T>(fp, args...); };
}

}  // namespace fake
