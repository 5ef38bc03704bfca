// End-to-end runs of the real Chunkit_ binary on files built here, with every byte of
// standard output, standard error and the output file compared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "console_text.h"
#include "run_binary.h"
#include "screen.h"

namespace {

using e2e::kWholeCopy;
using e2e::Result;
using e2e::TempDir;
using namespace text;

// Records whose bytes tell record and position apart, all of type 1 but record 5: a dated
// record of type 2 (year 99, day 123, 23:59:59, equal status values 123).
std::string records(int n) {
  std::string data = e2e::type1_records(n, 1);
  if (n >= 5) e2e::set_bytes(data, 5, e2e::kDated + "12=31 13=32 14=33 15=31 16=32 17=33");
  return data;
}
const std::string kDigits5 = "99123 235959";  // the digits record 5 shows

// The console text up to the echo of the copy values, for the input name, the output name
// shown (as long as the name given) and the given value arguments (each a position argument,
// pipes on both sides).
std::string header(const std::string& out, const std::vector<std::string>& values,
                   const std::string& in = "in.dat") {
  std::vector<int> lengths;
  for (const std::string& v : values) lengths.push_back(static_cast<int>(v.size()));
  return status(kInput, static_cast<int>(in.size())) + "\r\n" +
         status(kOutput, static_cast<int>(out.size())) + "\r\n Input,output=" + in + " " + out +
         " " + (values.empty() ? "" : "\r\n" + value_statuses(lengths));
}

// The line end and carriage return written before the first copying line of a pass.
const std::string kStartCopy = "\r\n\r\n";

TEST(EndToEnd, TypicalRunCopiesASectionIntoANewName) {
  TempDir dir;
  std::string in = records(20);
  dir.write("in.dat", in);
  dir.write("out.dat", "keep me");
  Result r = dir.run({"in.dat", "out.dat", "3", "10", "7", "100"});
  EXPECT_EQ(r.out, header("out.001", {"3", "10", "7", "100"}) + echo_values(3, 10, 7, 100) +
                       "\r\n" + decoding(1) + decoding(2) + " \r\n" + copying(3) + copying(4) +
                       copying(5, 2, kDigits5) + copying(6) + copying(7) + exit_message(8));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("out.dat"), "keep me");
  EXPECT_EQ(dir.read("out.001"), in.substr(2 * 4096 + 9, 4096 - 9 + 3 * 4096 + 100));
}

