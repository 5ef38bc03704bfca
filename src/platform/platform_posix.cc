// The platform on a POSIX system: file descriptors for handles, 64-bit offsets, errno mapped
// onto `Err`, and interrupt signals that only record their number.
//
// An interrupt must end a read or write that waits, also one that arrives just after the
// run-time's last check and before the call starts to wait. So from start_process on the
// interrupt signals stay blocked, and are let in only where the process may wait: a read or
// write on a handle that can wait (a pipe, FIFO, socket or device; never a regular file) first
// waits for readiness in ppoll with them let in, so one that arrived earlier is delivered as
// the wait begins and ends it. CPU-bound work and regular-file transfers run with them blocked;
// pending_interrupt then finds a signal that came meanwhile in the pending set.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>
#endif
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/platform.h"

namespace platform {
namespace {

volatile std::sig_atomic_t g_signal = 0;
// Set by every interrupt, cleared when pending_interrupt reports: an interrupt the run-time has
// not been told of yet. Such a one ends a read or write instead of letting it wait; one already
// told of does not, so the writes of the final flush still wait for a slow reader.
volatile std::sig_atomic_t g_unseen = 0;

extern "C" void record_signal(int sig) {
  g_signal = sig;
  g_unseen = 1;
}

// Signals whose default action ends the process. The program-fault signals (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGTRAP, SIGABRT, SIGSYS) are left alone: after a fault nothing can be
// trusted to flush, and a handler that only returns would meet the fault again forever.
constexpr int kInterruptSignals[] = {
    SIGHUP,    SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,
    SIGALRM,   SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};
// Ignored, so that the write fails and is reported (EPIPE, EFBIG) with every accepted byte kept.
constexpr int kWriteFailureSignals[] = {SIGPIPE, SIGXFSZ};

bool ignored_at_start(int sig) {
  struct sigaction old = {};
  return ::sigaction(sig, nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) &&
         old.sa_handler == SIG_IGN;
}

Err from_errno(int e) {
  switch (e) {
    case ENOENT:
      return Err::kNotFound;
    case EINTR:
      return Err::kInterrupted;
    case EEXIST:
      return Err::kExists;
    case EACCES:
    case EPERM:
    case EROFS:
      return Err::kAccessDenied;
    case EMFILE:
    case ENFILE:
      return Err::kTooManyFiles;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Err::kDiskFull;
    case EINVAL:
    case ENAMETOOLONG:
    case ENOTDIR:
      return Err::kInvalid;
    case EISDIR:
      return Err::kIsFolder;
    default:
      return Err::kIo;
  }
}

int access_flags(Access access) {
  switch (access) {
    case Access::kRead:
      return O_RDONLY;
    case Access::kWrite:
      return O_WRONLY;
    case Access::kReadWrite:
      return O_RDWR;
  }
  return O_RDONLY;
}

// What a handle is, learnt once per handle: whether a transfer on it can wait for another
// party, and for one that can, the directions it was opened for (a wait for readiness in a
// direction the handle lacks would never end).
struct HandleInfo {
  enum Kind : unsigned char {
    kUnknown,
    kFile,    // regular file, block device, directory: a transfer never waits for anyone
    kPipe,    // pipe, FIFO (after POLLOUT it takes PIPE_BUF bytes without waiting), socket
    kDevice,  // character device (a terminal): no such bound is known
  };
  Kind kind = kUnknown;
  bool readable = false;
  bool writable = false;
};

// flags: the open's flags, or -1 when unknown (a standard handle).
HandleInfo learn(int fd, int flags) {
  HandleInfo info;
  struct stat st;
  if (::fstat(fd, &st) != 0) return info;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    info.kind = HandleInfo::kPipe;
  } else if (S_ISCHR(st.st_mode)) {
    info.kind = HandleInfo::kDevice;
  } else {
    info.kind = HandleInfo::kFile;
    return info;
  }
  if (flags < 0) flags = ::fcntl(fd, F_GETFL);
  const int mode = flags < 0 ? O_RDWR : flags & O_ACCMODE;
  info.readable = mode != O_WRONLY;
  info.writable = mode != O_RDONLY;
  return info;
}

class PosixPlatform final : public Platform {
 public:
  // An open of a FIFO waits for the other end, so it runs with the interrupts let in.
  OpenResult open_existing(const char* name, Access access, Share) override {
    const int flags = access_flags(access) | O_CLOEXEC | O_NOCTTY;
    for (;;) {
      int e = 0;
      int fd = let_in_for([&] { return ::open(name, flags); }, &e);
      if (fd >= 0) {
        // A folder opens for reading, but no read would take a byte from it.
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
          ::close(fd);
          return {kNoHandle, Err::kIsFolder};
        }
        remember(fd, learn(fd, flags));
        return {fd, Err::kOk};
      }
      if (e != EINTR) return {kNoHandle, from_errno(e)};
      if (g_unseen != 0) return {kNoHandle, Err::kInterrupted};
    }
  }

