// End-to-end runs of --list and --batch against a copy of the same file with the same arguments:
// the listing names the records the copy shows, the batch copy writes the copy's bytes, and a
// command line either mode refuses leaves the folder as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "run_binary.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kHeader = "record\toffset\tlength\ttype\tdigits\tdate\ttime\tnote\twhen\n";

// One record of the test file: its preface bytes ("position=hex", over a type-1 record whose
// bytes 2 to 48 are 0; "*" for a record of 0xFF only), what the listing shows of it and what
// the decoder reports of it on standard error.
struct Rec {
  std::string bytes;
  bool dated;
  std::string note;
  std::string report;
};
using e2e::kDated;
using e2e::kDated15;
const Rec kRecs[] = {
    {"", false, "", ""},  // no decoded preface
    {kDated + "12=01 13=02 14=03 15=01 16=02 17=03", true, "", ""},
    {kDated + "1=03 12=01 13=02 14=03 15=01 16=02 17=04", true, "status 123 124",
     " ivstat,ivstatt: 123 124\r\n"},
    {"1=02 2=3C 3=00", false, "bad preface 02 3C 00", "    4:  23C 0\r\n"},
    {"1=13 2=3C 3=FE", false, "bad preface 13 3C FE", "    5: 133CFE\r\n"},
    {"1=02 2=3D 3=FF", false, "", ""},              // no mark: lowered without a report
    {"*", false, "", ""},                           // 0xFF only: type 15 without its marks
    {"1=09 2=3C 4=31 5=AB 14=1F", false, "", ""},   // nibbles above 9
    {"1=0C 5=01 8=01 46=03 48=01", false, "", ""},  // bits
    {kDated15 + "19=05 22=01", true, "status 500 100", " ivstat,ivstatt: 500 100\r\n"},
    {"1=0F 4=CC 5=CC 9=2D 10=04 19=F6", false, "", ""},  // type 15 without a date
    {"1=0F 4=CC 5=CD", false, "", ""},                   // type 15 without its second mark
    {kDated + "4=9A 11=FF", true, "", ""},               // a dated preface with digits above 9
    {"1=0B", false, "", ""},                             // nibbles without the mark
    {"1=0D 9=01 10=01", false, "", ""},                  // bits
    // The short final record: 700 bytes of data, then 300 bytes of 0xFF.
    {kDated + "1=03 12=01 13=02 14=03 15=03 16=02 17=01", true, "status 123 321",
     " ivstat,ivstatt: 123 321\r\n"},
};
constexpr int kRecords = static_cast<int>(std::size(kRecs));
// The own time of each record: "" when it is not dated, "bad" for a date that is not real.
const std::string kOwn[kRecords] = {"",
                                    "1999-123T23:59:59",
                                    "1999-123T23:59:59",
                                    "",
                                    "",
                                    "",
                                    "",
                                    "",
                                    "",
                                    "2007-365T01:02:03",
                                    "",
                                    "",
                                    "bad",
                                    "",
                                    "",
                                    "1999-123T23:59:59"};
// The time the listing shows for record r (from 1): its own, or the one carried from before it.
std::string when_of(int r) {
  std::string when;
  for (int k = 0; k < r; ++k) {
    if (kOwn[k] == "bad")
      when.clear();
    else if (!kOwn[k].empty())
      when = kOwn[k];
  }
  return when;
}
constexpr int kLastLength = 1000, kDataEnd = 700;

std::string test_file() {
  std::string data = e2e::type1_records(kRecords);
  for (int r = 0; r < kRecords; ++r) {
    char* rec = data.data() + r * 4096;
    if (kRecs[r].bytes == "*") {
      std::fill(rec, rec + 4096, '\xFF');
      continue;
    }
    std::fill(rec + 1, rec + 48, '\0');
    e2e::set_bytes(data, r + 1, kRecs[r].bytes);
  }
  data.resize(data.size() - 4096 + kLastLength);
  std::fill(data.end() - (kLastLength - kDataEnd), data.end(), '\xFF');
  return data;
}

// The whole copy of the test file: the trailing 0xFF bytes are no data.
const std::string kWhole = test_file().substr(0, (kRecords - 1) * 4096 + kDataEnd);

Result run(const TempDir& dir, const std::vector<std::string>& head,
           const std::vector<std::string>& tail = {}, const std::string& input = "") {
  return dir.run(e2e::concat(head, tail), input);
}

// The arguments a copy needs to run without asking: the missing positions as 0.
std::vector<std::string> with_zeros(std::vector<std::string> args) {
  std::size_t n = 0;
  while (n < args.size() && n < 4 && args[n][0] != 's') ++n;
  if (n > 0 || args.empty()) args.insert(args.begin() + static_cast<long>(n), 4 - n, "0");
  return args;
}

