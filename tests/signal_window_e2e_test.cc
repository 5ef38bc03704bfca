// An interrupt is never lost in the gap between the tool's interrupt check and a read that
// waits. The tool copies from a FIFO that the test holds open and that runs dry after a few
// records; SIGINT or SIGTERM goes out the moment the FIFO is seen drained, without waiting for
// the tool to block, so across the runs it lands while the tool copies, between its check and
// the read, and in the wait. Every run must end by that signal with every record in the output
// and no report. CHUNKIT_SIGNAL_RUNS sets the number of runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run_binary.h"

namespace {

using Clock = std::chrono::steady_clock;

int bytes_waiting(int fd) {
  int n = 0;
  return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// Reaps pid, waiting at most `guard`; a process still there then is killed and reported as
// never ending (ws 0 and false).
bool reap(pid_t pid, Clock::duration guard, int* ws) {
  const Clock::time_point give_up = Clock::now() + guard;
  for (;;) {
    pid_t got = waitpid(pid, ws, WNOHANG);
    if (got == pid) return true;
    if (got < 0 && errno != EINTR) return false;
    if (Clock::now() > give_up) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      *ws = 0;
      return false;
    }
    usleep(200);
  }
}

TEST(SignalWindowEndToEnd, InterruptSentAsTheInputRunsDryEndsTheRun) {
  if (e2e::under_wine()) GTEST_SKIP() << "Windows has no signals";
  const char* env = std::getenv("CHUNKIT_SIGNAL_RUNS");
  const int runs = env != nullptr ? std::atoi(env) : 120;
  e2e::TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("in.dat").c_str(), 0600), 0);
  // Opened for reading and writing, the FIFO blocks neither this open nor the tool's, and it
  // never reaches its end: the tool's next read waits.
  const int fifo = open(dir.file("in.dat").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fifo, 0);
  const std::string three = e2e::type1_records(3);
  Clock::duration slowest{};
  for (int run = 0; run < runs; ++run) {
    const int sig = run % 2 == 0 ? SIGINT : SIGTERM;
    SCOPED_TRACE("run " + std::to_string(run) + ", " + strsignal(sig));
    unlink(dir.file("out.dat").c_str());
    ASSERT_EQ(write(fifo, three.data(), three.size()), static_cast<ssize_t>(three.size()));
    const pid_t pid = e2e::spawn(dir.path(), e2e::kWholeCopy, e2e::kNull, "console.txt", "err.txt");
    ASSERT_GT(pid, 0);
    int ws = 0;
    bool ended_early = false;
    while (bytes_waiting(fifo) != 0) {
      if (waitpid(pid, &ws, WNOHANG) == pid) {
        ended_early = true;
        break;
      }
      sched_yield();
    }
    ASSERT_FALSE(ended_early) << "the tool ended before it drained the FIFO: " << ws;
    // A lead of 0 to 120 us that changes from run to run spreads where the signal lands over
    // the copying of the records and the way to the next read.
    const Clock::time_point drained = Clock::now();
    while (Clock::now() - drained < std::chrono::microseconds(run / 2 % 16 * 8)) {
    }
    kill(pid, sig);
    const Clock::time_point sent = Clock::now();
    const bool ended = reap(pid, std::chrono::seconds(10), &ws);
    if (Clock::now() - sent > slowest) slowest = Clock::now() - sent;
    ASSERT_TRUE(ended) << "the signal was lost: the tool still waited after 10 s";
    ASSERT_TRUE(WIFSIGNALED(ws) && WTERMSIG(ws) == sig) << "wait status " << ws;
    ASSERT_EQ(dir.read("out.dat"), three);
    ASSERT_EQ(dir.read("err.txt"), "");
  }
  close(fifo);
  if (env != nullptr) {
    std::printf("%d runs; slowest end after the signal: %.1f ms\n", runs,
                std::chrono::duration<double, std::milli>(slowest).count());
  }
}

}  // namespace
