#include "runtime/layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "console_text.h"
#include "ends.h"
#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/units.h"

namespace {

// A value of a write statement: 4-byte integer, count, 2-byte integer or text.
struct V {
  char kind;  // 'i', 'c', 's' or 't'
  std::int32_t num;
  std::string text;
};
V I4(std::int32_t n) {
  return {'i', n, {}};
}
V C(std::int32_t n) {
  return {'c', n, {}};
}
V I2(std::int16_t n) {
  return {'s', n, {}};
}
V T(std::string s) {
  return {'t', 0, std::move(s)};
}
using Vals = std::vector<V>;

constexpr std::string_view kList{};  // no layout: list-directed

void add(const Vals& vals) {
  for (const V& v : vals) {
    if (v.kind == 'i') rt::write_int4(v.num);
    if (v.kind == 'c') rt::write_count(v.num);
    if (v.kind == 's') rt::write_int2(static_cast<std::int16_t>(v.num));
    if (v.kind == 't') rt::write_text(v.text);
  }
}

rt::Status write(std::int32_t unit, std::string_view layout, const Vals& vals) {
  rt::write_begin(unit, layout);
  add(vals);
  return rt::write_end();
}

// The variable after an internal write; the write's status goes to *status when given.
// A write statement that must succeed.
void written(std::int32_t unit, std::string_view layout, const Vals& vals) {
  EXPECT_TRUE(write(unit, layout, vals).ok()) << layout;
}

std::string internal(std::string_view layout, const Vals& vals, std::size_t len,
                     rt::Status* status = nullptr) {
  std::string var(len, '#');
  rt::write_begin_internal(var.data(), len, layout);
  add(vals);
  const rt::Status s = rt::write_end();
  if (status != nullptr) *status = s;
  return var;
}

using fake::start;

const std::string kCopying = "(1x,' Copying:                  rec #',i8,' type'" +
                             std::string(39, ' ') + ",i3,2x,5i1,1x,6i1,a1,\\)";

TEST(InternalWrite, RendersValues) {
  struct Case {
    std::string layout;
    Vals vals;
    std::size_t len;
    std::string want;
  };
  const Case cases[] = {
      {"(i3.3)", {I4(0)}, 3, "000"},
      {"(i3.3)", {I4(7)}, 3, "007"},
      {"(i3.3)", {I4(999)}, 3, "999"},
      {"(i3.3)", {I4(1000)}, 3, "***"},
      {"(i5)", {I4(-9999)}, 5, "-9999"},
      {"(i5)", {I4(-10000)}, 5, "*****"},
      {"(i5)", {I2(-42)}, 6, "  -42 "},
      {"(i1)", {I4(12)}, 1, "*"},
      {"(i8)", {I4(0)}, 8, "       0"},
      {"(4i4)", {I4(9), I4(10), I4(99), I4(100)}, 16, "   9  10  99 100"},
      {"(i10,i10.10)", {I4(INT32_MAX), I4(105)}, 20, "21474836470000000105"},
      {"(i11)", {I4(INT32_MIN)}, 11, "-2147483648"},
      {"(3z1)", {I2(1), I2(10), I2(31)}, 10, "1AF       "},
      {"(z2,z1,z2)", {I2(18), I2(52), I2(7)}, 10, "124 7     "},
      {"(3z2)", {I2(0), I2(5), I2(255)}, 6, " 0 5FF"},
      {"(z3,z1)", {I4(427), I4(0)}, 4, "1AB0"},
      {"(z,1x,z)", {I2(-1), I4(-1)}, 13, "FFFF FFFFFFFF"},
      {"(15x,a,i7)",
       {T(" Found end of data at record "), I4(12)},
       60,
       std::string(15, ' ') + " Found end of data at record      12" + std::string(9, ' ')},
      {"(a3,a5,a)", {T("abcdef"), T("ab"), T("x ")}, 12, "abc   abx   "},
      {"('it''s',1h',2h a,'''')", {}, 8, "it's' a'"},
      {"(2a)", {T("one")}, 5, "one  "},
      {"(a,:,'tail')", {T("x")}, 5, "x    "},
      {"(a,'tail',i2,'no')", {T("x")}, 6, "xtail "},
      {" ( I3 , 2 X I1 ) ", {I4(1), I4(2)}, 6, "  1  2"},
      {"(2(i1,'-'),a)", {I4(1), I4(2), T("z")}, 5, "1-2-z"},
      {"(i1,3x)", {I4(5)}, 2, "5 "},  // blanks that no character follows never overflow
      // A count keeps its columns while it fits and widens its field when it does not.
      {"(i5,'|')", {C(99999)}, 6, "99999|"},
      {"(i5,'|')", {C(123456)}, 7, "123456|"},
      {"(i3.3,'|')", {C(1000)}, 5, "1000|"},
      {"(i1,i2)", {C(10), C(-5)}, 4, "10-5"},
      {"(i5,'|')", {C(INT32_MIN)}, 12, "-2147483648|"},
  };
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    start();
    EXPECT_EQ(internal(c.layout, c.vals, c.len), c.want) << c.layout;
  }
}

