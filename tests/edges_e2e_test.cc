// End-to-end runs at the edges a user's machine and files reach: a tight memory limit, output
// names that cannot be created, runs that fail before writing a byte, record numbers past the
// columns of their messages, and long names typed at a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "run_binary.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kBin = e2e::tool();

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The tool under a limit of its address space, in KiB.
Result run_limited(const TempDir& dir, int kib, const std::string& args) {
  return e2e::run(dir.path(), {"/bin/sh", "-c",
                               "ulimit -v " + std::to_string(kib) + "; exec " + kBin + " " + args +
                                   " 2>err.txt"});
}

// A whole copy runs in 16 MiB of address space. Below that, wherever a block finds no memory,
// the run ends with a report and leaves no file behind (or, with no room for its words, with
// the start-up failure); it never crashes.
TEST(EdgesEndToEnd, MemoryLimits) {
  if (e2e::under_wine()) GTEST_SKIP() << "an address space limit is a POSIX resource limit";
  if (kSanitized) GTEST_SKIP() << "the sanitizers reserve far more address space than any limit";
  TempDir dir;
  const std::string in = e2e::type1_records(300);
  dir.write("in.dat", in);
  Result r = run_limited(dir, 16384, "in.dat out.dat 0 0 0 0");
  EXPECT_EQ(r.status, 0) << dir.read("err.txt");
  EXPECT_EQ(dir.read("out.dat"), in);

  int reports = 0;
  for (int kib = 2048; kib <= 8192; kib += 64) {
    SCOPED_TRACE(kib);
    ::unlink(dir.file("out.dat").c_str());
    r = run_limited(dir, kib, "in.dat out.dat 0 0 0 0");
    const std::string err = dir.read("err.txt");
    if (r.status == 127 || r.status == 126) continue;  // the system could not even start it
    ASSERT_EQ(r.signal, 0);
    if (r.status == 255) {  // no room even for the command-line words
      EXPECT_TRUE(err.starts_with("\r\nruntime error R6008\r\n")) << err;
      continue;
    }
    if (r.status == 0) {
      EXPECT_EQ(dir.read("out.dat"), in);
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(err.starts_with("\r\nrun-time error F6315: OPEN(")) << err;
    EXPECT_NE(err.find("not enough memory"), std::string::npos) << err;
    EXPECT_FALSE(dir.exists("out.dat"));
    ++reports;
  }
  EXPECT_GT(reports, 0);
}

// Only a name that is taken leads to a numbered name; a name that no number can cure ends the
// run at once with the report of the name given, and nothing is created.
TEST(EdgesEndToEnd, NamesThatCannotBeCreatedFailAtOnce) {
  TempDir dir({{"in.dat", e2e::type1_records(2)}});
  struct Case {
    std::string name;
    std::string report;
  };
  std::vector<Case> cases = {{"nodir/out.dat", "F6416: OPEN(nodir/out.dat)"}};
  if (!e2e::under_wine() && ::geteuid() != 0) {
    ASSERT_EQ(::mkdir(dir.file("ro").c_str(), 0555), 0);
    cases.push_back({"ro/out.dat", "F6414: OPEN(ro/out.dat)"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result r = dir.run({"in.dat", c.name, "0", "0", "0", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("\r\nrun-time error " + c.report + "\r\n- ")) << r.err;
  }
  EXPECT_FALSE(dir.exists("nodir"));
}

// A run that ends with a report or an interrupt before its first byte leaves no output file, so
// the corrected run gets the name asked for; a run that succeeds keeps even an empty copy.
TEST(EdgesEndToEnd, FailedRunLeavesNoEmptyFile) {
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    const char* report;
  } cases[] = {
      {{"c.dat", "3x", "0", "0", "0"}, "", 1, "F6101: READ(internal)"},
      {{"c.dat"}, "", 1, "F6501: READ(CON)"},
      {{"c.dat", "5", "0", "3", "0"}, "", 0, ""},  // start after end: an empty copy
  };
  for (const auto& c : cases) {
    TempDir dir({{"in.dat", e2e::type1_records(2)}});
    const std::vector<std::string> args = e2e::concat({"in.dat"}, c.args);
    SCOPED_TRACE(args[1] + " " + (args.size() > 2 ? args[2] : ""));
    Result r = dir.run(args, c.input);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(c.status == 0 ? r.err.empty()
                              : r.err.starts_with("\r\nrun-time error " + std::string(c.report)))
        << r.err;
    EXPECT_EQ(dir.exists("c.dat"), c.status == 0);
    if (c.status != 0) {
      r = dir.run({"in.dat", "c.dat", "0", "0", "0", "0"});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(dir.read("c.dat"), e2e::type1_records(2));
    }
  }
}

// Ctrl-C at a prompt: the run ends by the signal and takes its empty file with it.
TEST(EdgesEndToEnd, InterruptAtAPromptLeavesNoFile) {
  if (e2e::under_wine()) GTEST_SKIP() << "Windows has no signals to send to a piped program";
  TempDir dir({{"in.dat", e2e::type1_records(2)}});
  int in[2], out[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  const pid_t pid = e2e::spawn(dir.path(), {"in.dat", "c.dat"}, in[0], out[1], 2);
  ::close(in[0]);
  ::close(out[1]);
  // The first prompt has been written: the tool waits for its line.
  std::string shown;
  char buf[512];
  while (shown.find("Enter the first record") == std::string::npos) {
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    ASSERT_GT(n, 0) << shown;
    shown.append(buf, static_cast<std::size_t>(n));
  }
  ASSERT_TRUE(dir.exists("c.dat"));
  ::kill(pid, SIGINT);
  // A lost signal leaves the tool waiting at its prompt: the test runner's time limit ends it.
  const Result r = e2e::wait_for(pid);
  ::close(in[1]);
  ::close(out[0]);
  EXPECT_EQ(r.signal, SIGINT);
  EXPECT_FALSE(dir.exists("c.dat"));
}

// Record numbers that do not fit the columns of their messages are shown whole.
TEST(EdgesEndToEnd, RecordNumbersAreNeverCut) {
  TempDir dir({{"in.dat", e2e::type1_records(10)}});
  Result r = dir.run({"in.dat", "out.dat", "s1", "s5-100000"});
  EXPECT_NE(r.out.find("\r\nSkip recs    5 to100000\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\r\n-- EOF at irec=   10 --\r\n"), std::string::npos) << r.out;

  // 100,001 records of zeros, held as a hole: cheap to make and to read.
  const int fd = ::open(dir.file("big.dat").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{100001} * 4096), 0);
  ::close(fd);
  const struct {
    std::vector<std::string> args;
    const char* end;
  } cases[] = {
      {{"100000", "0", "100001", "0"}, "\r\n-- Exited \"do 100\" loop eof at irec=100002 --\r\n"},
      {{"s1-100000"}, "\r\n-- EOF at irec=100001 --\r\n"},
  };
  for (const auto& c : cases) {
    ::unlink(dir.file("big.out").c_str());
    r = dir.run(e2e::concat({"big.dat", "big.out"}, c.args));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(c.end), std::string::npos) << r.out.substr(r.out.size() - 200);
  }
}

// A name as long as names may be is typed at a terminal as well as through a pipe.
TEST(EdgesEndToEnd, LongNameTypedAtATerminal) {
  TempDir dir({{"in.dat", e2e::type1_records(2)}});
  const std::string name = std::string(200, 'n') + ".dat";
  Result r = dir.type({"in.dat"}, {name, "0", "0", "0", "0"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(dir.read(name), e2e::type1_records(2));
}

}  // namespace
