// End-to-end runs of the real binary under the faults a user's machine produces: a full file
// system, a file size limit, closed standard descriptors, a console pipe closed by its reader,
// signals while a read or a console write waits, and interrupts at random moments of a large
// copy. Each checks the exit status or the signal, the report, and that the output file is an
// exact prefix of the input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "run_binary.h"

namespace {

using e2e::TempDir;

const std::string kBin = CHUNKIT_BIN;

// Records of type 1 whose bytes tell record and position apart.
std::string records(int n) {
  std::string data(static_cast<std::size_t>(n) * 4096, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>((i * 3 + i / 4096 * 7) & 0x7F);
  }
  for (std::size_t r = 0; r < data.size(); r += 4096) data[r] = 0x01;
  return data;
}

std::string read_path(const std::string& path) {
  std::string data;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return data;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
    data.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return data;
}

int bytes_waiting(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

bool is_prefix(const std::string& out, const std::string& in) {
  return out.size() <= in.size() && in.compare(0, out.size(), out) == 0;
}

struct Ended {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
};

Ended wait_for(pid_t pid) {
  int ws = 0;
  while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(ws)) return {WEXITSTATUS(ws), 0};
  return {-1, WIFSIGNALED(ws) ? WTERMSIG(ws) : 0};
}

// Starts the tool in dir with "in.dat out.dat 0 0 0 0" and the given descriptors for its
// standard handles (-1: closed). `prepare` runs in the child just before exec.
pid_t spawn(const std::string& dir, int in, int out, int err,
            const std::function<void()>& prepare = {},
            std::vector<std::string> args = {"in.dat", "out.dat", "0", "0", "0", "0"}) {
  args.insert(args.begin(), kBin);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  // Standard handles first, by moving every given descriptor above 2.
  int fds[3] = {in, out, err};
  for (int& fd : fds) {
    if (fd >= 0) fd = fcntl(fd, F_DUPFD, 10);
  }
  for (int i = 0; i < 3; ++i) {
    if (fds[i] >= 0) {
      dup2(fds[i], i);
    } else {
      close(i);
    }
  }
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  // The tool starts with the default actions (the test runner may ignore some), no core files.
  for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  if (prepare) prepare();
  if (chdir(dir.c_str()) != 0) _exit(126);
  execv(argv[0], argv.data());
  _exit(127);
}

int open_file(const std::string& path, int flags) {
  return open(path.c_str(), flags | O_CLOEXEC, 0644);
}

TEST(FaultsEndToEnd, FullFileSystem) {
  if (e2e::under_wine()) GTEST_SKIP() << "the tool runs as a POSIX child in a mounted tmpfs";
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  TempDir dir;
  const std::string mnt = dir.file("mnt");
  ASSERT_EQ(mkdir(mnt.c_str(), 0700), 0);
  if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "mounting a tmpfs failed: " << std::strerror(errno);
  }
  // 625 records need a third block, written at the close; 1100 records need it during the copy.
  struct Case {
    int records;
    const char* report;
  } cases[] = {{625, "F6422: CLOSE(mnt/out.dat)"}, {1100, "F6422: WRITE(mnt/out.dat)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records);
    const std::string in = records(c.records);
    dir.write("in.dat", in);
    int err = open_file(dir.file("err.txt"), O_WRONLY | O_CREAT | O_TRUNC);
    int null = open_file("/dev/null", O_RDWR);
    Ended e = wait_for(
        spawn(dir.path(), null, null, err, {}, {"in.dat", "mnt/out.dat", "0", "0", "0", "0"}));
    close(err);
    close(null);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(dir.read("err.txt").find("\r\nrun-time error " + std::string(c.report) +
                                       "\r\n- write failed: no space left"),
              0u)
        << dir.read("err.txt");
    const std::string out = dir.read("mnt/out.dat");
    EXPECT_GT(out.size(), 0u);
    EXPECT_LT(out.size(), in.size());
    EXPECT_TRUE(is_prefix(out, in));
    unlink(dir.file("mnt/out.dat").c_str());
  }
  EXPECT_EQ(umount(mnt.c_str()), 0);
}

TEST(FaultsEndToEnd, FileSizeLimit) {
  if (e2e::under_wine()) GTEST_SKIP() << "a file size limit is a POSIX resource limit";
  TempDir dir;
  const std::string in = records(512);  // 2 MiB
  dir.write("in.dat", in);
  constexpr rlim_t kLimit = (1 << 20) + 1000;
  int err = open_file(dir.file("err.txt"), O_WRONLY | O_CREAT | O_TRUNC);
  int null = open_file("/dev/null", O_RDWR);
  Ended e = wait_for(spawn(dir.path(), null, null, err, [] {
    rlimit limit = {kLimit, kLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }));
  close(err);
  close(null);
  EXPECT_EQ(e.status, 1);
  EXPECT_EQ(e.signal, 0);
  EXPECT_EQ(dir.read("err.txt").find("\r\nrun-time error F6422: "), 0u) << dir.read("err.txt");
  const std::string out = dir.read("out.dat");
  EXPECT_EQ(out.size(), kLimit);
  EXPECT_TRUE(is_prefix(out, in));
}

// Closed standard descriptors are opened on the null device before anything else, so neither
// the console text nor a report can land in the output file.
TEST(FaultsEndToEnd, ClosedStandardDescriptors) {
  if (e2e::under_wine()) GTEST_SKIP() << "closed standard descriptors are a POSIX matter";
  TempDir dir;
  const std::string in = records(10);
  dir.write("in.dat", in);
  struct Case {
    bool in, out, err;  // open?
    const char* extra;  // a further argument; "sx" makes the run end with a report
    int status;
  } cases[] = {
      {false, false, true, nullptr, 0},  {false, true, false, "sx", 1},
      {false, false, false, nullptr, 0}, {false, false, false, "sx", 1},
      {true, false, true, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.in) + std::to_string(c.out) + std::to_string(c.err) +
                 (c.extra ? c.extra : ""));
    unlink(dir.file("out.dat").c_str());
    std::vector<std::string> args = {"in.dat", "out.dat", "0", "0", "0", "0"};
    if (c.extra) args.push_back(c.extra);
    int null = open_file("/dev/null", O_RDWR);
    Ended e = wait_for(
        spawn(dir.path(), c.in ? null : -1, c.out ? null : -1, c.err ? null : -1, {}, args));
    close(null);
    EXPECT_EQ(e.status, c.status);
    const std::string out = dir.read("out.dat");
    if (c.status == 0) {
      EXPECT_EQ(out.size(), in.size());
    }
    EXPECT_TRUE(is_prefix(out, in));
  }
}

// The reader of the console pipe is gone: the console write fails and is reported, the run
// ends with status 1, and every record copied before is in the output.
TEST(FaultsEndToEnd, ConsolePipeClosedByItsReader) {
  if (e2e::under_wine())
    GTEST_SKIP() << "a reader closing the console pipe is a POSIX signal matter (SIGPIPE)";
  TempDir dir;
  const std::string in = records(3000);  // 190 KiB of console text: flushed during the copy
  dir.write("in.dat", in);
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  close(p[0]);
  int err = open_file(dir.file("err.txt"), O_WRONLY | O_CREAT | O_TRUNC);
  Ended e = wait_for(spawn(dir.path(), -1, p[1], err));
  close(p[1]);
  close(err);
  EXPECT_EQ(e.status, 1);
  EXPECT_EQ(e.signal, 0);
  EXPECT_EQ(dir.read("err.txt").find("\r\nrun-time error F6421: WRITE(CON)\r\n- "), 0u)
      << dir.read("err.txt");
  const std::string out = dir.read("out.dat");
  EXPECT_EQ(out.size() % 4096, 0u);
  EXPECT_LT(out.size(), in.size());
  EXPECT_TRUE(is_prefix(out, in));
}

// Waits until the process sleeps in the kernel (a read or write that waits), at most 5 s.
void wait_until_blocked(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    std::string stat = read_path("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close_paren = stat.rfind(')');
    if (close_paren != std::string::npos && close_paren + 2 < stat.size() &&
        stat[close_paren + 2] == 'S') {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// An interrupt while the console write waits for a reader that never reads: death by the
// signal, no report, every record before it in the output.
TEST(FaultsEndToEnd, InterruptWhileAConsoleWriteWaits) {
  if (e2e::under_wine())
    GTEST_SKIP() << "Wine cannot send a console Ctrl-C to a program whose console is a pipe";
  TempDir dir;
  const std::string in = records(3000);
  dir.write("in.dat", in);
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  int err = open_file(dir.file("err.txt"), O_WRONLY | O_CREAT | O_TRUNC);
  pid_t pid = spawn(dir.path(), -1, p[1], err);
  // A full pipe: the tool's next console write waits.
  for (int i = 0; i < 500 && bytes_waiting(p[0]) < 65536; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  wait_until_blocked(pid);
  kill(pid, SIGINT);
  Ended e = wait_for(pid);
  close(p[0]);
  close(p[1]);
  close(err);
  EXPECT_EQ(e.signal, SIGINT);
  EXPECT_EQ(dir.read("err.txt"), "");
  const std::string out = dir.read("out.dat");
  EXPECT_EQ(out.size() % 4096, 0u);
  EXPECT_GT(out.size(), 0u);
  EXPECT_LT(out.size(), in.size());
  EXPECT_TRUE(is_prefix(out, in));
}

// Every signal whose default action ends the process, arriving while the input read waits:
// death by that signal, the records read before it in the output, no parity message. A signal
// ignored at start stays ignored, and the copy runs to its end.
TEST(FaultsEndToEnd, SignalsWhileAReadWaits) {
  if (e2e::under_wine())
    GTEST_SKIP() << "Windows has no signals; Wine cannot send a console Ctrl-C here";
  const int signals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1,  SIGUSR2,
                         SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGRTMIN, SIGRTMAX};
  const std::string three = records(3);
  for (int sig : signals) {
    for (bool ignored : {false, true}) {
      if (ignored && sig != SIGINT && sig != SIGQUIT) continue;
      SCOPED_TRACE(std::string(strsignal(sig)) + (ignored ? " (ignored at start)" : ""));
      TempDir dir;
      ASSERT_EQ(mkfifo(dir.file("in.dat").c_str(), 0600), 0);
      // Opened for reading and writing, the FIFO neither blocks this open nor the tool's.
      int fifo = open_file(dir.file("in.dat"), O_RDWR);
      ASSERT_EQ(write(fifo, three.data(), three.size()), static_cast<ssize_t>(three.size()));
      int out = open_file(dir.file("console.txt"), O_WRONLY | O_CREAT | O_TRUNC);
      int err = open_file(dir.file("err.txt"), O_WRONLY | O_CREAT | O_TRUNC);
      pid_t pid = spawn(dir.path(), -1, out, err, [sig, ignored] {
        if (ignored) signal(sig, SIG_IGN);
      });
      // The tool has read everything the FIFO holds and waits for more.
      for (int i = 0; i < 500 && bytes_waiting(fifo) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      wait_until_blocked(pid);
      kill(pid, sig);
      if (ignored) {
        // The signal changed nothing; the end of the data then ends the copy normally.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(fifo);
      }
      Ended e = wait_for(pid);
      if (!ignored) close(fifo);
      EXPECT_EQ(e.signal, ignored ? 0 : sig);
      EXPECT_EQ(e.status, ignored ? 0 : -1);
      EXPECT_EQ(dir.read("out.dat"), three);
      close(out);
      close(err);
      EXPECT_EQ(dir.read("console.txt").find("parity"), std::string::npos);
      EXPECT_EQ(dir.read("err.txt"), "");
    }
  }
}

// At least 20 interrupts at random moments of a large copy: each ends the run by the signal,
// and the output is an exact prefix of the input.
TEST(FaultsEndToEnd, InterruptsAtRandomMoments) {
  if (e2e::under_wine())
    GTEST_SKIP() << "Windows has no signals; Wine cannot send a console Ctrl-C here";
  TempDir dir;
  const std::string in = records(8192);  // 32 MiB
  dir.write("in.dat", in);
  auto run_once = [&](std::chrono::microseconds delay, bool interrupt) {
    unlink(dir.file("out.dat").c_str());
    int null = open_file("/dev/null", O_RDWR);
    int err = open_file(dir.file("err.txt"), O_WRONLY | O_CREAT | O_TRUNC);
    pid_t pid = spawn(dir.path(), null, null, err);
    if (interrupt) {
      std::this_thread::sleep_for(delay);
      kill(pid, SIGINT);
    }
    Ended e = wait_for(pid);
    close(null);
    close(err);
    return e;
  };
  // How long a whole copy takes here decides the range of the moments.
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(run_once({}, false).status, 0);
  auto whole =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
  ASSERT_EQ(dir.read("out.dat"), in);
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<long> moment(0, whole.count() * 9 / 10);
  int interrupted = 0;
  for (int attempt = 0; attempt < 60 && interrupted < 20; ++attempt) {
    Ended e = run_once(std::chrono::microseconds(moment(rng)), true);
    const std::string out = dir.read("out.dat");
    EXPECT_TRUE(is_prefix(out, in)) << "attempt " << attempt << ": " << out.size() << " bytes";
    if (e.status == 0) {
      EXPECT_EQ(out.size(), in.size());  // finished before the signal came
      continue;
    }
    EXPECT_EQ(e.signal, SIGINT) << "attempt " << attempt;
    EXPECT_EQ(dir.read("err.txt"), "");
    ++interrupted;
  }
  EXPECT_GE(interrupted, 20);
}

}  // namespace