TEST(ConsoleWrite, CarriageControlAndLineState) {
  struct Case {
    const char* what;
    std::function<void()> run;
    std::string want;
  };
  const std::string rule = std::string(" ").append(74, '-');
  const std::string copy12 = text::copying(12, 2, "99123 235959");
  const auto progress = [](std::int32_t rec) {
    written(6, kCopying,
            {I4(rec), I4(2), I4(9), I4(9), I4(1), I4(2), I4(3), I4(2), I4(3), I4(5), I4(9), I4(5),
             I4(9), T("\r")});
  };
  const Case cases[] = {
      {"nothing to do after owed output",
       [] {
         written(rt::kDefaultUnit, "(a)", {T(" x")});
         written(rt::kDefaultUnit, "(/20x,a/)", {T(" Nothing to do!")});
       },
       "x\r\n\r\n" + std::string(19, ' ') + " Nothing to do!\r\n"},
      {"list-directed status echo",
       [] {
         written(rt::kDefaultUnit, "(a)", {T(" x")});
         written(rt::kDefaultUnit, kList, {T(" input status=    "), I2(-1)});
       },
       "x\r\n input status=             -1"},
      {"empty list-directed record",
       [] {
         written(6, "(a)", {T(" x")});
         written(rt::kDefaultUnit, kList, {});
       },
       "x\r\n"},
      {"usage rules",
       [] {
         written(rt::kDefaultUnit, "(/2x,74(1h-))", {});
         written(rt::kDefaultUnit, "(2a)", {T("  COPIES"), T(" OUTPUT")});
         written(rt::kDefaultUnit, "(2a)", {T("      or")});
         written(rt::kDefaultUnit, "(2x,74(1h-)/)", {});
       },
       "\r\n" + rule + "\r\n COPIES OUTPUT\r\n     or\r\n" + rule + "\r\n"},
      {"progress lines overwrite each other",
       [&] {
         written(6, "(a1,\\)", {T("\r")});
         progress(12);
         progress(12);
       },
       copy12 + copy12},
      {"carriage return record ends an owed line",
       [&] {
         written(6, "(a)", {T(" x")});
         written(6, "(a1\\)", {T("\r")});
         progress(12);
       },
       "x\r\n" + copy12},
      {"prompt keeps the cursor; the next record ends the line",
       [] {
         written(rt::kDefaultUnit, "(a\\)", {T(" Enter: ")});
         written(rt::kDefaultUnit, "(a)", {T(" y")});
       },
       "Enter:  y"},
      {"control characters",
       [] {
         written(6, "(a)", {T("0a")});
         written(6, "(a)", {T("0b")});
         written(6, "(a)", {T("1c")});
         written(6, "(a)", {T("+d")});
         written(6, "(a)", {T("")});
       },
       "\r\na\r\n\r\nb\r\n\f\r \rc\rd\r\n"},
      {"list-directed line splitting",
       [] {
         written(rt::kDefaultUnit, kList, {I4(1), I4(2), I4(3), I4(4), I4(5), I4(6), I4(7)});
         written(rt::kDefaultUnit, kList, {T(std::string(100, 'q'))});
       },
       "          1           2           3           4           5           6\r\n"
       "           7\r\n" +
           std::string(79, 'q') + "\r\n" + std::string(21, 'q')},
      // Records longer than the console's record buffer are written whole, on one line.
      {"long records",
       [] {
         written(6, "(a,a)", {T(std::string(" ").append(200, 'a')), T(std::string(200, 'b'))});
         written(6, "(1x,300x,'c',131('d'),\\)", {});
         written(6, "(a)", {T(std::string(400, 'e'))});
         written(6, "(a)", {T("0f")});
       },
       std::string(200, 'a') + std::string(200, 'b') + "\r\n" + std::string(300, ' ') + "c" +
           std::string(131, 'd') + std::string(400, 'e') + "\r\n\r\nf"},
      {"the longest record", [] { written(6, "(1x,32765('y'),'z')", {}); },
       std::string(32765, 'y') + "z"},
  };
  ASSERT_EQ(kCopying.size(), 111u);
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    start();
    c.run();
    EXPECT_EQ(flushed(fp), c.want) << c.what;
  }
}

