#include "runtime/input.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ends.h"
#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/layout.h"
#include "runtime/units.h"

namespace {

int console_int(fake::FakePlatform& fp, std::string_view layout, std::int32_t* v) {
  return fake::error_of(fp, [&] {
    rt::read_begin_console(layout);
    rt::read_int4(v);
    return rt::read_end();
  });
}

// The text a console read gives; the read's status goes to *status when given.
std::string console_text(std::string_view layout, std::size_t len, rt::Status* status = nullptr) {
  std::string s(len, '?');
  rt::read_begin_console(layout);
  rt::read_text(s.data(), len);
  const rt::Status r = rt::read_end();
  if (status != nullptr) *status = r;
  return s;
}

}  // namespace

// The same field read from a console line and from a character variable gives the same
// value or the same error.
TEST(Input, NumericFields) {
  struct Case {
    const char* layout;
    std::string text;
    std::int32_t value;
    int error;
  } cases[] = {
      {"(i10)", "  25", 25, 0},
      {"(i10)", "2 5", 25, 0},
      {"(i10)", "\t4\t2", 42, 0},
      {"(i10)", "-7", -7, 0},
      {"(i10)", "007", 7, 0},
      {"(i10)", "", 0, 0},
      {"(i10)", " 1 000 ", 1000, 0},
      {"(i10)", "+", 0, 0},
      {"(i10)", "1-", 0, 6101},
      {"(i10)", "12,5", 12, 0},
      {"(i10)", "3,9", 3, 0},
      {"(i10)", "99999999999", 0, 6100},
      {"(i10)", "2147483647", 2147483647, 0},
      {"(i10)", "2147483648", 0, 6100},
      {"(i11)", "-2147483648", INT32_MIN, 0},
      {"(i11)", "-2147483649", 0, 6100},
      {"(i10)", "12abc", 0, 6101},
      {"(i10)", "16#1F", 31, 0},
      {"(i10)", "#FF", 255, 0},
      {"(i10)", "00#ff", 255, 0},
      {"(i10)", "2#101", 5, 0},
      {"(i10)", "-16#1f", -31, 0},
      {"(i11)", "16#FFFFFFFF", -1, 0},
      {"(i12)", "16#1FFFFFFFF", 0, 6100},
      {"(i13)", "10#2147483648", 0, 6100},
      {"(i10)", "2#102", 0, 6101},
      {"(i10)", "37#1", 0, 6303},
      {"(i10)", "1#1", 0, 6303},
      {"(i20)", "99999999999#1", 0, 6303},
      {"(i10)", "16#1#1", 0, 6302},
      {"(i10)", "1\x1a", 0, 6501},
      {"(i5)", "4096", 4096, 0},
      {"(i5)", "40960000", 40960, 0},
      {"(2x,i3)", "ab1234", 123, 0},
      {"(z3)", "1af", 431, 0},
      {"(z3)", " 1F", 31, 0},
      {"(z3)", "1G0", 0, 6510},
      {"(z3)", "-1", 0, 6510},
      {"(z8)", "FFFFFFFF", -1, 0},
      {"(i10,'x')", "5", 5, 6509},
      {"(q10)", "5", 0, 6989},
      {"(i)", "5", 0, 6980},
      {"i10", "5", 0, 6989},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + " on \"" + c.text + "\"");
    {
      fake::FakePlatform fp;
      start(fp, c.text + "\n");
      std::int32_t v = -99;
      EXPECT_EQ(console_int(fp, c.layout, &v), c.error);
      EXPECT_EQ(v, c.error != 0 && c.value == 0 ? -99 : c.value);
      if (c.error != 0) {
        EXPECT_NE(fp.err.find(": READ(CON)\r\n"), std::string::npos);
      }
    }
    {
      fake::FakePlatform fp;
      start(fp, "");
      std::int32_t v = -99;
      int error = fake::error_of(fp, [&] {
        rt::read_begin_internal(c.text.data(), c.text.size(), c.layout);
        rt::read_int4(&v);
        return rt::read_end();
      });
      EXPECT_EQ(error, c.error);
      EXPECT_EQ(v, c.error != 0 && c.value == 0 ? -99 : c.value);
      if (c.error != 0) {
        EXPECT_NE(fp.err.find(": READ(internal)\r\n"), std::string::npos);
      }
    }
  }
}

// A character variable is one record: past its end are blanks, only the first w characters of a
// longer one are read, each field continues where the last one ended, and a target stored
// before a failing field keeps its value.
TEST(Input, InternalRecords) {
  struct Case {
    std::string var;
    const char* layout;
    std::vector<std::int32_t> values;  // -99: left unchanged
    int error;
  } cases[] = {
      {"123", "(i10)", {123}, 0},
      {"", "(i10)", {0}, 0},
      {"123456" + std::string(74, ' '), "(i5)", {12345}, 0},
      {"s12", "(i10)", {-99}, 6101},
      {"1 2 3", "(5i1)", {1, 0, 2, 0, 3}, 0},
      {"123", "(6i1)", {1, 2, 3, 0, 0, 0}, 0},
      {"1A", "(5i1)", {1, -99, -99, -99, -99}, 6101},
      {"12", "(i1)", {1, -99}, 6501},  // no record left for the second target
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + " on \"" + c.var + "\"");
    fake::FakePlatform fp;
    start(fp, "");
    std::vector<std::int32_t> got(c.values.size(), -99);
    std::string before = c.var;
    EXPECT_EQ(fake::error_of(fp,
                             [&] {
                               rt::read_begin_internal(c.var.data(), c.var.size(), c.layout);
                               for (auto& v : got) rt::read_int4(&v);
                               return rt::read_end();
                             }),
              c.error);
    EXPECT_EQ(got, c.values);
    EXPECT_EQ(c.var, before);
  }
}