TEST(EndToEnd, UsageText) {
  TempDir dir;
  const std::string rule = std::string(" ").append(74, '-');
  const std::string want =
      "\r\n" + rule +
      "\r\n COPIES SECTIONS OF THE INPUT FILE TO THE OUTPUT FILE. Command-line format:"
      "\r\n" +
      std::string("    Chunkit_ input output s#         ").substr(1) +
      "  (skip rec #,        copy the rest)"
      "\r\n     or"
      "\r\n" +
      std::string("    Chunkit_ input output s#-##      ").substr(1) +
      "  (skip recs # to ##, copy the rest)"
      "\r\n     or"
      "\r\n" +
      std::string("    Chunkit_ input output s#-## s@-@@").substr(1) +
      "  (skip recs # to ## & @ to @@; @>##)"
      "\r\n     or"
      "\r\n   Chunkit_ input output startrec startbyte endrec endbyte "
      "\r\n       (copy from record,byte to record,byte: each record \xF0 a 4-k block)"
      "\r\n"
      "\r\n  ZEROES (0) CAN BE USED FOR DEFAULT PARAMETERS (first/last rec/byte)"
      "\r\n"
      "\r\n  IF OUTPUT FILE EXISTS, A NEW OUTPUT FILE IS STARTED WITH EXTENSION"
      "\r\n     .001, .002, .003 ...  (instead of the requested extension if any)";
  const std::string end = "\r\n" + rule + "\r\n" + kStop;
  // --help and -h add the modes for programs before the closing rule.
  const std::string help =
      "\r\n"
      "\r\n  FOR PROGRAMS: no questions, no console text, lines ending in LF alone:"
      "\r\n   Chunkit_ --list input [positions] [s#-## ...]"
      "\r\n       (one tab-separated line for each record a copy writes bytes of:"
      "\r\n        record offset length type digits date time note when)"
      "\r\n   Chunkit_ --batch input output [positions] [s#-## ...]"
      "\r\n       (checks every argument first, copies, then writes one line:"
      "\r\n        the name created, the records and the bytes written)"
      "\r\n   Chunkit_ --summary input [positions] [s#-## ...]"
      "\r\n       (records, types, time covered, gaps and damage; --gap SECONDS)"
      "\r\n   Chunkit_ --split BY input pattern [positions] [s#-## ...]"
      "\r\n       (a file per day, type or N records: fields %Y %y %j %m %d %t %n;"
      "\r\n        all the files or none, then a line for each as --batch writes)"
      "\r\n  Positions: startrec startbyte endrec endbyte, missing ones 0. Skip"
      "\r\n  ranges ascend. Exit status 2 for a usage error. -- ends the options."
      "\r\n  Options before the input: --from T and --to T keep the records whose"
      "\r\n  time is from T and before T (T: YY-DDD, YYYY-DDD or YYYY-MM-DD, then"
      "\r\n  THH:MM[:SS] if wanted); --type 2,3 keeps those types."
      "\r\n  An input or output - is standard input or output (the line then goes"
      "\r\n  to standard error).";
  struct Case {
    std::vector<std::string> args;
    bool help;
  };
  for (const Case& c : {Case{{}, false},
                        {{"?"}, false},
                        {{"a?b", "out", "1"}, false},
                        {{"--"}, false},
                        {{"--help"}, true},
                        {{"-h", "in.dat", "out.dat"}, true},
                        {{"--list", "--help"}, true}}) {
    Result r = dir.run(c.args);
    EXPECT_EQ(r.out, want + (c.help ? help : "") + end) << c.args.size() + 1;
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_FALSE(dir.exists("out.dat"));
}

TEST(EndToEnd, VersionIsOneLineAndAnOrdinaryEnd) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, {"--version", "in.dat", "out.dat"}}) {
    Result r = dir.run(args);
    EXPECT_EQ(r.out, "Chunkit_ " CHUNKIT_VERSION "\n") << args.size() + 1;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_FALSE(dir.exists("out.dat"));
}

// Only the exact words ask for help or the version; a word of one "-" names the input file.
TEST(EndToEnd, FilesNamedLikeOptions) {
  TempDir dir;
  for (const std::string name : {"-hx", "-H", "-"}) {
    Result r = dir.run({name, "out.dat"});
    EXPECT_EQ(r.out, status(kInput, static_cast<int>(name.size())) + "\r\n");
    EXPECT_EQ(r.err, "\r\nrun-time error F6416: OPEN(" + name + ")\r\n- file not found\r\n");
    EXPECT_EQ(r.status, 1) << name;
  }

  std::string in = records(2);
  dir.write("--help", in);
  Result r = dir.run({"./--help", "out.dat", "1", "1", "1", "10"});
  EXPECT_EQ(r.out, header("out.dat", {"1", "1", "1", "10"}, "./--help") + echo_values(1, 1, 1, 10) +
                       kStartCopy + copying(1) + exit_message(2));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("out.dat"), in.substr(0, 10));
}

TEST(EndToEnd, MissingInputFile) {
  TempDir dir;
  Result r = dir.run({"in.dat", "out.dat"});
  EXPECT_EQ(r.out, status(kInput, 6) + "\r\n");
  EXPECT_EQ(r.err.substr(0, 38), "\r\nrun-time error F6416: OPEN(in.dat)\r\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir.exists("out.dat"));
}

TEST(EndToEnd, WholeFileWithShortFinalRecordShowsBothBoxes) {
  TempDir dir;
  std::string last = e2e::type1_records(1, 4).substr(0, 1000);
  dir.write("in.dat", records(3) + last);
  Result r = dir.run(kWholeCopy);
  const std::string pad(14, ' ');
  const std::string rec_rule = std::string(" ").append(35, '-'),
                    byte_rule = std::string(" ").append(31, '-');
  std::string want = header("out.dat", {"0", "0", "0", "0"}) + echo_values(1, 1, 999999999, 4096) +
                     kStartCopy + copying(1) + copying(2) + copying(3) + " \r\n" + pad + rec_rule +
                     "\r\n" + pad + " Found end of data at record " + num(4, 7) + "\r\n" + pad +
                     rec_rule + "\r\n\r\n" + pad + byte_rule + "\r\n" + pad +
                     " Found end of data at byte " + num(1000, 5) + "\r\n" + pad + byte_rule +
                     "\r\n" + copying(4).substr(1) + eof_message(4);
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("out.dat"), records(3) + last);
}

