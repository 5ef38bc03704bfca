// End-to-end runs of the real binary under the faults a user's machine produces: a full file
// system, a file size limit, closed standard descriptors, a console pipe closed by its reader,
// signals while a read or a console write waits, and interrupts at random moments of a large
// copy. Each checks the exit status or the signal, the report, and that the output file is an
// exact prefix of the input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "run_binary.h"

namespace {

using e2e::kClosed;
using e2e::kNull;
using e2e::kWholeCopy;
using e2e::Result;
using e2e::TempDir;

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
    const std::string in = e2e::type1_records(c.records);
    dir.write("in.dat", in);
    Result e = e2e::wait_for(e2e::spawn(dir.path(), {"in.dat", "mnt/out.dat", "0", "0", "0", "0"},
                                        kNull, kNull, "err.txt"));
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(dir.read("err.txt").find("\r\nrun-time error " + std::string(c.report) +
                                       "\r\n- write failed: no space left"),
              0u)
        << dir.read("err.txt");
    const std::string out = dir.read("mnt/out.dat");
    EXPECT_GT(out.size(), 0u);
    EXPECT_LT(out.size(), in.size());
    EXPECT_TRUE(in.starts_with(out));
    unlink(dir.file("mnt/out.dat").c_str());
  }
  EXPECT_EQ(umount(mnt.c_str()), 0);
}

TEST(FaultsEndToEnd, FileSizeLimit) {
  if (e2e::under_wine()) GTEST_SKIP() << "a file size limit is a POSIX resource limit";
  TempDir dir;
  const std::string in = e2e::type1_records(512);  // 2 MiB
  dir.write("in.dat", in);
  constexpr rlim_t kLimit = (1 << 20) + 1000;
  Result e = e2e::wait_for(e2e::spawn(dir.path(), kWholeCopy, kNull, kNull, "err.txt", [] {
    rlimit limit = {kLimit, kLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }));
  EXPECT_EQ(e.status, 1);
  EXPECT_EQ(e.signal, 0);
  EXPECT_EQ(dir.read("err.txt").find("\r\nrun-time error F6422: "), 0u) << dir.read("err.txt");
  const std::string out = dir.read("out.dat");
  EXPECT_EQ(out.size(), kLimit);
  EXPECT_TRUE(in.starts_with(out));
}

// Closed standard descriptors are opened on the null device before anything else, so neither
// the console text nor a report can land in the output file.
TEST(FaultsEndToEnd, ClosedStandardDescriptors) {
  if (e2e::under_wine()) GTEST_SKIP() << "closed standard descriptors are a POSIX matter";
  TempDir dir;
  const std::string in = e2e::type1_records(10);
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
    std::vector<std::string> args = kWholeCopy;
    if (c.extra) args.push_back(c.extra);
    Result e = e2e::wait_for(e2e::spawn(dir.path(), args, c.in ? kNull : kClosed,
                                        c.out ? kNull : kClosed, c.err ? kNull : kClosed));
    EXPECT_EQ(e.status, c.status);
    const std::string out = dir.read("out.dat");
    if (c.status == 0) {
      EXPECT_EQ(out.size(), in.size());
    }
    EXPECT_TRUE(in.starts_with(out));
  }
}

// The reader of the console pipe is gone: the console write fails and is reported, the run
// ends with status 1, and every record copied before is in the output.
TEST(FaultsEndToEnd, ConsolePipeClosedByItsReader) {
  if (e2e::under_wine())
    GTEST_SKIP() << "a reader closing the console pipe is a POSIX signal matter (SIGPIPE)";
  TempDir dir;
  const std::string in =
      e2e::type1_records(3000);  // 190 KiB of console text: flushed during the copy
  dir.write("in.dat", in);
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  close(p[0]);
  Result e = e2e::wait_for(e2e::spawn(dir.path(), kWholeCopy, kClosed, p[1], "err.txt"));
  close(p[1]);
  EXPECT_EQ(e.status, 1);
  EXPECT_EQ(e.signal, 0);
  EXPECT_EQ(dir.read("err.txt").find("\r\nrun-time error F6421: WRITE(CON)\r\n- "), 0u)
      << dir.read("err.txt");
  const std::string out = dir.read("out.dat");
  EXPECT_EQ(out.size() % 4096, 0u);
  EXPECT_LT(out.size(), in.size());
  EXPECT_TRUE(in.starts_with(out));
}