TEST(ConsoleWrite, LineStateAfterStatements) {
  fake::FakePlatform fp;
  start();
  EXPECT_FALSE(rt::console_line_owed());
  written(6, "(a,\\)", {T(" p")});
  EXPECT_TRUE(rt::console_line_owed());
  EXPECT_TRUE(rt::console_line_continues());
  // A "\" that is not the last item interpreted leaves the line to end normally.
  written(6, "(a,\\,'x')", {T(" q")});
  EXPECT_FALSE(rt::console_line_continues());
  // Stopping at an unused data item after "\" keeps it.
  written(6, "(a,\\,a)", {T(" r")});
  EXPECT_TRUE(rt::console_line_continues());
  EXPECT_EQ(flushed(fp), "p qx\r\nr");
}

TEST(TextUnitWrite, RecordsAndReversion) {
  fake::FakePlatform fp;
  start();
  rt::OpenSpec req;
  req.status = "NEW";
  ASSERT_TRUE(rt::open_unit(20, "t.txt", req).ok());
  written(20, "(a,2i4)", {T(" ivstat,ivstatt:"), I4(123), I4(45)});
  written(20, "(a\\)", {T("no end ")});
  // Values left at the end: a new record from the last top-level group.
  written(20, "(1x,i1,2('<',i1,'>'))", {I4(1), I4(2), I4(3), I4(4), I4(5)});
  written(20, kList, {});
  written(20, "(a)", {T(std::string(300, 'x'))});
  fake::close_all();
  EXPECT_EQ(fp.contents("t.txt"), " ivstat,ivstatt: 123  45\r\nno end  1<2><3>\r\n<4><5>\r\n\r\n" +
                                      std::string(300, 'x') + "\r\n");
  EXPECT_EQ(fp.out, "");
}

TEST(WriteErrors, ReportAfterEarlierRecords) {
  struct Case {
    std::string layout;
    Vals vals;
    std::string out;  // console output before the end of the process
    const char* report;
  };
  const char* bad_item = "F6989: WRITE(CON)";
  const Case cases[] = {
      {"(a/q)", {T(" x")}, "x\r\n", bad_item},
      {"(a/a,i)", {T(" x"), T(" y")}, "x\r\n", "F6980: WRITE(CON)"},
      {"(a/'abc)", {T(" x")}, "x\r\n", "F6988: WRITE(CON)"},
      {"(a/i2.3)", {T(" x"), I4(1)}, "x\r\n", "F6990: WRITE(CON)"},
      {"(a/1x,i5", {T(" x"), I4(1)}, "x\r\n", bad_item},
      {"i5", {I4(1)}, "", bad_item},
      {"(a/40000x)", {T(" x")}, "x\r\n", bad_item},
      {"(a/200(200('-')))", {T(" x")}, "x\r\n", bad_item},
      {"(a/200(200x,'-'))", {T(" x")}, "x\r\n", bad_item},   // repeated skips too
      {"(a/2(20000(2h--)))", {T(" x")}, "x\r\n", bad_item},  // and repeated literals
      {"(a/100('" + std::string(330, '-') + "'))", {T(" x")}, "x\r\n", bad_item},
      {"(a/f5.2)", {T(" x")}, "x\r\n", bad_item},
      {"(1x,i1,('x'))", {I4(1), I4(2)}, "1x\r\n", bad_item},  // no item can take the 2
      {"(a/i5)", {T(" x"), T("y")}, "x\r\n", "F6205: WRITE(CON)"},
      {"(a/z2)", {T(" x"), T("y")}, "x\r\n", "F6205: WRITE(CON)"},
      {"(a/a)", {T(" x"), I4(1)}, "x\r\n", "F6207: WRITE(CON)"},
  };
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    start();
    EXPECT_EQ(fake::status_of_end(write(6, c.layout, c.vals)), 1) << c.layout;
    EXPECT_EQ(fp.out, c.out) << c.layout;
    EXPECT_EQ(fp.err.rfind(std::string("\r\nrun-time error ") + c.report + "\r\n- ", 0), 0u)
        << c.layout << ": " << fp.err;
  }
}