TEST(EndToEnd, EndOfFileWithoutDataInTheLastRecord) {
  struct Case {
    std::string name;
    std::string data;
    int last;  // the record the end-of-file message names
  };
  const Case cases[] = {
      {"empty file", "", 0},
      {"exact multiple", records(2), 2},
      {"short record of 0xFF only", records(2) + std::string(500, '\xFF'), 2},
  };
  for (const Case& c : cases) {
    TempDir dir({{"in.dat", c.data}});
    Result r = dir.run(kWholeCopy);
    std::string shown;
    for (int rec = 1; rec <= c.last; ++rec) shown += copying(rec);
    std::string want = header("out.dat", {"0", "0", "0", "0"}) +
                       echo_values(1, 1, 999999999, 4096) +
                       (c.last > 0 ? kStartCopy + shown + " " : "\r\n") +
                       "\r\n-- EOF at irec=" + num(c.last, 5) + " --\r\n" + kStop;
    EXPECT_EQ(r.out, want) << c.name;
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(dir.read("out.dat"), c.data.substr(0, static_cast<std::size_t>(c.last) * 4096))
        << c.name;
  }
}

TEST(EndToEnd, SkipRangeLeavesRecordsOut) {
  TempDir dir({{"in.dat", records(5)}});
  Result r = dir.run({"in.dat", "out.dat", "s2-3"});
  std::string want = header("out.dat", {"s2-3"}) + "\r\n Skip recs" + num(2, 11) + " to" +
                     num(3, 12) + echo_values(1, 1, 999999999, 4096) + kStartCopy + copying(1) +
                     copying(4) + copying(5, 2, kDigits5) + eof_message(5);
  EXPECT_EQ(r.out, want);
  std::string in = records(5);
  EXPECT_EQ(dir.read("out.dat"), in.substr(0, 4096) + in.substr(3 * 4096));
}

TEST(EndToEnd, PositionsFollowedByASkipRange) {
  TempDir dir({{"in.dat", records(4)}});
  Result r = dir.run({"in.dat", "out.dat", "1", "1", "0", "0", "s2-3"});
  std::string want = header("out.dat", {"1", "1", "0", "0"}) + echo_values(1, 1, 999999999, 4096) +
                     "\r\n\r\nSkip recs    2 to    3" + kStartCopy + copying(1) + copying(4) +
                     eof_message(4);
  EXPECT_EQ(r.out, want);
  std::string in = records(4);
  EXPECT_EQ(dir.read("out.dat"), in.substr(0, 4096) + in.substr(3 * 4096));
}

TEST(EndToEnd, StartAfterEndOnlyDecodes) {
  TempDir dir({{"in.dat", records(4)}});
  Result r = dir.run({"in.dat", "out.dat", "3", "1", "2", "0"});
  std::string want = header("out.dat", {"3", "1", "2", "0"}) + echo_values(3, 1, 2, 4096) + "\r\n" +
                     decoding(1) + decoding(2) + exit_message(3);
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(dir.read("out.dat"), "");
}

TEST(EndToEnd, SingleRecordFromByteToByte) {
  TempDir dir({{"in.dat", records(3)}});
  Result r = dir.run({"in.dat", "out.dat", "2", "5", "2", "9"});
  std::string want = header("out.dat", {"2", "5", "2", "9"}) + echo_values(2, 5, 2, 9) + "\r\n" +
                     decoding(1) + " \r\n" + copying(2) + exit_message(3);
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(dir.read("out.dat"), records(3).substr(4096 + 4, 5));
}

TEST(EndToEnd, SeveralPassesAndAnArgumentThatIsNoSkipRange) {
  TempDir dir({{"in.dat", records(3)}});
  Result r = dir.run({"in.dat", "out.dat", "1", "1", "1", "10", "x", "0", "0", "2", "0"});
  std::string want = header("out.dat", {"1", "1", "1", "10"}) + echo_values(1, 1, 1, 10) +
                     "\r\nDon't know what to do!" + kStartCopy + copying(1) + " " +
                     value_statuses({1, 1, 1, 1}) + echo_values(1, 1, 2, 4096) + "\r\n" +
                     copying(2).substr(1) + exit_message(3);
  EXPECT_EQ(r.out, want);
  std::string in = records(3);
  EXPECT_EQ(dir.read("out.dat"), in.substr(0, 10) + in.substr(4096, 4096));
}

