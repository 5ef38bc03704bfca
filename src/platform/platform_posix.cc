// The platform on a POSIX system: file descriptors for handles, 64-bit offsets, errno mapped
// onto `Err`, and interrupt signals that only record their number.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/platform.h"

namespace platform {
namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void record_signal(int sig) {
  g_signal = sig;
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
    case EISDIR:
      return Err::kInvalid;
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

class PosixPlatform final : public Platform {
 public:
  OpenResult open_existing(const char* name, Access access, Share) override {
    int fd = ::open(name, access_flags(access) | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {kNoHandle, from_errno(errno)};
    return {fd, Err::kOk};
  }

  OpenResult create_new(const char* name, Access access, Share) override {
    int fd = ::open(name, access_flags(access) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) return {fd, Err::kOk};
    int e = errno;
    return {kNoHandle, e == ELOOP ? Err::kExists : from_errno(e)};
  }

  IoResult read(Handle h, void* buf, std::size_t n) override {
    arm();
    for (;;) {
      ssize_t got = ::read(h, buf, n);
      if (got >= 0) return {static_cast<std::size_t>(got), Err::kOk};
      int e = errno;
      if (e != EINTR) return {0, from_errno(e)};
      if (g_signal != 0) return {0, Err::kInterrupted};
    }
  }

  IoResult write(Handle h, const void* buf, std::size_t n) override {
    arm();
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

  Err seek(Handle h, std::int64_t offset) override {
    if (::lseek(h, static_cast<off_t>(offset), SEEK_SET) < 0) return from_errno(errno);
    return Err::kOk;
  }

  Err truncate_here(Handle h) override {
    off_t at = ::lseek(h, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(h, at) != 0) return from_errno(errno);
    return Err::kOk;
  }

  // Linux releases the descriptor even when close reports a failure, so it is never retried.
  Err close(Handle h) override {
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

  const char* command_line() override { return nullptr; }
  bool is_lead_byte(unsigned char) override { return false; }
  Handle std_handle(StdStream s) override { return static_cast<Handle>(s); }
  bool is_terminal(Handle h) override { return ::isatty(h) == 1; }
  const char* null_device() override { return "/dev/null"; }
  bool reserves_device_names() override { return false; }
  std::size_t last_component(std::string_view path) override {
    return path.find_last_of('/') + 1;  // npos + 1 is 0: no folder
  }

  std::int64_t now_ms() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  bool start_process() override {
    for (int fd = 0; fd <= 2; ++fd) {
      if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
      // The lowest free descriptor is fd itself, the ones below it being open.
      int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (got != fd) return false;
    }
    arm();
    return true;
  }

  int pending_interrupt() override {
    arm();
    return g_signal;
  }

  [[noreturn]] void exit_process(int status) override { ::_exit(status); }

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
  // start (a background job) stays ignored.
  void arm() {
    if (armed_) return;
    armed_ = true;
    struct sigaction sa = {};
    sa.sa_handler = record_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    for (int sig : kInterruptSignals) {
      if (!ignored_at_start(sig)) ::sigaction(sig, &sa, nullptr);
    }
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
      if (!ignored_at_start(sig)) ::sigaction(sig, &sa, nullptr);
    }
    sa.sa_handler = SIG_IGN;
    for (int sig : kWriteFailureSignals) ::sigaction(sig, &sa, nullptr);
  }

  bool armed_ = false;
};

}  // namespace

Platform& native() {
  static PosixPlatform posix;
  return posix;
}

}  // namespace platform