// In the modes for programs a closed standard output ends the run quietly by SIGPIPE, as the
// shell's tools end, once the output file is closed; a caller that ignores SIGPIPE gets the
// failed write reported.
TEST(FaultsEndToEnd, ModesEndBySigpipeWhenStandardOutputIsClosed) {
  if (e2e::under_wine()) GTEST_SKIP() << "Windows has no SIGPIPE: the write fails there";
  const struct {
    std::vector<std::string> args;
    bool ignored;  // SIGPIPE ignored when the tool starts
    int status, signal;
    std::string err;
  } cases[] = {
      {{"--list", "in.dat"}, false, -1, SIGPIPE, ""},
      {{"--batch", "in.dat", "b.dat"}, false, -1, SIGPIPE, ""},
      {{"--list", "in.dat"},
       true,
       1,
       0,
       "Chunkit_: cannot write standard output: write failed (F6421)\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string in = e2e::type1_records(3000);
    dir.write("in.dat", in);
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    close(p[0]);
    const bool ignored = c.ignored;
    Result e = e2e::wait_for(e2e::spawn(dir.path(), c.args, kClosed, p[1], "err.txt", [ignored] {
      if (ignored) signal(SIGPIPE, SIG_IGN);
    }));
    close(p[1]);
    EXPECT_EQ(e.status, c.status);
    EXPECT_EQ(e.signal, c.signal);
    EXPECT_EQ(dir.read("err.txt"), c.err);
    if (c.args[0] == "--batch") {
      EXPECT_EQ(dir.read("b.dat"), in);
    }
  }
}

// The file a descriptor of this process is open on, as a path other processes' descriptors
// can be compared with (waits_on).
std::string path_of(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// Whether the process ignores `sig`: its SigIgn mask in /proc/PID/status.
bool ignores(pid_t pid, int sig) {
  const std::string status = e2e::read_all("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("\nSigIgn:");
  return at != std::string::npos &&
         (std::stoull(status.substr(at + 8, 20), nullptr, 16) >> (sig - 1) & 1) != 0;
}

// An interrupt while the console write waits for a reader that never reads: death by the
// signal, no report, every record before it in the output.
TEST(FaultsEndToEnd, InterruptWhileAConsoleWriteWaits) {
  if (e2e::under_wine())
    GTEST_SKIP() << "Wine cannot send a console Ctrl-C to a program whose console is a pipe";
  TempDir dir;
  const std::string in = e2e::type1_records(3000);
  dir.write("in.dat", in);
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  pid_t pid = e2e::spawn(dir.path(), kWholeCopy, kClosed, p[1], "err.txt");
  // Nobody reads the pipe: once it is full, the tool's console write waits.
  EXPECT_TRUE(e2e::wait_until(pid, [&] { return e2e::waits_on(pid, path_of(p[0]), POLLOUT); }));
  kill(pid, SIGINT);
  Result e = e2e::wait_for(pid);
  close(p[0]);
  close(p[1]);
  EXPECT_EQ(e.signal, SIGINT);
  EXPECT_EQ(dir.read("err.txt"), "");
  const std::string out = dir.read("out.dat");
  EXPECT_EQ(out.size() % 4096, 0u);
  EXPECT_GT(out.size(), 0u);
  EXPECT_LT(out.size(), in.size());
  EXPECT_TRUE(in.starts_with(out));
}

// Every signal whose default action ends the process, arriving while the input read waits:
// death by that signal, the records read before it in the output, no parity message. A signal
// ignored at start stays ignored, and the copy runs to its end.
TEST(FaultsEndToEnd, SignalsWhileAReadWaits) {
  if (e2e::under_wine())
    GTEST_SKIP() << "Windows has no signals; Wine cannot send a console Ctrl-C here";
  const int signals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1,  SIGUSR2,
                         SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGRTMIN, SIGRTMAX};
  const std::string three = e2e::type1_records(3);
  for (int sig : signals) {
    for (bool ignored : {false, true}) {
      if (ignored && sig != SIGINT && sig != SIGQUIT) continue;
      SCOPED_TRACE(std::string(strsignal(sig)) + (ignored ? " (ignored at start)" : ""));
      TempDir dir;
      ASSERT_EQ(mkfifo(dir.file("in.dat").c_str(), 0600), 0);
      // Opened for reading and writing, the FIFO neither blocks this open nor the tool's.
      int fifo = open_file(dir.file("in.dat"), O_RDWR);
      ASSERT_EQ(write(fifo, three.data(), three.size()), static_cast<ssize_t>(three.size()));
      pid_t pid =
          e2e::spawn(dir.path(), kWholeCopy, kClosed, "console.txt", "err.txt", [sig, ignored] {
            if (ignored) signal(sig, SIG_IGN);
          });
      // A read of the FIFO waits only once the tool has taken everything the FIFO holds.
      EXPECT_TRUE(
          e2e::wait_until(pid, [&] { return e2e::waits_on(pid, dir.file("in.dat"), POLLIN); }));
      if (ignored) {
        // Still ignored, the signal is discarded when sent and changes nothing; the end of the
        // data then ends the copy normally.
        EXPECT_TRUE(ignores(pid, sig));
        kill(pid, sig);
        close(fifo);
      } else {
        kill(pid, sig);
      }
      Result e = e2e::wait_for(pid);
      if (!ignored) close(fifo);
      EXPECT_EQ(e.signal, ignored ? 0 : sig);
      EXPECT_EQ(e.status, ignored ? 0 : -1);
      EXPECT_EQ(dir.read("out.dat"), three);
      EXPECT_EQ(dir.read("console.txt").find("parity"), std::string::npos);
      EXPECT_EQ(dir.read("err.txt"), "");
    }
  }
}

// Interrupts at 20 random moments of a large copy, each chosen by the progress seen: once the
// output file holds a random number of 1 MiB blocks (0: once it exists). Each run ends by the
// signal, without a report, and its output is an exact prefix of the input.
TEST(FaultsEndToEnd, InterruptsAtRandomMoments) {
  if (e2e::under_wine())
    GTEST_SKIP() << "Windows has no signals; Wine cannot send a console Ctrl-C here";
  TempDir dir;
  const std::string in = e2e::type1_records(8192);  // 32 MiB
  dir.write("in.dat", in);
  const std::string out_path = dir.file("out.dat");
  auto output_size = [&] {
    struct stat st {};
    return stat(out_path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  };
  // The console is a pipe this test reads only until the target is seen. The tool writes a
  // 65-byte progress line per record and waits once that pipe and its own console buffer (64 KiB
  // each) are full, so it gets at most about 3300 records (13 MiB) past the target, its
  // unwritten block and a last read of the pipe included: with targets up to 16 MiB, the copy
  // of 32 MiB cannot end before the signal.
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<long long> blocks(0, 16);
  for (int trial = 0; trial < 20; ++trial) {
    const long long target = blocks(rng) << 20;
    SCOPED_TRACE("trial " + std::to_string(trial) + ", target " + std::to_string(target));
    unlink(out_path.c_str());
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    pid_t pid = e2e::spawn(dir.path(), kWholeCopy, kClosed, p[1], "err.txt");
    close(p[1]);
    char buf[65536];
    bool console_open = true;
    while (console_open && output_size() < target) {
      pollfd console = {p[0], POLLIN, 0};
      if (poll(&console, 1, 1) > 0) console_open = read(p[0], buf, sizeof buf) > 0;
    }
    const bool ran_to_target = console_open;
    kill(pid, SIGINT);
    // What the tool still writes to the console as it ends is read, as a reader would.
    while (read(p[0], buf, sizeof buf) > 0) {
    }
    Result e = e2e::wait_for(pid);
    close(p[0]);
    EXPECT_TRUE(ran_to_target) << "the run ended before the target was seen";
    EXPECT_EQ(e.signal, SIGINT);
    EXPECT_EQ(dir.read("err.txt"), "");
    const std::string out = dir.read("out.dat");
    EXPECT_LT(out.size(), in.size());
    EXPECT_TRUE(in.starts_with(out)) << out.size() << " bytes";
  }
}

// An XFS file system (it clones extents) on a loop device, mounted at dir/xfs for as long as
// it lives; `skip` says why there is none.
struct Xfs {
  explicit Xfs(const TempDir& dir) : mnt(dir.file("xfs")) {
    if (geteuid() != 0) {
      skip = "mounting a file system needs root";
      return;
    }
    if (std::system("command -v mkfs.xfs >/dev/null") != 0) {
      skip = "mkfs.xfs is not installed (Debian package xfsprogs)";
      return;
    }
    const std::string img = dir.file("xfs.img");
    const int fd = open_file(img, O_WRONLY | O_CREAT | O_TRUNC);
    const bool sized = fd >= 0 && ftruncate(fd, off_t{512} << 20) == 0;
    if (fd >= 0) close(fd);
    mkdir(mnt.c_str(), 0700);
    if (!sized || std::system(("mkfs.xfs -q " + img).c_str()) != 0 ||
        std::system(("mount -o loop " + img + " " + mnt).c_str()) != 0) {
      skip = "making or mounting an XFS file system on a loop device failed";
      return;
    }
    mounted = true;
  }
  ~Xfs() {
    if (mounted) umount(mnt.c_str());
  }
  std::string mnt, skip;
  bool mounted = false;
};

// The flags of a file's extents, after its data has reached them.
std::vector<unsigned> extent_flags(const std::string& path) {
  constexpr unsigned kMax = 256;
  std::vector<char> buf(sizeof(fiemap) + kMax * sizeof(fiemap_extent));
  auto* map = reinterpret_cast<fiemap*>(buf.data());
  map->fm_length = ~0ULL;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = kMax;
  const int fd = open_file(path, O_RDONLY);
  std::vector<unsigned> flags;
  if (fd >= 0 && ioctl(fd, FS_IOC_FIEMAP, map) == 0) {
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i)
      flags.push_back(map->fm_extents[i].fe_flags);
  }
  if (fd >= 0) close(fd);
  return flags;
}

bool all_shared(const std::vector<unsigned>& flags) {
  return !flags.empty() && std::all_of(flags.begin(), flags.end(),
                                       [](unsigned f) { return (f & FIEMAP_EXTENT_SHARED) != 0; });
}

bool none_shared(const std::vector<unsigned>& flags) {
  return std::none_of(flags.begin(), flags.end(),
                      [](unsigned f) { return (f & FIEMAP_EXTENT_SHARED) != 0; });
}

// On a file system that clones extents, whole records keep their 4096-byte alignment in the
// copy, so their runs share the input's storage instead of being written; a copy that starts
// inside a record shares nothing. The bytes are the same either way, and an interrupt or a full
// file system keeps the usual guarantees.
TEST(CloneEndToEnd, WholeRecordsShareTheInputsStorage) {
  TempDir dir;
  Xfs xfs(dir);
  if (!xfs.skip.empty()) GTEST_SKIP() << xfs.skip;
  const std::string in = e2e::type1_records(600);
  std::ofstream(xfs.mnt + "/in.dat", std::ios::binary) << in;
  struct Case {
    std::vector<std::string> args;
    std::string copy;
    bool shared;
  } cases[] = {
      {{"0", "0", "0", "0"}, in, true},
      {{"s5-10"}, in.substr(0, 4 * 4096) + in.substr(10 * 4096), true},
      {{"3", "0", "7", "0"}, in.substr(2 * 4096, 5 * 4096), true},
      {{"3", "10", "7", "0"}, in.substr(2 * 4096 + 9, 5 * 4096 - 9), false},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string out = "out" + std::to_string(++n) + ".dat";
    SCOPED_TRACE(out);
    Result e = e2e::wait_for(
        e2e::spawn(xfs.mnt, e2e::concat({"in.dat", out}, c.args), kNull, kNull, kNull));
    EXPECT_EQ(e.status, 0);
    EXPECT_TRUE(dir.read("xfs/" + out) == c.copy);
    const std::vector<unsigned> flags = extent_flags(xfs.mnt + "/" + out);
    EXPECT_TRUE(c.shared ? all_shared(flags) : none_shared(flags));
  }

  // A split's pieces of whole records share the input's storage too.
  Result split = e2e::wait_for(
      e2e::spawn(xfs.mnt, {"--split", "200", "in.dat", "piece%n"}, kNull, kNull, kNull));
  EXPECT_EQ(split.status, 0);
  for (std::size_t k = 0; k < 3; ++k) {
    const std::string name = "piece00" + std::to_string(k + 1);
    EXPECT_TRUE(dir.read("xfs/" + name) == in.substr(k * 200 * 4096, 200 * 4096)) << name;
    EXPECT_TRUE(all_shared(extent_flags(xfs.mnt + "/" + name))) << name;
  }

  // An interrupt while the console waits (nobody reads its pipe): the runs cloned so far stay.
  const std::string big = e2e::type1_records(3000);
  std::ofstream(xfs.mnt + "/big.dat", std::ios::binary) << big;
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  pid_t pid = e2e::spawn(xfs.mnt, {"big.dat", "cut.dat", "0", "0", "0", "0"}, kNull, p[1], kNull);
  EXPECT_TRUE(e2e::wait_until(pid, [&] { return e2e::waits_on(pid, path_of(p[0]), POLLOUT); }));
  kill(pid, SIGINT);
  Result e = e2e::wait_for(pid);
  for (int fd : {p[0], p[1]}) close(fd);
  EXPECT_EQ(e.signal, SIGINT);
  const std::string cut = dir.read("xfs/cut.dat");
  EXPECT_EQ(cut.size() % 4096, 0u);
  EXPECT_GT(cut.size(), 0u);
  EXPECT_LT(cut.size(), big.size());
  EXPECT_TRUE(big.starts_with(cut));

  // A full file system: the copy is whole, or it ends with the disk-full report and a prefix.
  const std::string tail = in + "short";
  std::ofstream(xfs.mnt + "/tail.dat", std::ios::binary) << tail;
  const int filler = open_file(xfs.mnt + "/filler", O_WRONLY | O_CREAT | O_TRUNC);
  const std::string chunk(4096, 'f');
  while (write(filler, chunk.data(), chunk.size()) > 0) {
  }
  close(filler);
  e = e2e::wait_for(e2e::spawn(xfs.mnt, {"tail.dat", "full.dat", "0", "0", "0", "0"}, kNull, kNull,
                               dir.file("err.txt").c_str()));
  const std::string full = dir.read("xfs/full.dat");
  if (e.status == 0) {
    EXPECT_TRUE(full == tail);
  } else {
    EXPECT_EQ(e.status, 1);
    EXPECT_NE(dir.read("err.txt").find("run-time error F6422: "), std::string::npos)
        << dir.read("err.txt");
    EXPECT_TRUE(tail.starts_with(full));
  }
  // A split on the full file system makes all its pieces or none.
  e = e2e::wait_for(
      e2e::spawn(xfs.mnt, {"--split", "300", "tail.dat", "t%n"}, kNull, kNull, kNull));
  const std::string pieces = dir.read("xfs/t001") + dir.read("xfs/t002") + dir.read("xfs/t003");
  EXPECT_TRUE(e.status == 0 ? pieces == tail : e.status == 1 && pieces.empty()) << e.status;
}

}  // namespace