// The "Copying:" progress lines of a copy: the record, the type and the digits shown,
// and the byte named by an end-of-data box shown since the line before.
struct Shown {
  int rec, type;
  std::string digits;
  int data_end;
};
std::vector<Shown> copied(const std::string& console) {
  const std::string box = "Found end of data at byte ";
  const std::size_t b = console.find(box);
  std::vector<Shown> shown;
  std::size_t before = 0;
  for (std::size_t at = console.find("Copying:"); at != std::string::npos;
       before = at, at = console.find("Copying:", at + 1)) {
    const std::size_t p = console.find("rec #", at);
    const bool boxed = b != std::string::npos && before < b && b < at;
    shown.push_back({std::stoi(console.substr(p + 5, 8)), std::stoi(console.substr(p + 18, 3)),
                     console.substr(p + 23, 12),
                     boxed ? std::stoi(console.substr(b + box.size(), 5)) : 0});
  }
  return shown;
}

TEST(ModesEndToEnd, ListingNamesTheRecordsTheCopyShows) {
  const struct {
    std::vector<std::string> args;
    int read;  // the records the copy reads, and decodes
  } cases[] = {
      {{}, kRecords},
      {{"3", "0", "9", "0"}, 9},
      {{"s2-4", "s7"}, kRecords},
      {{"0", "0", "0", "0"}, kRecords},
      {{"5", "100"}, kRecords},
      // Positions, then skip ranges taken while the records go by.
      {{"1", "0", "9", "0", "s5", "s7-8"}, 9},
  };
  for (const auto& c : cases) {
    TempDir dir({{"in.dat", test_file()}});
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Result list = run(dir, {"--list", "in.dat"}, c.args);
    EXPECT_EQ(list.err, "");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(dir.names(), std::set<std::string>{"in.dat"});

    Result copy = run(dir, {"in.dat", "c.dat"}, with_zeros(c.args));
    std::string reports;
    for (int r = 0; r < c.read; ++r) reports += kRecs[r].report;
    EXPECT_EQ(copy.err, reports);
    std::string want = kHeader;
    for (const Shown& s : copied(copy.out)) {
      const Rec& rec = kRecs[s.rec - 1];
      const std::string& d = s.digits;
      std::string note = rec.note;
      if (s.data_end > 0)
        note += (note.empty() ? "" : "; ") + std::string("data ends at byte ") +
                std::to_string(s.data_end);
      if (kOwn[s.rec - 1] == "bad") note += (note.empty() ? "" : "; ") + std::string("bad date");
      want += std::to_string(s.rec) + "\t" + std::to_string((s.rec - 1) * 4096) + "\t" +
              std::to_string(s.rec == kRecords ? kLastLength : 4096) + "\t" +
              std::to_string(s.type) + "\t" + d + "\t" +
              (rec.dated ? d.substr(0, 2) + "-" + d.substr(2, 3) + "\t" + d.substr(6, 2) + ":" +
                               d.substr(8, 2) + ":" + d.substr(10, 2) + "\t"
                         : "\t\t") +
              note + "\t" + when_of(s.rec) + "\n";
    }
    EXPECT_EQ(list.out, want);
  }
}