// A console or unit record goes on in parts up to 32767 characters; one more is an overflow.
TEST(WriteErrors, RecordLongerThanTheLongest) {
  for (const char* layout : {"(1x,32766('y'),'z')", "(32767x,'z')", "(a/30000x,3000x,'z')"}) {
    fake::FakePlatform fp;
    start();
    EXPECT_EQ(fake::status_of_end(write(6, layout, {T(" x")})), 1) << layout;
    EXPECT_EQ(fp.err.rfind("\r\nrun-time error F6600: WRITE(CON)\r\n- ", 0), 0u) << layout;
  }
}

TEST(WriteErrors, FaultsAreRaisedOnlyWhenReached) {
  fake::FakePlatform fp;
  start();
  EXPECT_EQ(internal("(a,:,q)", {T("x")}, 2), "x ");
  EXPECT_EQ(internal("(a,i5,q)", {T("x")}, 2), "x ");
  EXPECT_EQ(internal("(i1)junk", {I4(3)}, 1), "3");
}

TEST(WriteErrors, InternalOverflow) {
  struct Case {
    std::string layout;
    Vals vals;
  };
  const Case cases[] = {
      {"(i5)", {I4(1)}},
      {"(a)", {T("abcd")}},
      {"(a,/,a)", {T("a"), T("b")}},
      {"(3x,a1)", {T("a")}},
  };
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    start();
    EXPECT_EQ(fake::status_of_end([&] {
                rt::Status s;
                internal(c.layout, c.vals, 3, &s);
                return s;
              }),
              1)
        << c.layout;
    EXPECT_EQ(fp.err.rfind("\r\nrun-time error F6600: WRITE(internal)\r\n- ", 0), 0u) << c.layout;
  }
}

TEST(Layouts, SameContentSameResult) {
  fake::FakePlatform fp;
  start();
  // One buffer holding different layouts of the same length, and more layouts than are kept.
  char buf[6];
  for (int round = 0; round < 3; ++round) {
    for (int w = 1; w <= 40; ++w) {
      std::snprintf(buf, sizeof buf, "(i%02d)", w);
      std::string want = std::string(static_cast<std::size_t>(w - 1), ' ') + "7";
      EXPECT_EQ(internal({buf, 5}, {I4(7)}, static_cast<std::size_t>(w)), want) << buf;
    }
  }
  // Past its first 512 characters a layout is only read up to its final parenthesis.
  EXPECT_EQ(internal("(i2)" + std::string(600, ' '), {I4(5)}, 2), " 5");
  const std::string too_long = std::string("(").append(600, ' ') + "i2)";
  EXPECT_EQ(fake::status_of_end([&] {
              rt::Status s;
              internal(too_long, {I4(5)}, 2, &s);
              return s;
            }),
            1);
  EXPECT_EQ(fp.err.rfind("\r\nrun-time error F6989: WRITE(internal)", 0), 0u);
}

// A layout given often keeps its compiled form while that lasts, and is compiled again when
// other layouts have taken its place or the run-time started over.
TEST(Layouts, GivenOftenStaysRightWhenItsCompiledFormIsGone) {
  rt::Layout number("(1x,i4,\\)");
  rt::Layout text("(1x,a3)");
  const auto show = [&](std::int32_t n) {
    rt::write_begin(6, number);
    rt::write_int4(n);
    (void)rt::write_end();
    rt::write_begin(6, text);
    rt::write_text("ab");
    (void)rt::write_end();
  };
  for (int round = 0; round < 2; ++round) {
    fake::FakePlatform fp;
    start();
    show(1);
    show(22);
    char buf[6];
    for (int w = 1; w <= 40; ++w) {  // more layouts than are kept
      std::snprintf(buf, sizeof buf, "(i%02d)", w);
      internal({buf, 5}, {I4(7)}, static_cast<std::size_t>(w));
    }
    show(333);
    EXPECT_EQ(flushed(fp), "   1  ab\r\n  22  ab\r\n 333  ab") << round;
  }
}

