#include "chunkit_/options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/input.h"

namespace {

using chunkit::Action;
using chunkit::Mode;

// A number is whole when its field reads without error, holds a digit and takes every
// character; whatever it takes reads as a read statement reads it.
TEST(Options, WholeNumbers) {
  struct Case {
    std::string text;
    std::size_t width;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"25", 10, 25},
      {" 2 5 ", 10, 25},
      {"-7", 10, -7},
      {"+0", 5, 0},
      {"16#A", 10, 10},
      {"#ff", 5, 255},
      {"2147483647", 10, 2147483647},
      {"4096      ", 5, 4096},  // blanks past the field are nothing left over
      {"12,", 10, 12},
      {"", 10, std::nullopt},
      {"   ", 10, std::nullopt},
      {"+", 10, std::nullopt},
      {"16#", 10, std::nullopt},
      {"3x", 10, std::nullopt},
      {"1-", 10, std::nullopt},
      {"12,5", 10, std::nullopt},
      {"123456", 5, std::nullopt},  // the field would read 12345 and leave the 6
      {"16#FFF", 5, std::nullopt},
      {"12345678901", 10, std::nullopt},
      {"2147483648", 10, std::nullopt},
      {"1\x1a", 10, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\" in " + std::to_string(c.width));
    EXPECT_EQ(rt::whole_number(c.text, c.width), c.value);
  }
}

TEST(Options, SkipRanges) {
  struct Case {
    std::string arg;
    std::int32_t first = 0, last = 0;
    bool ok = true;
  } cases[] = {
      {"s5", 5, 5},          {"S5-10", 5, 10},        {"s-7", 0, 7},       {"s 12 - 20", 12, 20},
      {"s10-5", 10, 5},  // well formed; the checks of a command line refuse it
      {"s#A-16#14", 10, 20}, {"s", 0, 0, false},      {"s-", 0, 0, false}, {"s5-", 0, 0, false},
      {"s5-x", 0, 0, false}, {"s5-6-7", 0, 0, false}, {"5", 0, 0, false},  {"x5", 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    const std::optional<chunkit::SkipRange> r = chunkit::skip_range(c.arg);
    ASSERT_EQ(r.has_value(), c.ok);
    if (r) {
      EXPECT_EQ(r->first, c.first);
      EXPECT_EQ(r->last, c.last);
    }
  }
}

// Options come first and "--" ends them; the two modes check every argument after them.
TEST(Options, CommandLines) {
  struct Case {
    std::vector<std::string_view> args;
    Action action;
    Mode mode;
    std::int32_t taken;
    std::string error;
  } cases[] = {
      {{"in.dat", "out.dat", "1"}, Action::kRun, Mode::kCopy, 0, ""},
      {{"-h"}, Action::kHelp, Mode::kCopy, 0, ""},
      {{"--list", "--help"}, Action::kHelp, Mode::kCopy, 0, ""},
      {{"--version", "x"}, Action::kVersion, Mode::kCopy, 0, ""},
      {{"-x", "out"}, Action::kRun, Mode::kCopy, 0, ""},
      {{"--", "--x", "out"}, Action::kRun, Mode::kCopy, 1, ""},
      {{"--", "--list"}, Action::kRun, Mode::kCopy, 1, ""},
      {{"--helpx"}, Action::kUsageError, Mode::kCopy, 0, "unknown option: --helpx"},
      {{"--list", "in"}, Action::kRun, Mode::kList, 1, ""},
      {{"--list", "--list", "--", "--in"}, Action::kRun, Mode::kList, 3, ""},
      {{"--list", "in", "3", "1", "9", "4096", "s5", "s7-8"}, Action::kRun, Mode::kList, 1, ""},
      {{"--list", "in", "s-2", "s4", "S9-12"}, Action::kRun, Mode::kList, 1, ""},
      {{"--batch", "in", "out"}, Action::kRun, Mode::kBatch, 1, ""},
      {{"--batch", "in", "out", "5"}, Action::kRun, Mode::kBatch, 1, ""},
      {{"--batch", "in", "out", " 16#A ", "0", "-1", "2,"}, Action::kRun, Mode::kBatch, 1, ""},
      {{"--list", "--batch", "in"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "--list and --batch exclude each other"},
      {{"--list"}, Action::kUsageError, Mode::kCopy, 0, "no input file given"},
      {{"--batch", "in"}, Action::kUsageError, Mode::kCopy, 0, "no output file given"},
      {{"--batch", "", "out"}, Action::kUsageError, Mode::kCopy, 0, "input name is blank"},
      {{"--batch", "in", "  "}, Action::kUsageError, Mode::kCopy, 0, "output name is blank"},
      {{"--batch", "in", "out", "1", "0", "3x"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "position 3 is not a number: 3x"},
      {{"--batch", "in", "out", "1", ""},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "position 2 is empty"},
      {{"--list", "in", "1", "123456"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "position 2 is not a number: 123456"},
      {{"--list", "in", "1", "0", "s5"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "position 3 is not a number: s5"},
      {{"--batch", "in", "out", "1", "0", "3", "0", "5", "0", "7", "0"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "only skip ranges may follow the four positions: 5"},
      {{"--batch", "in", "out", "s5", "7"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "only skip ranges may follow a skip range: 7"},
      {{"--batch", "in", "out", "s5-"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip range is not s#, s#-## or s-##: s5-"},
      {{"--batch", "in", "out", "s9-3"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip range ends before it starts: s9-3"},
      {{"--batch", "in", "out", "s15-20", "s5-10"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip ranges must ascend without overlapping: s5-10"},
      {{"--batch", "in", "out", "s5-10", "s10-12"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip ranges must ascend without overlapping: s10-12"},
      {{"--batch", "in", "out", "s5", "s-9"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip ranges must ascend without overlapping: s-9"},
      // Skip ranges the copy would only reach in a further pass.
      {{"--batch", "in", "out", "1", "0", "3", "0", "s2", "s4"}, Action::kRun, Mode::kBatch, 1, ""},
      {{"--batch", "in", "out", "1", "0", "3", "0", "s5", "s6"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip range lies past the last record to copy (3): s6"},
      {{"--list", "in", "1", "0", "-1", "0", "s3"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip range lies past the last record to copy (-1): s3"},
      {{"--list", "in", "s5-999999999", "s1000000000"},
       Action::kUsageError,
       Mode::kCopy,
       0,
       "skip range lies past the last record to copy (999999999): s1000000000"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (std::string_view a : c.args) line.append(a).append(" ");
    SCOPED_TRACE(line);
    const chunkit::Invocation inv = chunkit::read_command_line(c.args);
    EXPECT_EQ(inv.action, c.action);
    EXPECT_EQ(inv.error, c.error);
    if (inv.action != Action::kRun) continue;
    EXPECT_EQ(inv.mode, c.mode);
    EXPECT_EQ(inv.taken, c.taken);
  }
  // Names as long as an open takes, and one longer.
  const std::string name(259, 'n');
  const std::string longer(260, 'n');
  EXPECT_EQ(chunkit::read_command_line(std::vector<std::string_view>{"--batch", name, name}).action,
            Action::kRun);
  EXPECT_EQ(chunkit::read_command_line(std::vector<std::string_view>{"--list", longer}).error,
            "input name is longer than 259 characters: " + longer);
  // The copy reads 80 characters of an argument; the checks take no longer one.
  const std::string skip = "s5" + std::string(90, ' ') + "-7";
  EXPECT_EQ(chunkit::read_command_line(std::vector<std::string_view>{"--list", "in", skip}).error,
            "argument longer than 80 characters: " + skip);
}

}  // namespace