// The reports a batch copy makes of the records a listing lists: one line for each status or
// preface note.
std::string reports_of(const std::string& listing) {
  std::string reports;
  std::size_t at = listing.find('\n') + 1;
  for (std::size_t end; (end = listing.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = listing.substr(at, end - at);
    const std::string record = line.substr(0, line.find('\t'));
    std::size_t field = 0;  // the note is the eighth field
    for (int k = 0; k < 7; ++k) field = line.find('\t', field) + 1;
    std::string note = line.substr(field, line.find('\t', field) - field) + "; ";
    for (std::size_t n; (n = note.find("; ")) != std::string::npos; note.erase(0, n + 2)) {
      const std::string one = note.substr(0, n);
      if (one.starts_with("status ") || one.starts_with("bad preface "))
        reports += "Chunkit_: record " + record + ": " + one + "\n";
    }
  }
  return reports;
}

TEST(ModesEndToEnd, BatchWritesWhatTheCopyWrites) {
  const struct {
    std::vector<std::string> args;
    int records;  // written wholly or in part
  } cases[] = {
      {{}, kRecords},  // the data ends in the short final record
      {{"3", "0", "9", "0"}, 7},
      {{"2", "100", "4", "200"}, 3},
      {{"s2-4", "s7"}, kRecords - 4},
      {{"2", "0", "0", "0", "s4-5", "s9"}, kRecords - 4},
      {{"3", "10"}, kRecords - 2},
      {{"16#A", "2#101", "8#15", "16#1F"}, 4},
      {{"6", "4000", "6", "96"}, 0},
      {{"16", "800"}, 0},  // starts past the data of the short final record
      // Records the copy passes without writing a byte of them are not listed either.
      {{"3", "100", "3", "50"}, 0},
      {{"3", "5000", "5", "0"}, 2},
      {{"3", "0", "5", "-1"}, 2},
      {{"21", "2000", "0", "0"}, 0},
      {{"0", "4895"}, kRecords - 1},
  };
  for (const auto& c : cases) {
    TempDir dir({{"in.dat", test_file()}});
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Result batch = run(dir, {"--batch", "in.dat", "b.dat"}, c.args);
    Result copy = run(dir, {"in.dat", "c.dat"}, with_zeros(c.args));
    EXPECT_EQ(batch.status, 0);
    const std::string listing = run(dir, {"--list", "in.dat"}, c.args).out;
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n') - 1, c.records);
    EXPECT_EQ(batch.err, reports_of(listing));
    const std::string written = dir.read("b.dat");
    EXPECT_EQ(written, dir.read("c.dat"));
    EXPECT_EQ(batch.out,
              "b.dat\t" + std::to_string(c.records) + "\t" + std::to_string(written.size()) + "\n");
  }
}

// The closing line names the file created, or the null device; an existing file is kept.
TEST(ModesEndToEnd, BatchNamesWhatItWrote) {
  const struct {
    std::string out;
    bool taken;
    std::string shown;
  } cases[] = {{"b.dat", true, "b.001"}, {"NUL", false, "NUL"}, {"nul", false, "NUL"}};
  for (const auto& c : cases) {
    TempDir dir({{"in.dat", test_file()}});
    if (c.taken) dir.write(c.out, "keep");
    Result r = run(dir, {"--batch", "in.dat", c.out});
    EXPECT_EQ(r.out, c.shown + "\t" + std::to_string(kRecords) + "\t" +
                         std::to_string(kWhole.size()) + "\n");
    EXPECT_EQ(r.status, 0);
    std::set<std::string> want = {"in.dat"};
    if (c.taken) {
      EXPECT_EQ(dir.read(c.out), "keep");
      EXPECT_EQ(dir.read(c.shown), kWhole);
      want.insert({c.out, c.shown});
    }
    EXPECT_EQ(dir.names(), want) << c.out;
  }
}

// "-" is standard input or output in the modes for programs, as is standard output by another
// name; a FIFO or a device named as output is written into, never numbered; the copy refuses
// its own standard output and standard error as its output.
TEST(ModesEndToEnd, StandardHandlesDevicesAndFifos) {
  const std::string part =
      test_file().substr(6 * 4096, 3 * 4096);  // records 7 to 9, without reports
  const std::string line = "\t3\t" + std::to_string(part.size()) + "\n";
  const std::string refused = "file already connected to another unit\r\n";
  const struct {
    std::vector<std::string> args;
    bool input_on_stdin;
    std::string out, err, file;  // file: what b.dat holds ("" for none)
    int status;
  } cases[] = {
      {{"--batch", "in.dat", "-", "7", "0", "9", "0"}, false, part, "-" + line, "", 0},
      {{"--batch", "in.dat", "/dev/stdout", "7", "0", "9", "0"}, false, part, "-" + line, "", 0},
      {{"--batch", "-", "b.dat", "7", "0", "9", "0"}, true, "b.dat" + line, "", part, 0},
      {{"--batch", "in.dat", "/dev/null", "7", "0", "9", "0"},
       false,
       "/dev/null" + line,
       "",
       "",
       0},
      {{"in.dat", "/dev/stdout", "7", "0", "9", "0"},
       false,
       "",
       "OPEN(/dev/stdout)\r\n- " + refused,
       "",
       1},
      {{"in.dat", "/dev/fd/2", "7", "0", "9", "0"},
       false,
       "",
       "OPEN(/dev/fd/2)\r\n- " + refused,
       "",
       1},
  };
  if (e2e::under_wine()) GTEST_SKIP() << "POSIX names of the standard handles and devices";
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TempDir dir({{"in.dat", test_file()}});
    Result r = run(dir, c.args, {}, c.input_on_stdin ? test_file() : "");
    if (c.status == 0) {
      EXPECT_EQ(r.out, c.out);
      EXPECT_EQ(r.err, c.err);
    } else {
      EXPECT_EQ(r.err.substr(r.err.size() - c.err.size()), c.err);
    }
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(dir.read("b.dat"), c.file);
    EXPECT_EQ(dir.names().size(), c.file.empty() ? 1u : 2u);
  }
  struct stat st;
  EXPECT_NE(stat("/dev/null.001", &st), 0);

  // A FIFO's reader gets the copy.
  TempDir dir({{"in.dat", test_file()}});
  ASSERT_EQ(mkfifo(dir.file("f").c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] { got = e2e::read_all(dir.file("f")); });
  Result r = run(dir, {"--batch", "in.dat", "f", "7", "0", "9", "0"});
  reader.join();
  EXPECT_EQ(r.out, "f" + line);
  EXPECT_EQ(got, part);
  EXPECT_EQ(dir.names(), (std::set<std::string>{"f", "in.dat"}));
}