// Layouts of fixed fields are filled in from a stencil; with a ":" added they are interpreted.
// Both must give the same bytes, the same line state and the same failures.
TEST(ConsoleWrite, StencilMatchesInterpretation) {
  struct Case {
    std::string layout;  // ends in ")"
    Vals vals;
  };
  const Case cases[] = {
      {kCopying,
       {I4(12), I4(2), I4(9), I4(9), I4(1), I4(2), I4(3), I4(2), I4(3), I4(5), I4(9), I4(5), I4(15),
        T("\r")}},
      {kCopying,
       {I4(-1234567), I4(-98), I4(0), I4(10), I4(-1), I4(2), I4(3), I4(2), I4(3), I4(5), I4(9),
        I4(5), I4(9), T("\r")}},
      {"(i3.3,i5,i2,i11,i1)", {I4(7), I4(-10000), I4(-9), I4(INT32_MIN), I4(-1)}},
      {"(i1,i2,i3,i4,i5,i10,i10)",
       {I4(9), I4(10), I4(100), I4(1010), I4(-1001), I4(1000000000), I4(INT32_MAX)}},
      {"(i4.4,i6.2,i3.3)", {I4(-12), I4(-3), I4(1000)}},
      {"(i5,i3)", {I2(-42), I2(32767)}},
      {"(1x,a3,a5,a1,2x)", {T("abcdef"), T("ab"), T("")}},
      {"('it''s',1h',2x,2h a,i2,3x,'end',\\)", {I4(5)}},
      {"(a,\\)", {T(" p")}},
      {"(1x,130('x'),i1)", {I4(3)}},  // 132 characters: the whole buffer
      {"(1x,131('x'),i1)", {I4(3)}},  // one more: written in parts
      {"(1x,i2,i2)", {I4(1)}},        // fewer values than fields
      {"(1x,i2)", {I4(1), I4(2)}},    // more values: reversion
      {"(1x,i2,a2)", {I4(1), I4(2)}},
      {"(1x,i2,a2)", {T("x"), T("y")}},
      {"(1x,z2,i2)", {I4(31), I4(2)}},
      // Counts: in the stencil while they fit, else as the interpretation widens them.
      {kCopying,
       {C(99999999), I4(1), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0),
        I4(0), T("\r")}},
      {kCopying,
       {C(123456789), I4(1), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0), I4(0),
        I4(0), T("\r")}},
      {"(1x,i3,2i1,a1)", {C(-1000), C(7), C(12), T("x")}},
  };
  for (const Case& c : cases) {
    const std::string interpreted = c.layout.substr(0, c.layout.size() - 1) + ",:)";
    std::string out[2], err[2];
    int status[2];
    bool owed[2], continues[2];
    for (int k = 0; k < 2; ++k) {
      fake::FakePlatform fp;
      start();
      written(6, "(a)", {T(" before")});
      status[k] = fake::status_of_end([&] {
        RETURN_IF_FAILED(write(6, k == 0 ? c.layout : interpreted, c.vals));
        return write(20, k == 0 ? c.layout : interpreted, c.vals);  // a text unit: t.txt
      });
      out[k] = flushed(fp) + "|" + fp.contents("t.txt");
      err[k] = fp.err;
      owed[k] = rt::console_line_owed();
      continues[k] = rt::console_line_continues();
    }
    EXPECT_EQ(out[0], out[1]) << c.layout;
    EXPECT_EQ(err[0], err[1]) << c.layout;
    EXPECT_EQ(status[0], status[1]) << c.layout;
    EXPECT_EQ(owed[0], owed[1]) << c.layout;
    EXPECT_EQ(continues[0], continues[1]) << c.layout;
  }
}

}  // namespace