  // A new file is a regular file: it never waits, and it needs no look at what it is.
  OpenResult create_new(const char* name, Access access, Share) override {
    int fd = ::open(name, access_flags(access) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      remember(fd, {HandleInfo::kFile, false, false});
      return {fd, Err::kOk};
    }
    int e = errno;
    return {kNoHandle, e == ELOOP ? Err::kExists : from_errno(e)};
  }

  IoResult read(Handle h, void* buf, std::size_t n) override {
    arm();
    const HandleInfo info = info_of(h);
    if (info.kind == HandleInfo::kFile || !info.readable || n == 0) return read_now(h, buf, n);
    // After POLLIN the read returns what is there without waiting.
    for (;;) {
      if (g_unseen != 0) return {0, Err::kInterrupted};
      int e = wait_ready(h, POLLIN);
      if (e == 0) {
        ssize_t got = let_in_for([&] { return ::read(h, buf, n); }, &e);
        if (got >= 0) return {static_cast<std::size_t>(got), Err::kOk};
      }
      // EINTR: an interrupt (seen above) or another signal (wait again). EAGAIN: a handle
      // made non-blocking by someone else, whose data another reader took.
      if (e != EINTR && e != EAGAIN) return {0, from_errno(e)};
    }
  }

  IoResult write(Handle h, const void* buf, std::size_t n) override {
    arm();
    const HandleInfo info = info_of(h);
    if (info.kind == HandleInfo::kFile || !info.writable) return write_now(h, buf, n);
    // A pipe takes at most PIPE_BUF bytes per wait: more could leave the write waiting part-way
    // for the rest after the readiness was seen. A device has no such bound; see let_in_for.
    const std::size_t most = info.kind == HandleInfo::kPipe ? PIPE_BUF : n;
    const char* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < n) {
      if (g_unseen != 0) return {done, Err::kInterrupted};
      int e = wait_ready(h, POLLOUT);
      if (e == 0) {
        const std::size_t take = n - done < most ? n - done : most;
        ssize_t put = let_in_for([&] { return ::write(h, p + done, take); }, &e);
        if (put > 0) {
          done += static_cast<std::size_t>(put);
          continue;
        }
        // A write that moves nothing without an error cannot make progress.
        if (put == 0) return {done, Err::kIo};
      }
      if (e == EPIPE && broken_pipe_ends_) {
        g_signal = SIGPIPE;
        g_unseen = 1;
        return {done, Err::kInterrupted};
      }
      if (e != EINTR && e != EAGAIN) return {done, from_errno(e)};
    }
    return {done, Err::kOk};
  }

  Err seek(Handle h, std::int64_t offset) override {
    if (::lseek(h, static_cast<off_t>(offset), SEEK_SET) < 0) return from_errno(errno);
    return Err::kOk;
  }

  Err clone_range(Handle src, std::int64_t src_offset, Handle dst, std::int64_t dst_offset,
                  std::size_t length) override {
#ifdef FICLONERANGE
    file_clone_range range{};
    range.src_fd = src;
    range.src_offset = static_cast<__u64>(src_offset);
    range.src_length = length;
    range.dest_offset = static_cast<__u64>(dst_offset);
    if (::ioctl(static_cast<int>(dst), FICLONERANGE, &range) == 0) return Err::kOk;
    switch (errno) {
      // The file system, the pair of files or the range cannot be cloned.
      case EOPNOTSUPP:
      case ENOSYS:
      case ENOTTY:
      case EXDEV:
      case EINVAL:
      case ETXTBSY:
      case EBADF:
      case EPERM:
      case EISDIR:
        return Err::kInvalid;
      default:
        return from_errno(errno);
    }
#else
    return Platform::clone_range(src, src_offset, dst, dst_offset, length);
#endif
  }

  Err truncate_here(Handle h) override {
    off_t at = ::lseek(h, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(h, at) != 0) return from_errno(errno);
    return Err::kOk;
  }

  // Linux releases the descriptor even when close reports a failure, so it is never retried.
  Err close(Handle h) override {
    remember(h, {});
    if (::close(h) == 0) return Err::kOk;
    return errno == EINTR ? Err::kInterrupted : from_errno(errno);
  }

  Err remove(const char* name) override {
    return ::unlink(name) == 0 ? Err::kOk : from_errno(errno);
  }

  // A dangling symbolic link still takes the name, so it counts.
  bool exists(const char* name) override {
    struct stat st;
    return ::lstat(name, &st) == 0;
  }

  bool identity(Handle h, FileId* id) override {
    struct stat st;
    if (::fstat(h, &st) != 0) return false;
    *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
  }

  std::int64_t size(Handle h) override {
    struct stat st;
    return ::fstat(h, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
  }

  bool look_up(const char* name, NameInfo* info) override {
    struct stat st;
    if (::stat(name, &st) != 0) return false;
    info->stream = S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
    info->id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
  }

  const char* command_line() override {
    return nullptr;
  }
  bool is_lead_byte(unsigned char) override {
    return false;
  }
  Handle std_handle(StdStream s) override {
    return static_cast<Handle>(s);
  }
  bool is_terminal(Handle h) override {
    return ::isatty(h) == 1;
  }
  const char* null_device() override {
    return "/dev/null";
  }
  bool reserves_device_names() override {
    return false;
  }
  std::size_t last_component(std::string_view path) override {
    return path.find_last_of('/') + 1;  // npos + 1 is 0: no folder
  }

  std::int64_t now_ms() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  // The interrupts are blocked from here to the end of the process, except inside the waits.
  // The tool starts no other program, so no child inherits that mask.
  bool start_process() override {
    for (int fd = 0; fd <= 2; ++fd) {
      if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
      // The lowest free descriptor is fd itself, the ones below it being open.
      int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (got != fd) return false;
    }
    arm();
    if (!masked_) {
      if (::sigprocmask(SIG_BLOCK, &caught_, &wait_mask_) != 0) return false;
      for (int i = 0; i < caught_count_; ++i) sigdelset(&wait_mask_, caught_list_[i]);
      masked_ = true;
    }
    return true;
  }

  // One system call when nothing came: a signal blocked meanwhile waits in the pending set,
  // and is let in here for its handler to record it.
  int pending_interrupt() override {
    arm();
    if (masked_) {
      sigset_t pending;
      if (::sigpending(&pending) == 0 && any_caught(pending)) {
        let_in();
        keep_out();
      }
    }
    g_unseen = 0;
    return g_signal;
  }

  void end_by_broken_pipe() override {
    arm();
    broken_pipe_ends_ = !pipe_ignored_at_start_;
  }

  [[noreturn]] void exit_process(int status) override {
    ::_exit(status);
  }

  [[noreturn]] void exit_by_signal(int signal) override {
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(signal, &sa, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
  }

 private:
  // The handlers go in at start, or at the first read, write or interrupt test, so a process
  // that only links this layer keeps the default actions. Without SA_RESTART a read or write
  // waiting for a pipe or the console returns when the signal arrives. A signal ignored at
  // start (a background job) stays ignored. Only start_process blocks them.
  void arm() {
    if (armed_) return;
    armed_ = true;
    struct sigaction sa = {};
    sa.sa_handler = record_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigemptyset(&caught_);
    auto catch_signal = [&](int sig) {
      if (ignored_at_start(sig) || ::sigaction(sig, &sa, nullptr) != 0) return;
      sigaddset(&caught_, sig);
      if (caught_count_ < kMaxCaught) caught_list_[caught_count_++] = sig;
    };
    for (int sig : kInterruptSignals) catch_signal(sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) catch_signal(sig);
    sa.sa_handler = SIG_IGN;
    pipe_ignored_at_start_ = ignored_at_start(SIGPIPE);
    for (int sig : kWriteFailureSignals) ::sigaction(sig, &sa, nullptr);
  }

  void let_in() {
    if (masked_) ::sigprocmask(SIG_UNBLOCK, &caught_, nullptr);
  }
  void keep_out() {
    if (masked_) ::sigprocmask(SIG_BLOCK, &caught_, nullptr);
  }

  bool any_caught(const sigset_t& set) const {
    for (int i = 0; i < caught_count_; ++i) {
      if (sigismember(&set, caught_list_[i]) == 1) return true;
    }
    return false;
  }

  // Waits until the handle is ready for `events`. ppoll lets the interrupts in for the wait
  // only, in one step with it, so one that came before the call ends the wait as it begins.
  // Returns 0, or the errno of the failure (EINTR for a signal).
  int wait_ready(Handle h, short events) {
    pollfd p = {static_cast<int>(h), events, 0};
    return ::ppoll(&p, 1, nullptr, masked_ ? &wait_mask_ : nullptr) < 0 ? errno : 0;
  }

  // Makes a transfer after its readiness was seen, or an open that may wait, with the
  // interrupts let in, so that a wait it falls into after all ends at the next signal: a pipe
  // that another process also reads or writes, a terminal whose output is stopped or a
  // pseudo-terminal nobody reads (either can take part of a write and wait for room for the
  // rest), a FIFO's open waiting for the other end. A signal pending, or delivered as they are
  // let in, stops the call from being made (EINTR). What remains: a signal that lands between
  // that last test and the call's start, when the call then waits, is only seen once the wait
  // ends for another reason (data, room, the other end, another signal). For a pipe used by
  // this process alone that cannot happen, as the transfer after readiness does not wait.
  // Returns the call's result, with *err its errno when it failed.
  template <class Call>
  auto let_in_for(Call call, int* err) -> decltype(call()) {
    let_in();
    decltype(call()) r = -1;
    *err = EINTR;
    if (g_unseen == 0) {
      r = call();
      if (r < 0) *err = errno;
    }
    keep_out();
    return r;
  }

  // A transfer that never waits, straight through: on a regular file, or on a handle not
  // opened for that direction (it fails at once).
  IoResult read_now(Handle h, void* buf, std::size_t n) {
    for (;;) {
      ssize_t got = ::read(h, buf, n);
      if (got >= 0) return {static_cast<std::size_t>(got), Err::kOk};
      int e = errno;
      if (e != EINTR) return {0, from_errno(e)};
      if (g_signal != 0) return {0, Err::kInterrupted};
    }
  }

  IoResult write_now(Handle h, const void* buf, std::size_t n) {
    const char* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < n) {
      ssize_t put = ::write(h, p + done, n - done);
      if (put > 0) {
        done += static_cast<std::size_t>(put);
        continue;
      }
      if (put < 0 && errno == EINTR) {
        if (g_signal == 0) continue;
        return {done, Err::kInterrupted};
      }
      // A write that moves nothing without an error cannot make progress.
      return {done, put < 0 ? from_errno(errno) : Err::kIo};
    }
    return {done, Err::kOk};
  }

  // Handles are learnt once: at their open, a standard handle at its first transfer. The table
  // is part of the object, so no transfer ever needs memory; a descriptor beyond it (the tool
  // never has that many open) is looked at on every call.
  static constexpr Handle kRemembered = 1024;
  HandleInfo info_of(Handle h) {
    if (h >= 0 && h < kRemembered && handles_[h].kind != HandleInfo::kUnknown) return handles_[h];
    HandleInfo info = learn(static_cast<int>(h), -1);
    remember(h, info);
    return info;
  }
  void remember(Handle h, HandleInfo info) {
    if (h >= 0 && h < kRemembered) handles_[h] = info;
  }

  static constexpr int kMaxCaught = 64;
  bool armed_ = false;
  bool masked_ = false;  // start_process blocked the interrupts
  bool pipe_ignored_at_start_ = false;
  bool broken_pipe_ends_ = false;  // see end_by_broken_pipe
  sigset_t caught_;                // the signals given record_signal
  sigset_t wait_mask_;             // the mask inside waits: the one at start without caught_
  int caught_list_[kMaxCaught] = {};
  int caught_count_ = 0;
  HandleInfo handles_[kRemembered];  // by descriptor
};

}  // namespace

Platform& native() {
  static PosixPlatform posix;
  return posix;
}

}  // namespace platform