// A batch copy that runs for more than a second shows a line on standard error at a terminal,
// rewritten in place, and clears it before its final line. The test feeds the input through a
// FIFO until the line appears.
TEST(ModesEndToEnd, ProgressLineAtATerminal) {
  if (e2e::under_wine()) GTEST_SKIP() << "a FIFO and a pseudo-terminal as standard error";
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("in").c_str(), 0600), 0);
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const pid_t pid = e2e::spawn(dir.path(), {"--batch", "in", "NUL"}, e2e::kNull, "out.txt", slave);
  close(slave);
  const int in = open(dir.file("in").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(in, 0);
  const std::string block(1 << 16, '\x01');
  std::string shown;
  std::size_t fed = 0;
  auto take = [&](int ms) {
    pollfd p = {master, POLLIN, 0};
    char buf[512];
    for (ssize_t n; poll(&p, 1, ms) > 0 && (n = read(master, buf, sizeof buf)) > 0; ms = 0)
      shown.append(buf, static_cast<std::size_t>(n));
  };
  while (shown.find(" MiB/s") == std::string::npos && fed < (std::size_t{64} << 20)) {
    ASSERT_EQ(write(in, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    fed += block.size();
    take(10);  // paces the feed (64 MiB take 10 s at least); the line shows after a second
  }
  close(in);
  const Result r = e2e::wait_for(pid);
  take(0);
  close(master);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("out.txt"),
            "NUL\t" + std::to_string(fed / 4096) + "\t" + std::to_string(fed) + "\n");
  ASSERT_EQ(shown.rfind("\r", 0), 0u) << shown;
  EXPECT_NE(shown.find(" records, "), std::string::npos) << shown;
  // Cleared at the end: the last line shown is blanks.
  const std::size_t last = shown.rfind('\r', shown.size() - 2);
  EXPECT_EQ(shown.back(), '\r');
  EXPECT_EQ(shown.find_first_not_of(' ', last + 1), shown.size() - 1) << shown;
}

// --from, --to and --type keep whole records of the section by their time and type, in
// --list and --batch alike: the records listed are those copied, each with the bytes the copy
// with the same positions writes of it.
TEST(ModesEndToEnd, TimeWindowsAndTypes) {
  const std::string file = e2e::three_day_file();
  // Bytes first..last (from 1) of record r, as a copy writes them (record 21 holds 700 bytes of
  // data).
  const auto part = [&](int r, int first = 1, int last = 4096) {
    if (r == e2e::kThreeDayRecords) last = std::min(last, 700);
    return file.substr(static_cast<std::size_t>((r - 1) * 4096 + first - 1),
                       static_cast<std::size_t>(last - first + 1));
  };
  const std::vector<std::string> day2 = {"--from", "00-001", "--to", "00-002"};
  const std::vector<int> day2_records = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  const struct {
    std::vector<std::string> args;  // before the input, and after it
    std::vector<std::string> after;
    std::vector<int> records;
    std::string bytes;  // "" for the whole records
  } cases[] = {
      // The century, and a window exactly one day wide.
      {{"--from", "99-365", "--to", "00-001"}, {}, {1, 2, 3, 4}, ""},
      {day2, {}, day2_records, ""},
      // Each form of a time gives the same records.
      {{"--from", "2000-001", "--to", "2000-01-02"}, {}, day2_records, ""},
      {{"--to", "2000-01-02T00:00", "--from", "2000-01-01 00:00:00"}, {}, day2_records, ""},
      // A record exactly at --from is in, one exactly at --to is out; the clock going back at
      // record 11 keeps it wherever it lies.
      {{"--from", "00-001T01:00", "--to", "00-001T12:00"}, {}, {7, 8, 11, 12}, ""},
      {{"--from", "2000-002"}, {}, {17, 18, 19, 20, 21}, ""},
      {{"--to", "99-365T23:00:00"}, {}, {1, 2}, ""},
      // Types, alone and with a window.
      {{"--type", "-98,1"}, {}, {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 21}, ""},
      {{"--type", "2", "--from", "2000-001T12:00"}, {}, {9, 13, 17, 19}, ""},
      {{"--type", "7"}, {}, {}, ""},
      // With positions and skip ranges, which choose the section first.
      {day2,
       {"6", "100", "12", "50"},
       {6, 7, 8, 9, 10, 11, 12},
       part(6, 100) + part(7) + part(8) + part(9) + part(10) + part(11) + part(12, 1, 50)},
      {day2, {"s7-10"}, {5, 6, 11, 12, 13, 14}, ""},
      {{"--from", "00-001"}, {"15", "0", "0", "0"}, {17, 18, 19, 20, 21}, ""},
  };
  TempDir dir({{"in.dat", file}});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + ::testing::PrintToString(c.after));
    const Result list = run(dir, e2e::concat(e2e::concat({"--list"}, c.args), {"in.dat"}), c.after);
    EXPECT_EQ(list.status, 0);
    std::vector<int> listed;
    for (std::size_t at = list.out.find('\n') + 1; at < list.out.size();
         at = list.out.find('\n', at) + 1)
      listed.push_back(std::stoi(list.out.substr(at)));
    EXPECT_EQ(listed, c.records);

    const Result batch =
        run(dir, e2e::concat(e2e::concat({"--batch"}, c.args), {"in.dat", "b.dat"}), c.after);
    std::string want = c.bytes;
    if (want.empty())
      for (int r : c.records) want += part(r);
    EXPECT_EQ(batch.out, "b.dat\t" + std::to_string(c.records.size()) + "\t" +
                             std::to_string(want.size()) + "\n");
    EXPECT_TRUE(dir.read("b.dat") == want);
    EXPECT_EQ(batch.status, 0);
    std::remove(dir.file("b.dat").c_str());
  }
}