// The examples the README and the manual give: what each copies, a line it shows, how often
// it says "Don't know what to do!" and its exit status (the second asks at the console, where
// input has ended).
TEST(EndToEnd, ExamplesOfTheManual) {
  const std::string in = records(22);
  auto recs = [&](int first, int last) {
    return in.substr((first - 1) * 4096, (last - first + 1) * 4096);
  };
  const struct {
    std::vector<std::string> args;
    std::string copy;
    std::string shown;
    int dont_know;
    int status;
  } cases[] = {
      {{"1", "0", "2", "0", "", "", "5", "0", "6", "0"},
       recs(1, 2) + recs(5, 6),
       decoding(4) + " \r\n" + copying(5, 2, kDigits5),
       0,
       0},
      {{"1", "0", "3", "0", "5", "0", "7", "0"}, recs(1, 3), "Enter the 1st byte of record", 3, 1},
      {{"s15-20", "s5-10"}, recs(1, 14) + recs(21, 22), "Skip recs    5 to   10", 0, 0},
      {{"1", "2#101", "1", "8#17"}, in.substr(4, 11), echo_values(1, 5, 1, 15), 0, 0},
      {{"1", "16#FFF", "1", "0"}, in.substr(254, 4096 - 254), echo_values(1, 255, 1, 4096), 0, 0},
      {{"1", "1", "-1", "0", "1", "1", "-1", "0"}, "", "Nothing to do!", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    TempDir dir({{"in.dat", in}});
    Result r = dir.run(e2e::concat({"in.dat", "out.dat"}, c.args));
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
    int dont_know = 0;
    for (std::size_t at = 0; (at = r.out.find("Don't know what to do!", at)) != std::string::npos;
         ++at) {
      ++dont_know;
    }
    EXPECT_EQ(dont_know, c.dont_know);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(dir.read("out.dat"), c.copy);
  }
}

// Runs in.dat (two records) into `out` in dir and returns the result; the output name shown in
// the echo is checked against `shown`.
Result copy_into(const TempDir& dir, const std::string& out, const std::string& shown) {
  dir.write("in.dat", records(2));
  Result r = dir.run({"in.dat", out, "0", "0", "0", "0"});
  EXPECT_NE(r.out.find("\r\n Input,output=in.dat " + shown + " \r\n"), std::string::npos)
      << out << ": " << r.out;
  EXPECT_EQ(r.err, "") << out;
  EXPECT_EQ(r.status, 0) << out;
  return r;
}

// Only the bare names CON, USER, ERR and NUL are devices: every other name is a file, and an
// existing file is never written into, whatever it is called or points to.
TEST(EndToEnd, DeviceNames) {
  if (e2e::under_wine()) GTEST_SKIP() << "Windows reserves the device names (NamesOnWindows)";
  struct Case {
    std::string out;
    std::string created;  // empty: no file is made
  };
  const Case cases[] = {
      {"PRN", "PRN.001"},
      {"prn.txt", "prn.txt"},
      {"Lpt3", "Lpt3.001"},
      {"aux.dat", "aux.dat"},
      {"COM1", "COM1.001"},
      {"nul.dat", "nul.dat"},
      {"con.txt", "con.txt"},
      {"CON", "CON.001"},
      {"user", "user.001"},
      {"ERR", "ERR.001"},
      {"nul", ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("PRN", "keep");
    dir.write("COM1", "keep");
    dir.write("target", "keep");
    ASSERT_EQ(symlink("target", dir.file("Lpt3").c_str()), 0);
    Result r = copy_into(dir, c.out, c.created.empty() ? "nul" : c.created);
    if (!c.created.empty()) {
      EXPECT_EQ(dir.read(c.created), records(2)) << c.out;
    }
    EXPECT_EQ(r.out.find(records(2).substr(0, 100)), std::string::npos) << c.out;
    for (const char* kept : {"PRN", "COM1", "target"}) EXPECT_EQ(dir.read(kept), "keep") << c.out;
    std::set<std::string> names = {"in.dat", "PRN", "COM1", "target", "Lpt3"};
    if (!c.created.empty()) names.insert(c.created);
    EXPECT_EQ(dir.names(), names) << c.out;
  }
}

// Where the system reserves the device names it decides them: the null device takes the copy
// under any extension and in any folder, its other devices are refused at once as output, and
// the tool's own names are devices only as the whole name. Names with a drive or a "\\" are
// numbered in their last component.
TEST(EndToEnd, NamesOnWindows) {
  if (!e2e::under_wine()) GTEST_SKIP() << "only Windows reserves the device names";
  struct Case {
    std::string out;
    std::string created;  // relative to the test folder; empty: no file is made
    std::string report;   // empty: the copy ends normally
  };
  const Case cases[] = {
      {"nul.dat", "", ""},
      {"NUL", "", ""},
      {"nul.log", "", ""},
      {"Nul.u", "", ""},
      {"nul.e1", "", ""},
      {"dir.d\\nul.txt", "", ""},
      {"err.log", "err.log", ""},
      {"user.dat", "user.dat", ""},
      {"ERR", "ERR.001", ""},
      {"con.txt", "", "F6202: OPEN(con.txt)"},
      {"COM5", "", "F6202: OPEN(COM5)"},
      {"line", "", "F6202: OPEN(line)"},
      {"lpt9.x.y", "", "F6202: OPEN(lpt9.x.y)"},
      {"dir.d\\aux", "", "F6202: OPEN(dir.d\\aux)"},
      {"o?t", "", "F6412: OPEN(o?t)"},
      // The process's folder is the current one of drive Z: under Wine.
      {"Z:out.dat", "out.001", ""},
      {"dir.d\\out.dat", "dir.d/out.001", ""},
  };
  for (const Case& c : cases) {
    TempDir dir({{"in.dat", records(2)}});
    dir.mkdir("dir.d");
    dir.write("out.dat", "keep");
    dir.write("dir.d/out.dat", "keep");
    Result r = dir.run({"in.dat", c.out, "0", "0", "0", "0"});
    EXPECT_EQ(r.status, c.report.empty() ? 0 : 1) << c.out;
    EXPECT_EQ(r.err.rfind("\r\nrun-time error " + c.report, 0),
              c.report.empty() ? std::string::npos : 0u)
        << c.out << ": " << r.err;
    if (!c.created.empty()) {
      EXPECT_EQ(dir.read(c.created), records(2)) << c.out;
    }
    // in.dat, out.dat, the folder and its out.dat, and the copy.
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
      files += e.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, c.created.empty() ? 3u : 4u) << c.out;
  }
}

// The number goes into the last component of a path, in the folder the name points into.
TEST(EndToEnd, OutputNamesWithFolders) {
  const std::string folder(64, 'd');
  struct Case {
    std::string out;
    std::string exists;  // relative to the test folder
    std::string shown;
  };
  const Case cases[] = {
      {"./out.dat", "out.dat", "./out.001"},
      {"dir.d/out.dat", "dir.d/out.dat", "dir.d/out.001"},
      {folder + "/data.dat", folder + "/data.dat", folder + "/data.001"},
      {"dir.d/../x/out.dat", "x/out.dat", "dir.d/../x/out.001"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const std::string& sub : {std::string("dir.d"), std::string("x"), folder}) dir.mkdir(sub);
    dir.write(c.exists, "keep");
    copy_into(dir, c.out, c.shown);
    EXPECT_EQ(dir.read(c.exists), "keep") << c.out;
    EXPECT_EQ(dir.read(c.shown), records(2)) << c.out;
  }
}

// Names are used whole up to 259 characters; a longer one is refused before anything is opened.
TEST(EndToEnd, LongNames) {
  TempDir dir;
  const std::string folder = std::string(120, 'f') + "/" + std::string(120, 'g');
  dir.mkdir(folder);
  const std::string in = folder + "/in.dat";  // 248 characters
  dir.write(in, records(2));
  dir.write(folder + "/out.dat", "keep");
  // Its first 80 characters name another file, which must not be read.
  dir.write(in.substr(0, 80), records(1));

  Result r = dir.run({in, folder + "/out.dat", "0", "0", "0", "0"});
  EXPECT_NE(r.out.find("\r\n Input,output=" + in + " " + folder + "/out.001 \r\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read(folder + "/out.001"), records(2));

  // Typed at the prompt, the name is whole too.
  r = dir.run({in}, folder + "/typed.dat\n0\n0\n0\n0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read(folder + "/typed.dat"), records(2));

  // The first 259 characters name a file that could be made in an existing folder.
  const std::string too_long = std::string(130, 'y') + "/" + std::string(129, 'z');
  dir.mkdir(too_long.substr(0, 130));
  const std::string report =
      "\r\nrun-time error F6412: OPEN(" + too_long.substr(0, 259) + ")\r\n- ";
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string last_status;  // the last status line shown
  };
  const Case cases[] = {
      {{too_long, "out.dat", "0", "0", "0", "0"}, "", status(kInput, 260)},
      {{in, too_long, "0", "0", "0", "0"}, "", status(kOutput, 260)},
      {{in}, too_long + "\n", "Enter file name to copy to: "},
  };
  for (const Case& c : cases) {
    r = dir.run(c.args, c.input);
    EXPECT_EQ(r.err.rfind(report, 0), 0u) << r.err;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(r.out.size() - c.last_status.size() - 2), c.last_status + "\r\n");
    EXPECT_FALSE(dir.exists("out.dat"));
    EXPECT_FALSE(dir.exists(too_long.substr(0, 259)));
  }
}

// A pass with records goes on from the first record not yet read, however the passes before
// it ended; a pass without records leaves the record number as it was.
TEST(EndToEnd, PassesNumberRecordsAsTheFileHasThem) {
  TempDir dir;
  const std::string in = records(8);
  dir.write("in.dat", in);
  Result r = dir.run({"in.dat", "out.dat", "1", "1", "-1", "0", "5", "1", "6", "10"});
  std::string want = header("out.dat", {"1", "1", "-1", "0"}) + echo_values(1, 1, -1, 4096) +
                     "\r\n" + value_statuses({1, 1, 1, 2}) + echo_values(5, 1, 6, 10) + "\r\n" +
                     decoding(1) + decoding(2) + decoding(3) + decoding(4) + " \r\n" +
                     copying(5, 2, kDigits5) + copying(6) + exit_message(7);
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(dir.read("out.dat"), in.substr(4 * 4096, 4096 + 10));

  r = dir.run({"in.dat", "out2.dat", "1", "1", "2", "4096", "", "", "1", "1", "1", "4096", "1", "1",
               "5", "4096"});
  EXPECT_EQ(dir.read("out2.dat"), in.substr(0, 5 * 4096));
  EXPECT_NE(r.out.find(copying(2) + " " + status(kStartRec, 1)), std::string::npos);
  EXPECT_NE(
      r.out.find(copying(3).substr(1) + copying(4) + copying(5, 2, kDigits5) + exit_message(6)),
      std::string::npos)
      << r.out;

  r = dir.run({"in.dat", "out3.dat", "1", "1", "-1", "0", "1", "1", "-5", "0"});
  const std::string nothing = "\r\n\r\n" + std::string(20, ' ') + "Nothing to do!\r\n" + kStop;
  EXPECT_EQ(r.out.substr(r.out.size() - nothing.size()), nothing);
  EXPECT_EQ(dir.read("out3.dat"), "");
}

TEST(EndToEnd, DecoderReportGoesToStandardErrorAndTheCopyGoesOn) {
  TempDir dir;
  std::string in = records(3);
  e2e::set_bytes(in, 2, "1=02 2=3C 3=00");  // type 2 with its mark but no dated preface
  dir.write("in.dat", in);
  Result r = dir.run(kWholeCopy);
  EXPECT_EQ(r.err, "    2:  23C 0\r\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(copying(2, -98)), std::string::npos);
  EXPECT_EQ(dir.read("out.dat"), in);
}

// A folder is no input: its open fails, on both systems, before anything else is shown.
TEST(EndToEnd, FolderAsInputFailsAtItsOpen) {
  TempDir dir;
  dir.mkdir("in.dat");
  Result r = dir.run(kWholeCopy);
  EXPECT_EQ(r.out, status(kInput, 6) + "\r\n");
  EXPECT_EQ(r.err, "\r\nrun-time error F6419: OPEN(in.dat)\r\n- is a folder\r\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(dir.names(), std::set<std::string>{"in.dat"});
}

// The values typed at the prompts: four empty lines give 1, 1, 999999999 and 4096.
std::string prompted_values(bool terminal) {
  // On a terminal the typed line and its echoed line end end the prompt's line; with pipes the
  // next record joins it.
  const std::string join = terminal ? "\r\n" : " ";
  return "\r\n" + status(kStartRec, -1) + kFirstRecordPrompt + join + status(kStartByte, -1) +
         byte_prompt("1st", 1) + join + status(kEndRec, -1) + kLastRecordPrompt + join +
         status(kEndByte, -1) + byte_prompt("last", 999999999) + join +
         echo_values(1, 1, 999999999, 4096).substr(2);
}

TEST(EndToEnd, PromptsWithPipes) {
  TempDir dir({{"in.dat", records(2)}});
  Result r = dir.run({"in.dat"}, "out.dat\n\n\n\n\n");
  std::string want = status(kInput, 6) + "\r\n" + status(kOutput, -1) +
                     "\r\n Enter file name to copy to: " + "  Input,output=in.dat out.dat " +
                     prompted_values(false) + kStartCopy + copying(1) + copying(2) + eof_message(2);
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("out.dat"), records(2));
}

// At a terminal a progress line that a later one covers may be left out, so what is compared
// is the screen: the one every byte would leave, the lines typed and echoed included. Under
// Wine the program has a Windows console, which its host draws on the terminal.
TEST(EndToEnd, PromptsAtATerminal) {
  TempDir dir({{"in.dat", records(2)}});
  Result r = dir.type({"in.dat"}, {"out.dat", "", "", "", ""});
  std::string want = status(kInput, 6) + "\r\n" + status(kOutput, -1) +
                     "\r\n Enter file name to copy to: out.dat\r\n Input,output=in.dat out.dat " +
                     prompted_values(true) + kStartCopy + copying(1) + copying(2) + eof_message(2);
  EXPECT_EQ(screen::shown(r.out, 80, e2e::under_wine()), screen::shown(want, 80));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("out.dat"), records(2));
}

TEST(EndToEnd, WholeFileAtATerminalShowsWhatAPipeShows) {
  TempDir term, pipe;
  for (const TempDir* d : {&term, &pipe}) d->write("in.dat", records(3000) + "short");
  Result t = term.type(kWholeCopy);
  Result p = pipe.run(kWholeCopy);
  for (std::size_t width : {64u, 80u, 132u}) {
    EXPECT_EQ(screen::shown(t.out, width, e2e::under_wine()), screen::shown(p.out, width)) << width;
  }
  EXPECT_LT(t.out.size(), p.out.size() / 2);  // most progress lines were left out
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(term.read("out.dat"), pipe.read("out.dat"));
}

TEST(EndToEnd, EndOfInputAtAPrompt) {
  TempDir dir({{"in.dat", records(2)}});
  Result r = dir.run({"in.dat", "out.dat"}, "7\n");
  EXPECT_EQ(r.err.substr(0, 35), "\r\nrun-time error F6501: READ(CON)\r\n");
  EXPECT_EQ(r.status, 1);
}

TEST(EndToEnd, InterruptKeepsEveryByteCopied) {
  if (e2e::under_wine())
    GTEST_SKIP() << "Windows has no signals; Wine cannot send a console Ctrl-C to a program whose "
                    "console is a pipe";
  TempDir dir;
  const std::string fifo = dir.file("in.dat");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opened for reading and writing, the FIFO blocks neither this open nor the tool's. It holds
  // three records, then nothing: the interrupt comes once the tool waits for a fourth.
  const int fd = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::string three = records(3);
  ASSERT_EQ(write(fd, three.data(), three.size()), static_cast<ssize_t>(three.size()));
  bool waited = false;
  Result r = e2e::run(dir.path(), e2e::concat({e2e::tool()}, kWholeCopy), "", [&](pid_t pid) {
    waited = e2e::wait_until(pid, [&] { return e2e::waits_on(pid, fifo, POLLIN); });
    kill(pid, SIGINT);
  });
  close(fd);
  EXPECT_TRUE(waited);
  EXPECT_EQ(r.signal, SIGINT);
  EXPECT_EQ(dir.read("out.dat"), three);
  EXPECT_EQ(r.err, "");
  // The interrupted read is no read error.
  EXPECT_EQ(r.out.find("parity"), std::string::npos);
}

}  // namespace
