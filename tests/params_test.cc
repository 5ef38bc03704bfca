#include "chunkit_/params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chunkit_/state.h"
#include "console_text.h"
#include "ends.h"
#include "fake_platform.h"
#include "runtime/console.h"

namespace {

// Starts a run with the two file names already taken and `args` after them.
void start(const std::vector<std::string>& args) {
  std::vector<std::string> words = {"in.dat", "out.dat"};
  words.insert(words.end(), args.begin(), args.end());
  fake::start(words);
  chunkit::reset_state();
  chunkit::nargs = static_cast<std::int32_t>(words.size());
  chunkit::iarg = 2;
}

using namespace text;

TEST(Params, TakesValuesFromArgumentsAndPrompts) {
  struct Case {
    std::vector<std::string> args;
    std::string typed;
    std::int32_t start_rec, start_byte, end_rec, end_byte, skip_start, skip_end, last_arg;
  };
  const std::vector<Case> cases = {
      {{}, "\n\n\n\n", 1, 1, 999999999, 4096, 0, 0, 6},
      {{"0", "0", "0", "0"}, "", 1, 1, 999999999, 4096, 0, 0, 6},
      {{"3", "10", "7", "100", "s5"}, "", 3, 10, 7, 100, 0, 0, 6},
      {{"  25", "40960000", "-7", "007"}, "", 25, 40960, -7, 7, 0, 0, 6},
      {{"", "", "", ""}, "", 1, 1, 999999999, 4096, 0, 0, 6},
      {{"5", "2"}, "7\n 1 0 \n", 5, 2, 7, 10, 0, 0, 6},
      {{"12345678901"}, "0\n+\n12,5\n", 1234567890, 1, 999999999, 12, 0, 0, 6},
      {{"s5-10", "3", "4"}, "", 1, 1, 999999999, 4096, 5, 10, 3},
      {{"S12-345"}, "", 1, 1, 999999999, 4096, 12, 345, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "prompts" : c.args[0]);
    fake::FakePlatform fp;
    fp.stdin_data = c.typed;
    start(c.args);
    ASSERT_TRUE(chunkit::take_parameters().ok());
    EXPECT_EQ(chunkit::startrec, c.start_rec);
    EXPECT_EQ(chunkit::startbyte, c.start_byte);
    EXPECT_EQ(chunkit::endrec, c.end_rec);
    EXPECT_EQ(chunkit::endbyte, c.end_byte);
    EXPECT_EQ(chunkit::skipstart, c.skip_start);
    EXPECT_EQ(chunkit::skipend, c.skip_end);
    EXPECT_EQ(chunkit::iarg, c.last_arg);
  }
}

TEST(Params, ConsoleText) {
  struct Case {
    std::vector<std::string> args;
    bool terminal;
    std::string typed, shown;
  };
  // Every value asked for; `join` is what comes between a prompt and the next status line.
  const auto asked = [](const std::string& join) {
    return status(kStartRec, -1) + kFirstRecordPrompt + join + status(kStartByte, -1) +
           byte_prompt("1st", 1) + join + status(kEndRec, -1) + kLastRecordPrompt + join +
           status(kEndByte, -1) + byte_prompt("last", 999999999);
  };
  const std::vector<Case> cases = {
      // Redirected: typed lines do not end the shown line, so a status line joins its prompt.
      {{}, false, "\n\n\n\n", asked(" ")},
      // At a terminal the typed line ends the prompt's line.
      {{}, true, "\n\n\n\n", asked("")},
      {{"5", "2"},
       true,
       "77\n\n",
       value_statuses({1, 1, -1}) + kLastRecordPrompt + status(kEndByte, -1) +
           byte_prompt("last", 77)},
      {{"s5"},
       false,
       "",
       status(kStartRec, 2) + "\r\n Skip recs" + num(5, 11) + " to" + num(5, 12)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    fake::FakePlatform fp;
    fp.stdin_terminal = fp.stdout_terminal = c.terminal;
    fp.stdin_data = c.typed;
    start(c.args);
    ASSERT_TRUE(chunkit::take_parameters().ok());
    (void)rt::console_flush();
    EXPECT_EQ(fp.out, c.shown);
  }
}

TEST(Params, ParsesSkipRanges) {
  struct Case {
    std::string arg;
    std::int32_t skip_start, skip_end;
  };
  const std::vector<Case> cases = {
      {"s5", 5, 5},
      {"s5-10", 5, 10},
      {"S12-345", 12, 345},
      {"s5-", 5, 0},
      {"s-7", 0, 7},
      {"s", 0, 0},
      {"s 7 - 9", 7, 9},
      {"s12345678901-3", 1234567890, 3},
      {"s4-12345678901", 4, 1234567890},
      // Longer than the 80 kept characters: the scan ends at the last kept one.
      {"s7" + std::string(83, ' ') + "-3", 7, 7},
      {"s" + std::string(85, '1'), 1111111111, 1111111111},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    fake::FakePlatform fp;
    start({c.arg});
    chunkit::next_arg(chunkit::argbuf);
    chunkit::skipstart = chunkit::skipend = -5;
    ASSERT_TRUE(chunkit::parseskip().ok());
    EXPECT_EQ(chunkit::skipstart, c.skip_start);
    EXPECT_EQ(chunkit::skipend, c.skip_end);
  }
}

TEST(Params, InvalidNumberEndsRun) {
  struct Case {
    std::vector<std::string> args;
    std::string typed, report;
  };
  const std::vector<Case> cases = {
      {{"12abc"}, "", "F6101: READ(internal)"},
      {{"1", "2", "3", "4x"}, "", "F6101: READ(internal)"},
      {{"s1x-4"}, "", "F6101: READ(internal)"},
      {{}, "1-\n", "F6101: READ(CON)"},
      {{"1"}, "0\n99999999999\n", "F6100: READ(CON)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    fake::FakePlatform fp;
    fp.stdin_data = c.typed;
    start(c.args);
    EXPECT_EQ(fake::status_of_end(chunkit::take_parameters()), 1);
    EXPECT_EQ(fp.err.rfind("\r\nrun-time error " + c.report + "\r\n- ", 0), 0u) << fp.err;
  }
}

}  // namespace