// The when column: the record's own time or the one carried onto it, none after a date that is
// not real, and a note for that date.
TEST(ModesEndToEnd, ListingShowsTheTimeItSelectsBy) {
  TempDir dir({{"in.dat", e2e::three_day_file()}});
  const Result r = run(dir, {"--list", "in.dat", "10", "0", "17", "0"});
  // Read from a pipe, the records before the section give their times on the way.
  EXPECT_EQ(run(dir, {"--list", "-", "10", "0", "17", "0"}, {}, e2e::three_day_file()).out, r.out);
  EXPECT_EQ(r.out, kHeader +
                       "10\t36864\t4096\t1\t00000 000000\t\t\t\t2000-001T12:00:00\n"
                       "11\t40960\t4096\t2\t00001 113000\t00-001\t11:30:00\t\t2000-001T11:30:00\n"
                       "12\t45056\t4096\t1\t00000 000000\t\t\t\t2000-001T11:30:00\n"
                       "13\t49152\t4096\t2\t00001 130000\t00-001\t13:00:00\t\t2000-001T13:00:00\n"
                       "14\t53248\t4096\t1\t00000 000000\t\t\t\t2000-001T13:00:00\n"
                       "15\t57344\t4096\t2\t00001 250000\t00-001\t25:00:00\tbad date\t\n"
                       "16\t61440\t4096\t1\t00000 000000\t\t\t\t\n"
                       "17\t65536\t4096\t2\t00002 000000\t00-002\t00:00:00\t\t2000-002T00:00:00\n");
}

// The summary of the three-day file, every line; with --gap, a window and a type; of an empty
// file. A pipe cannot be summarised: the summary reads its input again.
TEST(ModesEndToEnd, Summary) {
  const std::string head = "item\tcount\tfirst\tlast\tdetail\n";
  const std::string types =
      "type -98\t1\t20\t20\t\n"
      "type 1\t10\t2\t21\t\n"
      "type 2\t10\t1\t19\t\n";
  const std::string damage =
      "unequal status\t1\t19\t19\t\n"
      "bad preface\t1\t20\t20\t\n"
      "bad date\t1\t15\t15\t\n"
      "no time\t2\t15\t16\t\n"
      "data ends\t1\t21\t21\tbyte 700\n";
  const std::string back = "back\t1800\t9\t11\t2000-001T12:00:00 to 2000-001T11:30:00\n";
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      // The positive steps are 3600 four times, 5400, and 39600 twice: the median is 3600, so
      // a gap is a step of more than 7200 seconds.
      {{},
       head + "records\t21\t1\t21\t82620 bytes\n" + types +
           "time\t19\t1\t21\t1999-365T22:00:00 to 2000-002T01:00:00\n"
           "gap\t39600\t7\t9\t2000-001T01:00:00 to 2000-001T12:00:00\n"
           "gap\t39600\t13\t17\t2000-001T13:00:00 to 2000-002T00:00:00\n" +
           back + damage},
      {{"--gap", "5400"},
       head + "records\t21\t1\t21\t82620 bytes\n" + types +
           "time\t19\t1\t21\t1999-365T22:00:00 to 2000-002T01:00:00\n"
           "gap\t39600\t7\t9\t2000-001T01:00:00 to 2000-001T12:00:00\n"
           "gap\t39600\t13\t17\t2000-001T13:00:00 to 2000-002T00:00:00\n" +
           back + damage},
      {{"--gap", "1"},
       head + "records\t21\t1\t21\t82620 bytes\n" + types +
           "time\t19\t1\t21\t1999-365T22:00:00 to 2000-002T01:00:00\n"
           "gap\t3600\t1\t3\t1999-365T22:00:00 to 1999-365T23:00:00\n"
           "gap\t3600\t3\t5\t1999-365T23:00:00 to 2000-001T00:00:00\n"
           "gap\t3600\t5\t7\t2000-001T00:00:00 to 2000-001T01:00:00\n"
           "gap\t39600\t7\t9\t2000-001T01:00:00 to 2000-001T12:00:00\n"
           "gap\t5400\t11\t13\t2000-001T11:30:00 to 2000-001T13:00:00\n"
           "gap\t39600\t13\t17\t2000-001T13:00:00 to 2000-002T00:00:00\n"
           "gap\t3600\t17\t19\t2000-002T00:00:00 to 2000-002T01:00:00\n" +
           back + damage},
      // A window and a type: the type-2 records of day 1 of 2000, whose steps are 3600, 39600,
      // -1800 and 5400; the median of the positive ones, 5400, puts a gap above 10800 seconds.
      {{"--from", "00-001", "--to", "00-002", "--type", "2"},
       head +
           "records\t5\t5\t13\t20480 bytes\ntype 2\t5\t5\t13\t\n"
           "time\t5\t5\t13\t2000-001T00:00:00 to 2000-001T13:00:00\n"
           "gap\t39600\t7\t9\t2000-001T01:00:00 to 2000-001T12:00:00\n" +
           back},
      {{"--type", "7"}, head + "records\t0\t0\t0\t0 bytes\n"},
  };
  TempDir dir({{"in.dat", e2e::three_day_file()}});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = run(dir, e2e::concat(e2e::concat({"--summary"}, c.args), {"in.dat"}));
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_EQ(dir.names(), std::set<std::string>{"in.dat"});
  dir.write("empty.dat", "");
  EXPECT_EQ(run(dir, {"--summary", "empty.dat"}).out, head + "records\t0\t0\t0\t0 bytes\n");
  // (An empty pipe: the run ends before it would read.)
  const Result piped = run(dir, {"--summary", "-"});
  EXPECT_EQ(piped.out, "");
  EXPECT_EQ(piped.err,
            "Chunkit_: cannot read -: can be read only once (a pipe, a FIFO or a terminal), and "
            "this is read twice (F6420)\n");
  EXPECT_EQ(piped.status, 1);
}

