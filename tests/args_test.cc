#include "runtime/args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"

namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLine, WordsAfterTheProgramName) {
  struct Case {
    std::string after;  // text after "prog "
    Words words;
  };
  const Case cases[] = {
      {"a b", {"a", "b"}},
      {"\"my file\" out", {"my file", "out"}},
      {"a\\\\b", {"a\\\\b"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"a\"\"b\" c", {"a\"b c"}},  // the doubled quote keeps the quoted part going
      {"\"a\\\"b\" c", {"a\"b", "c"}},
      {"x \"y z", {"x", "y z"}},
      {"  \t a\t\tb  ", {"a", "b"}},
      {"\"\" b", {"", "b"}},
      {"a\\\\\\\"b", {"a\\\"b"}},  // three backslashes and a quote: one backslash, a quote
      {"", {}},
  };
  for (const Case& c : cases) {
    Words got = rt::split_command_line("prog " + c.after);
    Words want = {"prog"};
    want.insert(want.end(), c.words.begin(), c.words.end());
    EXPECT_EQ(got, want) << "command line: prog " << c.after;
  }
}

TEST(SplitCommandLine, WordZero) {
  // A quoted program path keeps its backslashes; a character right after the quote starts word 1.
  EXPECT_EQ(rt::split_command_line("\"C:\\my dir\\prog.exe\"x y"),
            (Words{"C:\\my dir\\prog.exe", "x", "y"}));
  // Unquoted, quotes and backslashes are plain characters and a blank ends it.
  EXPECT_EQ(rt::split_command_line("c:\\a\"b c"), (Words{"c:\\a\"b", "c"}));
  EXPECT_EQ(rt::split_command_line(""), (Words{""}));
}

TEST(SplitCommandLine, DoubleByteCharactersStayWhole) {
  auto lead = [](unsigned char c) { return c == 0x81; };
  // The second byte of a pair is never a blank, quote or backslash.
  EXPECT_EQ(rt::split_command_line("p\x81 q \x81\" r", lead), (Words{"p\x81 q", "\x81\"", "r"}));
}

std::string fetch(int n, int len, std::int16_t* status, char fill = '#') {
  std::string buf(static_cast<std::size_t>(len), fill);
  rt::fetcharg(n, buf.data(), len, status);
  return buf;
}

TEST(FetchArg, StatusesAndBuffer) {
  fake::FakePlatform fp;  // words already split by the system
  std::string long_word(85, 'x');
  const char* argv[] = {"prog", "in.dat", "", long_word.c_str()};
  ASSERT_TRUE(rt::args_init(4, argv));
  EXPECT_EQ(rt::argcount(), 4);

  std::int16_t status = 99;
  EXPECT_EQ(fetch(1, 8, &status), "in.dat  ");
  EXPECT_EQ(status, 6);
  EXPECT_EQ(fetch(2, 4, &status), "    ");  // an empty word: status 0, all blanks
  EXPECT_EQ(status, 0);
  EXPECT_EQ(fetch(3, 80, &status), std::string(80, 'x'));  // cut, but the full length
  EXPECT_EQ(status, 85);
  for (int n : {-1, 4, 65536, INT32_MAX}) {
    status = 99;
    EXPECT_EQ(fetch(n, 5, &status), "#####") << n;  // absent: buffer untouched
    EXPECT_EQ(status, -1);
  }
  EXPECT_EQ(fetch(0, 6, nullptr), "prog  ");  // no status wanted
}

TEST(FetchArg, HugeLengthNeverReadsAsAbsent) {
  fake::FakePlatform fp;  // words already split by the system
  std::string huge(65535, 'y');
  const char* argv[] = {"prog", huge.c_str()};
  ASSERT_TRUE(rt::args_init(2, argv));
  std::int16_t status = 0;
  fetch(1, 80, &status);
  EXPECT_EQ(status, 32767);
}

TEST(NextName, TakesWordsFromOneOnwardIndependentlyOfFetches) {
  fake::FakePlatform fp;  // words already split by the system
  const char* argv[] = {"prog", "a", "b"};
  ASSERT_TRUE(rt::args_init(3, argv));
  std::int16_t status;
  fetch(1, 4, &status);
  fetch(2, 4, &status);
  std::string_view w;
  ASSERT_TRUE(rt::take_next_name(&w));
  EXPECT_EQ(w, "a");
  ASSERT_TRUE(rt::take_next_name(&w));
  EXPECT_EQ(w, "b");
  EXPECT_FALSE(rt::take_next_name(&w));
}

// Where the system hands over the command line as one string, the words are split from it
// (with its code page's double-byte characters), not taken from what the C runtime split.
TEST(ArgsInit, SplitsTheCommandLineTheSystemHandsOver) {
  fake::FakePlatform fp;
  fp.line = "prog \"a\"\"b c \x81\" d";
  const char* argv[] = {"prog", "ab", "c"};
  ASSERT_TRUE(rt::args_init(3, argv));
  EXPECT_EQ(rt::argcount(), 5);
  std::int16_t status = 0;
  EXPECT_EQ(fetch(1, 4, &status), "a\"b ");
  EXPECT_EQ(fetch(3, 2, &status), "\x81\"");
  EXPECT_EQ(fetch(4, 1, &status), "d");
}

}  // namespace