TEST(Input, TextFields) {
  struct Case {
    const char* layout;
    std::size_t len;
    std::string line;
    std::string expect;
  } cases[] = {
      {"(a)", 8, "", "        "},        {"(a)", 8, "ab\tc ", "ab\tc    "},
      {"(a)", 8, "ab\r", "ab      "},    {"(a)", 4, "abcdefgh", "abcd"},
      {"(a3)", 6, "abcdefgh", "abc   "}, {"(a6)", 4, "abcdefgh", "cdef"},
      {"(a6)", 4, "abc", "c   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + " on \"" + c.line + "\"");
    fake::FakePlatform fp;
    start(fp, c.line + "\nnext\n");
    EXPECT_EQ(console_text(c.layout, c.len), c.expect);
    EXPECT_EQ(console_text("(a)", 4), "next");
  }
}

// A 100-character terminal line read into 80 characters keeps 80; the rest is dropped.
TEST(Input, TerminalDropsRestOfLine) {
  fake::FakePlatform fp;
  start(fp, std::string(80, 'x') + std::string(20, 'y') + "\r\nsecond\r\n", true);
  EXPECT_EQ(console_text("(a)", 80), std::string(80, 'x'));
  EXPECT_EQ(console_text("(a)", 6), "second");
}

TEST(Input, EndOfInputReport) {
  fake::FakePlatform fp;
  start(fp, "");
  std::int32_t v = 5;
  EXPECT_EQ(console_int(fp, "(i10)", &v), 6501);
  EXPECT_EQ(v, 5);
  const std::string head = "\r\nrun-time error F6501: READ(CON)\r\n- ";
  ASSERT_GT(fp.err.size(), head.size() + 2);
  EXPECT_EQ(fp.err.substr(0, head.size()), head);
  EXPECT_EQ(fp.err.find('\n', head.size()), fp.err.size() - 1);  // a one-line message
  EXPECT_EQ(fp.err.back(), '\n');
  EXPECT_EQ(fp.err[fp.err.size() - 2], '\r');
}

// Ctrl-Z as the last character of a line signals the end of input, on a terminal and from a
// redirected input alike.
TEST(Input, CtrlZEndsInput) {
  for (bool terminal : {true, false}) {
    for (const char* line : {"\x1a\n", "ab\x1a\r\n", "ab\x1a"}) {
      SCOPED_TRACE(testing::Message() << terminal << " " << line);
      fake::FakePlatform fp;
      start(fp, line, terminal);
      EXPECT_EQ(fake::error_of(fp,
                               [&] {
                                 rt::Status s;
                                 console_text("(a)", 10, &s);
                                 return s;
                               }),
                6501);
    }
  }
}

// Redirected input: lines may arrive in pieces and a refill may hold several lines; a last line
// without a line end is still a line; each statement takes one line.
TEST(Input, RedirectedLines) {
  for (std::size_t chunk : {1, 3, 132, 4096}) {
    SCOPED_TRACE(testing::Message() << "chunk " << chunk);
    fake::FakePlatform fp;
    fp.stdin_chunk = chunk;
    start(fp, "  17 junk\r\n" + std::string(200, 'w') + "\nhello world\n\n-5");
    std::int32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(console_int(fp, "(i5)", &a), 0);
    EXPECT_EQ(console_text("(a)", 3), "www");
    EXPECT_EQ(console_text("(a)", 12), "hello world ");
    EXPECT_EQ(console_int(fp, "(i10)", &b), 0);
    EXPECT_EQ(console_int(fp, "(i10)", &c), 0);
    EXPECT_EQ(a, 17);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(c, -5);
    EXPECT_EQ(console_int(fp, "(i10)", &c), 6501);
  }
}

// With a terminal on both sides a read ends the output line: an owed line end is written
// before the read unless the prompt asked to keep the cursor on its line.
TEST(Input, ConsoleLineState) {
  struct Case {
    bool terminal;
    const char* layout;
    const char* out;
    bool owed_after;
  } cases[] = {
      {true, "(a\\)", "Name: ", false},
      {true, "(a)", "Name: \r\n", false},
      {false, "(a\\)", "Name: ", true},
      {false, "(a)", "Name: ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.terminal << " " << c.layout);
    fake::FakePlatform fp;
    start(fp, "x\n", c.terminal);
    rt::write_begin(rt::kDefaultUnit, c.layout);
    rt::write_text(" Name: ");
    (void)rt::write_end();
    EXPECT_EQ(console_text("(a)", 1), "x");
    (void)rt::console_flush();
    EXPECT_EQ(fp.out, c.out);
    EXPECT_EQ(rt::console_line_owed(), c.owed_after);
  }
}

TEST(Input, InterruptDuringReadEndsRun) {
  fake::FakePlatform fp;
  start(fp, "1\n");
  fp.interrupt = 2;
  std::int32_t v = 0;
  rt::read_begin_console("(i10)");
  rt::read_int4(&v);
  const rt::Status s = rt::read_end();
  EXPECT_EQ(s.what(), rt::Status::What::kInterrupt);
  EXPECT_EQ(fake::status_of_end(s), -2);
}