// A split makes a file for each piece, holding exactly the bytes of a --batch copy narrowed to
// its records, and a manifest line for each in the order of their first records; by day, the
// records with no time are in no piece.
TEST(ModesEndToEnd, Split) {
  struct Piece {
    std::string name;
    std::vector<std::string> options, after;  // a --batch copy of the same bytes
  };
  const std::vector<std::string> window = {"--from", "99-365T23:00"};
  // The decoder's reports, as --batch makes them, once for each record.
  const std::string reports =
      "Chunkit_: record 19: status 3 4\nChunkit_: record 20: bad preface 02 3C 00\n";
  const struct {
    std::vector<std::string> options, after;
    std::string pattern;
    std::vector<Piece> pieces;
    std::string err;
  } cases[] = {
      {{"--split", "day"},
       {},
       "d-%Y-%j.dat",
       {{"d-1999-365.dat", {"--to", "00-001"}, {}},
        {"d-2000-001.dat", {"--from", "00-001", "--to", "00-002"}, {}},
        {"d-2000-002.dat", {"--from", "00-002"}, {}}},
       reports + "Chunkit_: 2 records have no time and are in no file\n"},
      // A window and a skip range: pieces that are not whole records one after another.
      {e2e::concat({"--split", "day"}, window),
       {"s6-8"},
       "%y%m%d-%%",
       {{"991231-%", e2e::concat(window, {"--to", "00-001"}), {"s6-8"}},
        {"000101-%", {"--from", "00-001", "--to", "00-002"}, {"s6-8"}},
        {"000102-%", {"--from", "00-002"}, {}}},
       reports},
      {{"--split", "type"},
       {},
       "t%t",
       {{"t2", {"--type", "2"}, {}}, {"t1", {"--type", "1"}, {}}, {"t-98", {"--type", "-98"}, {}}},
       reports},
      {{"--split", "7"},
       {},
       "p%n",
       {{"p001", {}, {"1", "0", "7", "0"}},
        {"p002", {}, {"8", "0", "14", "0"}},
        {"p003", {}, {"15", "0", "0", "0"}}},
       reports},
      {{"--split", "4", "--type", "2"},
       {"3", "100", "0", "0"},
       "%n.dat",
       {{"001.dat", {"--type", "2"}, {"3", "100", "9", "0"}},
        {"002.dat", {"--type", "2"}, {"10", "0", "18", "0"}},
        {"003.dat", {"--type", "2"}, {"18", "0", "0", "0"}}},
       "Chunkit_: record 19: status 3 4\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.options) + " " + c.pattern);
    TempDir dir({{"in.dat", e2e::three_day_file()}});
    const Result r = run(dir, e2e::concat(e2e::concat(c.options, {"in.dat", c.pattern}), c.after));
    std::string manifest;
    std::set<std::string> names = {"in.dat"};
    for (const Piece& p : c.pieces) {
      const Result batch =
          run(dir, e2e::concat(e2e::concat(e2e::concat({"--batch"}, p.options), {"in.dat", "-"}),
                               p.after));
      EXPECT_TRUE(dir.read(p.name) == batch.out) << p.name;
      // Its line: "-\tRECORDS\tBYTES\n", after the decoder's reports.
      manifest += p.name + batch.err.substr(batch.err.rfind("-\t") + 1);
      names.insert(p.name);
    }
    EXPECT_EQ(r.out, manifest);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.names(), names);
  }
}

