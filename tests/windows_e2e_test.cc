// The Windows build as its users meet it, under Wine: at a real console (Wine's console host
// draws it on a pseudo-terminal), with exact command lines and Ctrl-C sent by a launcher that
// reports the whole exit code, and with names in other letters.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "console_text.h"
#include "run_binary.h"
#include "screen.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kBin = e2e::tool();

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// The path of a file here as a Windows program under Wine sees it, on drive Z:.
std::string windows_path(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

// The tool started by the launcher with the command line "Chunkit_.exe TAIL".
Result launch(const TempDir& dir, const std::vector<std::string>& rest,
              const std::function<void(pid_t)>& meanwhile = {}) {
  return e2e::run(
      dir.path(),
      e2e::concat({env("CHUNKIT_WINE"), env("CHUNKIT_LAUNCHER"), windows_path(kBin)}, rest), "",
      meanwhile);
}

// The text a console host drew, without its escape sequences and carriage returns.
std::string drawn(const std::string& out) {
  std::string text = std::regex_replace(out, std::regex("\x1b\\[[0-9;?]*[A-Za-z]"), "");
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

#define SKIP_UNLESS_WINDOWS_BUILD()                          \
  if (!e2e::under_wine() || env("CHUNKIT_LAUNCHER").empty()) \
  GTEST_SKIP() << "the Windows build under Wine only (./dev test runs it with its launcher)"

// The console's rules of quotes, backslashes and blanks, on command lines the launcher hands
// over exactly: argument 1 shows in the status line (its length) and in the report of its open.
TEST(WindowsEndToEnd, CommandLinesAsTheConsoleSplitsThem) {
  SKIP_UNLESS_WINDOWS_BUILD();
  struct Case {
    std::string tail;
    int length;
    std::string report;
  } cases[] = {
      {"\"a\"\"b\" c", 5, "F6412: OPEN(a\"b c)"},  // a doubled quote keeps the quoted part going
      {"a\\\\b", 4, "F6416: OPEN(a\\\\b)"},
      {"a\\\"b", 3, "F6412: OPEN(a\"b)"},
      {"a\\\\\"b c\"", 5, "F6416: OPEN(a\\b c)"},
      {"\"a\\\\\" b", 2, "F6416: OPEN(a\\)"},
      {"\"\"\"\"", 1, "F6412: OPEN(\")"},
      {"\t x\t\ty", 1, "F6416: OPEN(x)"},
      {"\"\"", 0, "F6501: READ(CON)"},  // a blank name is asked for, and input has ended
  };
  TempDir dir;
  for (const Case& c : cases) {
    Result r = launch(dir, {c.tail});
    EXPECT_EQ(r.out.rfind(text::status(text::kInput, c.length), 0), 0u) << c.tail << ": " << r.out;
    EXPECT_NE(r.err.find("\r\nrun-time error " + c.report + "\r\n"), std::string::npos)
        << c.tail << ": " << r.err;
    EXPECT_TRUE(r.err.ends_with("exit code 0x00000001\n")) << c.tail << ": " << r.err;
  }
}

// Ctrl-C during a copy: the exit code Windows gives, and every record read is kept. The input
// is a FIFO kept filled for as long as the tool runs: Wine cannot cancel a read that waits on a
// pipe, so the tool must not be left waiting in one. The launcher sends Ctrl-C once the tool has
// copied its first block (256 records); the input holds far more than the tool reads before it
// sees the Ctrl-C, and ends (the tool copies it all) only if the Ctrl-C is missed.
TEST(WindowsEndToEnd, CtrlCDuringACopy) {
  SKIP_UNLESS_WINDOWS_BUILD();
  TempDir dir;
  const std::string in = e2e::type1_records(16384);
  ASSERT_EQ(mkfifo(dir.file("in.dat").c_str(), 0600), 0);
  int fd = open(dir.file("in.dat").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Result r = launch(dir, {"in.dat out.dat 0 0 0 0", "out.dat", "1048576"}, [&](pid_t pid) {
    std::size_t written = 0;
    const bool all = e2e::wait_until(pid, [&] {
      const ssize_t n = write(fd, in.data() + written, in.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      return written == in.size();
    });
    if (all) close(std::exchange(fd, -1));  // the end of the input
  });
  if (fd >= 0) close(fd);
  EXPECT_TRUE(r.err.ends_with("exit code 0xC000013A\n")) << r.err;
  const std::string out = dir.read("out.dat");
  EXPECT_GE(out.size(), 1048576u);
  EXPECT_LT(out.size(), in.size());
  EXPECT_EQ(out.size() % 4096, 0u);
  EXPECT_EQ(out, in.substr(0, out.size()));
}

// What a user sees at the console: the screen of the README's example and of prompts answered
// (an empty line, a radix number, a bad number), at three widths, equals the screen the Linux
// build leaves on a terminal.
TEST(WindowsEndToEnd, ConsoleScreensAreTheLinuxScreens) {
  SKIP_UNLESS_WINDOWS_BUILD();
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> typed;
  } cases[] = {
      {{"in.dat", "copy.dat", "3", "10", "7", "100"}, {}},
      {{"in.dat", "copy.dat"}, {"", "16#64", "", "0"}},
      {{"in.dat"}, {"copy.dat", "2", "3x"}},
  };
  for (const Case& c : cases) {
    for (unsigned short width : {80, 64, 40}) {
      SCOPED_TRACE(testing::Message() << c.args.size() << " arguments, " << width << " columns");
      TempDir windows, linux;
      for (const TempDir* d : {&windows, &linux}) {
        d->write("in.dat", e2e::type1_records(20) + std::string(1000, 'x'));
      }
      Result w = windows.type(c.args, c.typed, width);
      Result l =
          e2e::run_in_terminal(linux.path(), e2e::concat({CHUNKIT_BIN}, c.args), c.typed, width);
      EXPECT_EQ(screen::shown(w.out, width, true), screen::shown(l.out, width));
      EXPECT_EQ(w.err, l.err);
      EXPECT_EQ(w.status, l.status);
      EXPECT_EQ(windows.read("copy.dat"), linux.read("copy.dat"));
    }
  }
}

// A name in other letters, typed at the prompt or given as an argument, makes that very file
// and is echoed as it is, in the usual console code page and in a UTF-8 console.
TEST(WindowsEndToEnd, NamesInOtherLetters) {
  SKIP_UNLESS_WINDOWS_BUILD();
  const std::string wine = env("CHUNKIT_WINE");
  const std::string utf8 = "chcp 65001 >nul & " + windows_path(kBin);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> typed;
  } cases[] = {
      {{kBin, "in.dat"}, {"\xC3\xB6.dat", "0", "0", "0", "0"}},
      {{kBin, "in.dat",
        "\xC3\xB6"
        "4.dat",
        "0", "0", "0", "0"},
       {}},
      {{wine, "cmd", "/c", utf8 + " in.dat"}, {"\xC3\xB6.dat", "0", "0", "0", "0"}},
      {{wine, "cmd", "/c",
        utf8 + " in.dat \xC3\xB6"
               "4.dat 0 0 0 0"},
       {}},
  };
  for (const Case& c : cases) {
    TempDir dir({{"in.dat", e2e::type1_records(2)}});
    Result r = e2e::run_in_terminal(dir.path(), c.args, c.typed);
    const std::string name = c.typed.empty() ? "\xC3\xB6"
                                               "4.dat"
                                             : "\xC3\xB6.dat";
    EXPECT_NE(drawn(r.out).find(" Input,output=in.dat " + name + "\n"), std::string::npos)
        << drawn(r.out);
    EXPECT_EQ(dir.read(name), e2e::type1_records(2));
  }
}

// Ctrl-C typed at a prompt ends the run as Windows ends a program by Ctrl-C (Wine shows the
// status cut to 8 bits): no report, and the output file, created already, is gone again.
TEST(WindowsEndToEnd, CtrlCAtAPrompt) {
  SKIP_UNLESS_WINDOWS_BUILD();
  TempDir dir({{"in.dat", e2e::type1_records(2)}});
  Result r = dir.type({"in.dat", "out.dat"}, {"\x03"});
  EXPECT_EQ(r.status, 0x3A);
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(dir.exists("out.dat"));
}

}  // namespace
