#include "runtime/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "console_text.h"
#include "ends.h"
#include "fake_platform.h"
#include "runtime/run.h"
#include "screen.h"

namespace {

// A whole console record.
void record(std::string_view text) {
  (void)rt::console_record_begin(text);
  (void)rt::console_record_end(false);
}

TEST(ConsoleBuffer, RecordsShareOneSystemWrite) {
  fake::FakePlatform fp;
  start(fp);
  std::string want;
  for (int rec = 1; rec <= 1000; ++rec) {
    char line[16];
    std::snprintf(line, sizeof line, " %8d\r", rec);
    (void)rt::console_record_begin(line);
    (void)rt::console_record_end(true);
    want += rec == 1 ? line + 1 : line;
  }
  EXPECT_TRUE(fp.write_calls.empty());
  EXPECT_EQ(flushed(fp), want);
  ASSERT_EQ(fp.write_calls.size(), 1u);

  // A full buffer goes out at once, in 64 KiB pieces.
  fp.write_calls.clear();
  (void)rt::console_put(std::string(70000, 'b'));
  ASSERT_EQ(fp.write_calls.size(), 1u);
  EXPECT_EQ(fp.write_calls[0].size, std::size_t{65536});
  EXPECT_EQ(flushed(fp), want + std::string(70000, 'b'));
}

// A muted console shows nothing of its own, not even the stop text; the program's lines go
// out in order, the last one when the run ends.
TEST(ConsoleBuffer, MutedConsoleCarriesOnlyProgramLines) {
  fake::FakePlatform fp;
  start(fp);
  record(" before");
  rt::console_mute();
  record(" status line");
  (void)rt::console_put_line("a\tb\n");
  (void)rt::console_break_line();
  (void)rt::console_put("\r");
  (void)rt::console_put_line("c\n");
  EXPECT_EQ(fake::status_of_end(rt::Status{}), 0);
  EXPECT_EQ(fp.out, "beforea\tb\nc\n");
}

TEST(ConsoleBuffer, TerminalSeesOutputEveryFiftyMilliseconds) {
  fake::FakePlatform fp;
  fp.stdout_terminal = true;
  start(fp);
  (void)rt::console_flush();
  fp.clock_ms = 1000;
  record(" a");  // the first record after a pause goes out
  EXPECT_EQ(fp.out, "a");
  record(" b");
  EXPECT_EQ(fp.out, "a");
  fp.clock_ms += 50;
  record(" c");
  EXPECT_EQ(fp.out, "a\r\nb\r\nc");
}

// Standard output that refuses every write.
class BrokenStdout : public fake::FakePlatform {
 public:
  platform::IoResult write(platform::Handle h, const void* buf, std::size_t n) override {
    if (h == 1) return {0, platform::Err::kDiskFull};
    return FakePlatform::write(h, buf, n);
  }
};

TEST(ConsoleBuffer, FailedWriteIsReportedOnce) {
  BrokenStdout fp;
  start(fp);
  record(" hello");
  EXPECT_EQ(fake::status_of_end(rt::console_flush()), 1);
  EXPECT_EQ(fp.err.rfind("\r\nrun-time error F6422: WRITE(CON)\r\n- ", 0), 0u) << fp.err;
  EXPECT_EQ(fp.err.find("run-time error", 5), std::string::npos);
}

// Progress lines as the copy loop writes them: 63 characters and a CR.
using text::copying;

// Hands each chunk to the console at a terminal and flushes it. After every flush the screen
// must be the one the chunks so far leave, on terminals 64 and 80 columns wide. Returns the
// bytes sent.
std::string through_terminal(const std::vector<std::string>& chunks, const std::string& what) {
  fake::FakePlatform fp;
  fp.stdout_terminal = true;
  start(fp);
  std::string all;
  for (const std::string& chunk : chunks) {
    (void)rt::console_put(chunk);
    (void)rt::console_flush();
    all += chunk;
    for (std::size_t width : {64u, 80u}) {
      EXPECT_EQ(screen::shown(fp.out, width), screen::shown(all, width)) << what;
    }
  }
  return fp.out;
}

TEST(TerminalOutput, LinesThatAreWrittenOverAreLeftOut) {
  struct Case {
    const char* what;
    std::vector<std::string> chunks;  // one flush each
    std::string sent;
  };
  const std::string l1 = copying(1), l2 = copying(2), l3 = copying(3);
  const std::string longer = std::string(64, 'x') + "\r";
  const std::string stop = "\r\nStop - Program terminated.\r\n";
  const Case cases[] = {
      {"each line covers the one before", {"\r" + l1 + l2 + l3}, "\r" + l3},
      {"a shorter line keeps the longer one", {"\r" + l1 + "short\r" + l2}, "\r" + l1 + l2},
      {"a longer line covers a shorter one", {"\r short\r" + l1}, "\r" + l1},
      {"a line end keeps the line",
       {"\r" + l1 + "\n Skip recs\r" + l2},
       "\r" + l1 + "\n Skip recs\r" + l2},
      {"the end of the run", {"\r" + l1 + l2 + stop}, "\r" + l2 + stop},
      {"a line that may not start in the first column", {"ab" + l1 + l2}, "ab" + l1 + l2},
      {"the first line of all", {l1 + l2}, l1 + l2},
      {"64 columns or more may wrap", {"\r" + longer + longer}, "\r" + longer + longer},
      {"other bytes end a line", {"\ra\tb\r" + l1}, "\ra\tb\r" + l1},
      {"empty lines stay", {"\r\r\r" + l1 + l2}, "\r\r\r" + l2},
      {"a prompt",
       {"\r" + l1 + "\r\nEnter the first record to be copied: "},
       "\r" + l1 + "\r\nEnter the first record to be copied: "},
      // Lines already sent stay; the next flush goes on after the CR it ended with.
      {"flush boundaries", {"\r" + l1, l2 + l3, "\r\n"}, "\r" + l1 + l3 + "\r\n"},
      {"a line cut by a flush", {"\r" + l1.substr(0, 30), l1.substr(30) + l2}, "\r" + l1 + l2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(through_terminal(c.chunks, c.what), c.sent) << c.what;
    // Pipes and files receive every byte.
    fake::FakePlatform fp;
    start(fp);
    std::string all;
    for (const std::string& chunk : c.chunks) {
      (void)rt::console_put(chunk);
      (void)rt::console_flush();
      all += chunk;
    }
    EXPECT_EQ(fp.out, all) << c.what;
  }
}

TEST(TerminalOutput, RandomStreamsLeaveTheSameScreen) {
  std::mt19937 rng(11);
  const auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> chunks(1);
    for (int piece = 0, n = 1 + below(40); piece < n; ++piece) {
      std::string s;
      switch (below(6)) {
        case 0:
        case 1:
          s = copying(below(100000));
          break;
        case 2:
          s = std::string(static_cast<std::size_t>(below(70)), static_cast<char>('a' + below(26)));
          break;
        case 3:
          s = "\r\n";
          if (below(2)) s.pop_back();
          break;
        case 4:
          s = std::string(1, "\n\f\t\x1b\x80"[below(5)]);
          break;
        default:
          s = copying(below(10)).substr(0, static_cast<std::size_t>(below(64)));
      }
      // Cut anywhere: a flush may come in the middle of a line.
      const std::size_t cut = static_cast<std::size_t>(below(static_cast<int>(s.size()) + 1));
      chunks.back() += s.substr(0, cut);
      if (below(4) == 0) chunks.emplace_back();
      chunks.back() += s.substr(cut);
    }
    through_terminal(chunks, "round " + std::to_string(round));
  }
}

TEST(TerminalOutput, FullBufferOfProgressLinesCostsOneWrite) {
  fake::FakePlatform fp;
  fp.stdout_terminal = true;
  start(fp);
  std::string all = "\r";
  (void)rt::console_put("\r");
  for (int n = 1; n <= 5000; ++n) {  // five times the buffer
    (void)rt::console_put(copying(n));
    all += copying(n);
  }
  EXPECT_TRUE(fp.write_calls.empty());
  (void)rt::console_flush();
  EXPECT_EQ(fp.out, "\r" + copying(5000));
  EXPECT_EQ(screen::shown(fp.out, 64), screen::shown(all, 64));
}

// A terminal line takes 130 characters, or 260 when a file name is typed; a line read after a
// name keeps the shorter limit.
TEST(ConsoleInput, TerminalLineLimit) {
  struct Case {
    std::size_t chars;
    const char* end;
    bool name;
    int error;
  } cases[] = {{130, "\n", false, 0},      {130, "\r\n", false, 0},   {131, "\n", false, 6407},
               {131, "\r\n", false, 6407}, {5, "", false, 0},         {259, "\r\n", true, 0},
               {260, "\n", true, 0},       {261, "\r\n", true, 6407}, {261, "\n", true, 6407}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.chars << " chars" << (c.name ? " of a name" : ""));
    fake::FakePlatform fp;
    start(fp, std::string(c.chars, '7') + c.end + (c.name ? std::string(131, '8') + "\n" : ""),
          true);
    char buf[260];
    std::size_t n = 0;
    EXPECT_EQ(fake::error_of(fp,
                             [&] {
                               RETURN_IF_FAILED(rt::read_console_line(buf, c.name ? 260 : 130, &n));
                               std::size_t m = 0;
                               return c.name ? rt::read_console_line(buf + 200, 60, &m)
                                             : rt::Status{};
                             }),
              c.name && c.error == 0 ? 6407 : c.error);
    if (c.error == 0) {
      EXPECT_EQ(n, c.chars);
      EXPECT_EQ(std::string(buf, std::min<std::size_t>(n, 130)),
                std::string(std::min<std::size_t>(c.chars, 130), '7'));
    }
  }
}

TEST(ConsoleInput, LinesLongerThanTheirRoomAreCountedWhole) {
  fake::FakePlatform fp;
  start(fp, std::string(300, 'n') + "\r\nrest\n");
  char buf[260];
  std::size_t n = 0;
  ASSERT_TRUE(rt::read_console_line(buf, sizeof buf, &n).ok());
  EXPECT_EQ(n, 300u);
  EXPECT_EQ(std::string(buf, 260), std::string(260, 'n'));
  ASSERT_TRUE(rt::read_console_line(buf, sizeof buf, &n).ok());
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(fake::error_of(fp, [&] { return rt::read_console_line(buf, sizeof buf, &n); }), 6501);
}

}  // namespace