// A split plans every name before it creates anything: a name that is taken, or one that two
// pieces would share, ends the run with nothing made (after the decoder's reports of the plan);
// so does an input it cannot read twice.
TEST(ModesEndToEnd, SplitMakesAllItsFilesOrNone) {
  const std::string reports =
      "Chunkit_: record 19: status 3 4\nChunkit_: record 20: bad preface 02 3C 00\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
    int status;
  } cases[] = {
      {{"--split", "day", "in.dat", "d-%j"},
       reports + "Chunkit_: cannot open d-001: file already exists (F6415)\n", 1},
      {{"--split", "day", "in.dat", "d-%m"},
       reports + "Chunkit_: --split: two pieces would be named d-01\nTry 'Chunkit_ --help'.\n", 2},
      {{"--split", "day", "-", "d-%j"},
       "Chunkit_: cannot read -: can be read only once (a pipe, a FIFO or a terminal), and this "
       "is read twice (F6420)\n",
       1},
  };
  TempDir dir({{"in.dat", e2e::three_day_file()}, {"d-001", "keep"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = run(dir, c.args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"d-001", "in.dat"}));
    EXPECT_EQ(dir.read("d-001"), "keep");
  }
}

TEST(ModesEndToEnd, EmptyFile) {
  TempDir dir;
  dir.write("in.dat", "");
  Result r = run(dir, {"--list", "in.dat"});
  EXPECT_EQ(r.out, kHeader);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  r = run(dir, {"--batch", "in.dat", "b.dat"});
  EXPECT_EQ(r.out, "b.dat\t0\t0\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("b.dat"), "");
}

TEST(ModesEndToEnd, UsageErrorsCreateNothing) {
  const std::string long_name(260, 'o');
  const struct {
    std::vector<std::string> args;
    std::string what;
  } cases[] = {
      {{"--batch", "in.dat", "b.dat", "1", "0", "3x"}, "position 3 is not a number: 3x"},
      {{"--list", "in.dat", "1", "0", "0", ""}, "position 4 is empty"},
      {{"--list", "in.dat", "2", "0", "s5"}, "position 3 is not a number: s5"},
      {{"--batch", "in.dat", "new.dat", " "}, "position 1 is not a number:  "},
      {{"--list"}, "no input file given"},
      {{"--batch", "in.dat"}, "no output file given"},
      {{"--bat", "in.dat", "b.dat"}, "unknown option: --bat"},
      {{"--list", "--batch", "in.dat", "b.dat"}, "--list and --batch exclude each other"},
      {{"--batch", "in.dat", "new.dat", "s5", "s3"},
       "skip ranges must ascend without overlapping: s3"},
      {{"--list", "in.dat", "s2-5", "s5"}, "skip ranges must ascend without overlapping: s5"},
      {{"--batch", "in.dat", "b.dat", "1", "0", "0", "0", "5"},
       "only skip ranges may follow the four positions: 5"},
      {{"--list", "in.dat", "s2", "7"}, "only skip ranges may follow a skip range: 7"},
      {{"--batch", "in.dat", "b.dat", "s5-"}, "skip range is not s#, s#-## or s-##: s5-"},
      {{"--list", "in.dat", "s9-3"}, "skip range ends before it starts: s9-3"},
      {{"--list", "   "}, "input name is blank"},
      {{"--batch", "in.dat", " "}, "output name is blank"},
      {{"--batch", "in.dat", long_name}, "output name is longer than 259 characters: " + long_name},
      {{"--list", "--", "in.dat", "--help"}, "position 1 is not a number: --help"},
      {{"--batch", "in.dat", "b.dat", "1", "0", "3", "0", "s5", "s6"},
       "skip range lies past the last record to copy (3): s6"},
      // An output name forgotten: the first position or skip range is no file name.
      {{"--batch", "in.dat", "3", "0", "5", "0"},
       "no output file given: 3 reads as a position or a skip range (write ./3 for a file of "
       "that name)"},
      {{"--batch", "in.dat", "s5-10"},
       "no output file given: s5-10 reads as a position or a skip range (write ./s5-10 for a "
       "file of that name)"},
      // Times and types.
      {{"--list", "--from", "99-366", "in.dat"}, "--from: not a date and time: 99-366"},
      {{"--list", "--to", "2001-02-29", "in.dat"}, "--to: not a date and time: 2001-02-29"},
      {{"--list", "--to", "00-001T25:00", "in.dat"}, "--to: not a date and time: 00-001T25:00"},
      {{"--batch", "--from", "99-400", "in.dat", "b.dat"}, "--from: not a date and time: 99-400"},
      {{"--list", "--from", "2000-1-01", "in.dat"}, "--from: not a date and time: 2000-1-01"},
      {{"--list", "--from", "00-001T", "in.dat"}, "--from: not a date and time: 00-001T"},
      {{"--list", "--from", "00-001T01", "in.dat"}, "--from: not a date and time: 00-001T01"},
      {{"--list", "--from", "00-001  01:00", "in.dat"},
       "--from: not a date and time: 00-001  01:00"},
      {{"--list", "--from", "00-001T01:60", "in.dat"}, "--from: not a date and time: 00-001T01:60"},
      {{"--list", "--from", "", "in.dat"}, "--from: not a date and time: "},
      {{"--list", "--from"}, "--from: no value given"},
      {{"--list", "--to", "00-001", "--to", "00-002", "in.dat"}, "--to: given twice"},
      {{"--list", "--type", "2,", "in.dat"}, "--type: not a list of types: 2,"},
      {{"--list", "--type", ",2", "in.dat"}, "--type: not a list of types: ,2"},
      {{"--list", "--type", "2,x", "in.dat"}, "--type: not a list of types: 2,x"},
      {{"--list", "--type", "--3", "in.dat"}, "--type: not a list of types: --3"},
      {{"--list", "--type", "1.5", "in.dat"}, "--type: not a list of types: 1.5"},
      {{"--from", "00-001", "in.dat", "b.dat"},
       "--from, --to and --type need --list, --batch, --summary or --split"},
      {{"--summary", "--list", "in.dat"}, "--summary excludes --list and --batch"},
      {{"--summary", "--gap", "0", "in.dat"}, "--gap: not a whole number of seconds from 1: 0"},
      {{"--summary", "--gap", "1.5", "in.dat"}, "--gap: not a whole number of seconds from 1: 1.5"},
      {{"--list", "--gap", "60", "in.dat"}, "--gap needs --summary"},
      // Splits: what makes a piece, and the pattern of its names.
      {{"--split", "0", "in.dat", "p%n"}, "--split: not day, type or a whole number from 1: 0"},
      {{"--split"}, "--split: no value given"},
      {{"--split", "day", "--batch", "in.dat", "p"}, "--split excludes --list, --batch and --summary"},
      {{"--split", "day", "in.dat"}, "no pattern given"},
      {{"--split", "day", "in.dat", "-"}, "--split: the pieces are files, not standard output"},
      {{"--split", "7", "in.dat", "s5"},
       "no pattern given: s5 reads as a position or a skip range (write ./s5 for a file of that "
       "name)"},
      {{"--split", "type", "in.dat", "t%j"},
       "--split type: %j is not the same for every record of a piece: t%j"},
      {{"--split", "day", "in.dat", "%t"},
       "--split day: %t is not the same for every record of a piece: %t"},
      {{"--split", "7", "in.dat", "%Y"}, "--split 7: %Y is not the same for every record of a piece: %Y"},
      {{"--split", "day", "in.dat", "%j%"}, "--split: a pattern that ends in %: %j%"},
      {{"--split", "day", "in.dat", "%j%s"},
       "--split: no field %s (fields: %Y %y %j %m %d %t %n %%): %j%s"},
      {{"--split", "day", "in.dat", std::string(256, 'p') + "%Y"},
       "--split: the pattern may make names longer than 259 characters: " + std::string(256, 'p') +
           "%Y"},
      // A message keeps to one line: what it quotes is escaped.
      {{"--list", "in.dat", "3\nx\t\\\x01"}, "position 1 is not a number: 3\\nx\\t\\\\\\x01"},
      // Every argument is checked before the input is opened.
      {{"--batch", "missing.dat", "new.dat", "x"}, "position 1 is not a number: x"},
  };
  TempDir dir({{"in.dat", test_file()}});
  dir.write("b.dat", "keep");
  for (const auto& c : cases) {
    Result r = run(dir, c.args);
    EXPECT_EQ(r.err, "Chunkit_: " + c.what + "\nTry 'Chunkit_ --help'.\n");
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.status, 2) << c.what;
    EXPECT_EQ(dir.names(), (std::set<std::string>{"b.dat", "in.dat"})) << c.what;
  }
  EXPECT_EQ(dir.read("b.dat"), "keep");
}

// After "--" every word is an argument, even one that looks like an option.
TEST(ModesEndToEnd, DoubleDashEndsTheOptions) {
  TempDir dir;
  dir.write("--x.dat", test_file());
  dir.write("in.dat", test_file());
  Result r = run(dir, {"--", "--x.dat", "c.dat", "0", "0", "0", "0"});
  EXPECT_NE(r.out.find(" Input,output=--x.dat c.dat \r\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("c.dat"), kWhole);
  r = run(dir, {"--list", "--", "--x.dat"});
  EXPECT_EQ(r.out, run(dir, {"--list", "in.dat"}).out);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), kRecords + 1);
  EXPECT_EQ(r.status, 0);
  r = run(dir, {"--batch", "--", "--x.dat", "b.dat"});
  EXPECT_EQ(r.out,
            "b.dat\t" + std::to_string(kRecords) + "\t" + std::to_string(kWhole.size()) + "\n");
  EXPECT_EQ(dir.read("b.dat"), kWhole);
}

// A run-time error ends either mode with a report in one line, exit status 1, no other line;
// a folder as input fails at its open.
TEST(ModesEndToEnd, InputThatCannotBeOpened) {
  const std::string missing = "Chunkit_: cannot open missing.dat: file not found (F6416)\n";
  const std::string folder = "Chunkit_: cannot open .: is a folder (F6419)\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--batch", "missing.dat", "b.dat"}, missing},
      {{"--batch", "missing.dat", "b.dat", "2", "0", "0", "0", "s5"}, missing},
      {{"--list", "missing.dat", "3"}, missing},
      {{"--list", "."}, folder},
      {{"--batch", ".", "b.dat"}, folder},
  };
  for (const auto& c : cases) {
    TempDir dir;
    Result r = run(dir, c.args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(dir.names().empty());
  }
}

}  // namespace
