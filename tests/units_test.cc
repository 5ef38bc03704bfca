#include "runtime/units.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ends.h"
#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/layout.h"
#include "runtime/run.h"
#include "wrappers.h"

namespace {

constexpr std::size_t kBlock = rt::kFileBlockSize;

rt::OpenSpec spec_of(const char* status, const char* form = "BINARY") {
  rt::OpenSpec s;
  if (status != nullptr) s.status = status;
  if (form != nullptr) s.form = form;
  return s;
}

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) % 251);
  return s;
}

using fake::start;

TEST(BinaryRead, StatementsOf4096BytesAcrossTheEndOfTheFile) {
  struct Case {
    std::size_t file_size;
    std::size_t item_size;
    // Bytes each of four statements fills; fewer than 4096 means it returned -1.
    std::vector<std::size_t> filled;
  };
  const Case cases[] = {
      {10000, 1, {4096, 4096, 1808, 0}},
      {10000, 4096, {4096, 4096, 1808, 0}},
      {8192, 1, {4096, 4096, 0, 0}},
      {8192, 4096, {4096, 4096, 0, 0}},
      {0, 1, {0, 0, 0, 0}},
      {0, 4096, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file_size << " bytes, items of " << c.item_size);
    fake::FakePlatform fp;
    const std::string data = pattern(c.file_size);
    fp.put("in.dat", data);
    start();
    ASSERT_TRUE(rt::open_unit(1, "in.dat", spec_of("OLD", "binary")).ok());
    std::size_t offset = 0;
    for (std::size_t want : c.filled) {
      std::string buf(4096, '\xff');
      rt::binread_begin(1);
      std::int32_t status = 0;
      std::size_t items = 0;
      while (status == 0 && items * c.item_size < buf.size()) {
        status = rt::binread_item(buf.data() + items * c.item_size, c.item_size).value();
        ++items;
      }
      EXPECT_EQ(rt::binread_end().value(), status);
      EXPECT_EQ(status, want == 4096 ? 0 : -1);
      if (c.item_size == 1) {
        EXPECT_EQ(items, want == 4096 ? 4096 : want + 1);
      }
      EXPECT_EQ(buf.substr(0, want), data.substr(offset, want));
      EXPECT_EQ(buf.substr(want), std::string(4096 - want, '\xff'));
      offset += want;
    }
    EXPECT_EQ(fp.err, "");
  }
}

// Items are read in place when the unit's block holds them whole; an item across the end of a
// block or of the file is copied into the caller's buffer, with the bytes placed counted.
TEST(BinaryRead, ItemsInPlaceOrCopied) {
  fake::FakePlatform fp;
  const std::size_t item = 3000;  // so that items cross the end of the first block
  const std::string data = pattern(2 * kBlock + 5000);
  fp.put("in.dat", data);
  start();
  ASSERT_TRUE(rt::open_unit(1, "in.dat", spec_of("OLD")).ok());
  std::string buf(item, '#');
  std::size_t offset = 0, copied = 0;
  for (;;) {
    rt::InPlace got;
    const std::int32_t status = rt::binread_in_place(1, buf.data(), item, &got).value();
    const void* at = got.data;
    const std::size_t placed = got.placed;
    EXPECT_EQ(got.at, static_cast<std::int64_t>(offset));
    const std::size_t left = data.size() - offset;
    ASSERT_EQ(status, left < item ? -1 : 0) << offset;
    ASSERT_EQ(placed, std::min(left, item)) << offset;
    const bool in_buffer = at == buf.data();
    const bool crosses = offset / kBlock != (offset + item - 1) / kBlock;
    EXPECT_EQ(in_buffer, crosses || left < item) << offset;
    copied += in_buffer;
    EXPECT_EQ(std::string(static_cast<const char*>(at), placed), data.substr(offset, placed));
    offset += placed;
    if (status != 0) break;
  }
  EXPECT_EQ(offset, data.size());
  EXPECT_EQ(copied, 3u);  // two block ends and the end of the file
  // A file goes back to any byte, and reads on from there.
  bool moved = false;
  ASSERT_TRUE(rt::binread_seek(1, 5, &moved).ok());
  ASSERT_TRUE(moved);
  rt::InPlace got;
  EXPECT_EQ(rt::binread_in_place(1, buf.data(), item, &got).value(), 0);
  EXPECT_EQ(got.at, 5);
  EXPECT_EQ(std::string(got.data, item), data.substr(5, item));
}

TEST(BinaryRead, FailuresGiveStatusesOrReports) {
  fake::FakePlatform fp;
  fp.put("in.dat", "abc");
  start();
  ASSERT_TRUE(rt::open_unit(1, "in.dat", spec_of("OLD", "binary")).ok());
  char buf[8];
  {
    fake::FileReadsFail fails(fp, 0, platform::Err::kIo);
    rt::binread_begin(1);
    EXPECT_EQ(rt::binread_item(buf, 1).value(), 6500);
    EXPECT_EQ(rt::binread_item(buf, 1).value(), 6500);  // the statement is over
  }
  rt::binread_begin(1);
  EXPECT_EQ(rt::binread_item(buf, 8).value(), -1);
  EXPECT_EQ(std::string(buf, 3), "abc");
  // The unit stays at its end; without a status the statement is reported.
  EXPECT_EQ(fake::status_of_end([&] {
              rt::binread_begin(1);
              return rt::binread_item(buf, 1);
            }),
            1);
  EXPECT_NE(fp.err.find("F6405: READ(in.dat)"), std::string::npos) << fp.err;

  // A console unit is not a binary connection.
  start();
  rt::binread_begin(5);
  EXPECT_EQ(rt::binread_item(buf, 1).value(), 6204);
}

TEST(BinaryWrite, HandsTheSystemOneCallPerFullBlockAndTheRestAtTheClose) {
  fake::FakePlatform fp;
  start();
  ASSERT_TRUE(rt::open_unit(30, "out.dat", spec_of("NEW")).ok());
  const std::string data = pattern(2 * kBlock + 4);
  auto calls = [&] {
    std::vector<std::size_t> sizes;
    for (const auto& c : fp.write_calls) {
      if (c.name == "out.dat") sizes.push_back(c.size);
    }
    return sizes;
  };
  std::size_t at = 0;
  for (; at + 4096 <= 2 * kBlock; at += 4096) {
    rt::binwrite_begin(30);
    (void)rt::binwrite_item(data.data() + at, 4096);
    (void)rt::binwrite_end();
    if (at + 4096 == kBlock) {
      EXPECT_EQ(calls(), std::vector<std::size_t>{kBlock});
    }
  }
  EXPECT_EQ(calls(), (std::vector<std::size_t>{kBlock, kBlock}));
  rt::binwrite_begin(30);
  for (; at < data.size(); ++at) (void)rt::binwrite_item(&data[at], 1);
  (void)rt::binwrite_end();
  EXPECT_EQ(calls().size(), 2u);
  EXPECT_EQ(fake::status_of_end(rt::Status{}), 0);
  EXPECT_EQ(calls(), (std::vector<std::size_t>{kBlock, kBlock, 4}));
  EXPECT_TRUE(fp.contents("out.dat") == data);
  EXPECT_EQ(fp.open_handles(), 0);
}

TEST(BinaryWrite, FailedWriteIsReportedOnceAndKeepsWhatWasWritten) {
  const std::pair<platform::Err, const char*> cases[] = {
      {platform::Err::kDiskFull, "F6422: WRITE(out.dat)"},
      {platform::Err::kAccessDenied, "F6421: WRITE(out.dat)"},
  };
  for (auto [err, report] : cases) {
    fake::FakePlatform fp;
    start();
    ASSERT_TRUE(rt::open_unit(30, "out.dat", spec_of("NEW")).ok());
    fake::FileWritesFail full(fp, kBlock + 10, err);
    const std::string data = pattern(3 * kBlock);
    EXPECT_EQ(fake::status_of_end([&] {
                rt::binwrite_begin(30);
                return rt::binwrite_item(data.data(), data.size());
              }),
              1);
    EXPECT_NE(fp.err.find(report), std::string::npos) << fp.err;
    EXPECT_EQ(fp.err.find("run-time error", 5), std::string::npos) << "reported twice";
    EXPECT_TRUE(fp.contents("out.dat") == data.substr(0, kBlock + 10));
  }
}

TEST(BinaryWrite, FirstWriteAfterReadingCutsTheFileThere) {
  fake::FakePlatform fp;
  fp.put("f.dat", "abcdef");
  start();
  ASSERT_TRUE(rt::open_unit(3, "f.dat", spec_of("OLD")).ok());
  char buf[2];
  rt::binread_begin(3);
  EXPECT_EQ(rt::binread_item(buf, 2).value(), 0);
  rt::binwrite_begin(3);
  (void)rt::binwrite_item("XY", 2);
  (void)rt::binwrite_end();
  EXPECT_EQ(fp.contents("f.dat"), "ab");
  fake::close_all();
  EXPECT_EQ(fp.contents("f.dat"), "abXY");

  // A unit opened read-only refuses the write before anything is cut.
  fp.put("r.dat", "abc");
  start();
  rt::OpenSpec ro = spec_of("OLD");
  ro.access = "READ";
  ASSERT_TRUE(rt::open_unit(4, "r.dat", ro).ok());
  rt::binwrite_begin(4);
  EXPECT_EQ(rt::binwrite_item("x", 1).value(), 6421);
  EXPECT_EQ(fp.contents("r.dat"), "abc");
}

TEST(Open, ResultsOfStatusesNamesAndKeywords) {
  struct Case {
    const char* name;
    const char* status;
    const char* form;
    std::int32_t unit;
    std::int32_t result;
    const char* created;  // file that exists afterwards, or null
  };
  const Case cases[] = {
      {"old.dat", "NEW", "BINARY", 30, 6415, nullptr},
      {"missing.dat", "OLD", "BINARY", 30, 6416, nullptr},
      {"missing.dat", "old  ", "binary ", 30, 6416, nullptr},
      {"new.dat", "OLDX", "BINARY", 30, 6412, nullptr},
      {"new.dat", "NEW", "BIN", 30, 6412, nullptr},
      {"new.dat", "NEW", "BINARYX", 30, 6412, nullptr},
      {"new.dat", "NEW", "BINARY", 40000, 6314, nullptr},
      {"new.dat", "NEW", "BINARY", -32768, 6314, nullptr},
      {"  new.dat  ", "new", "Binary", -32767, 0, "new.dat"},
      {"new.dat", nullptr, nullptr, 7, 0, "new.dat"},
      {"con.exe", nullptr, nullptr, 7, 0, "con.exe"},
      {"denied.dat", "OLD", "BINARY", 7, 6414, nullptr},
      {"nul", "NEW", "UNFORMATTED", 7, 6202, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakePlatform fp;
    fp.put("old.dat", "old");
    fp.put("denied.dat", "x");
    fake::OpenFails denied(fp, {{"denied.dat", platform::Err::kAccessDenied}});
    start();
    EXPECT_EQ(rt::open_unit(c.unit, c.name, spec_of(c.status, c.form)).value(), c.result);
    EXPECT_EQ(fp.out + fp.err, "");
    EXPECT_EQ(fp.contents("old.dat"), "old");
    EXPECT_EQ(fp.files.size(), c.created != nullptr ? 3u : 2u);
    if (c.created != nullptr) {
      EXPECT_EQ(fp.files.count(c.created), 1u);
    }
    EXPECT_EQ(fp.open_handles(), c.result == 0 ? 1 : 0);
  }
}

// Where the system does not reserve them, printer and serial names and device names with an
// extension are ordinary files, created new like any other; where it does, its own names reach
// the device (its file here) and a new file is never made under them.
TEST(Open, DeviceNamesFollowTheSystem) {
  struct Case {
    const char* name;
    bool windows;
    std::int32_t result;
    const char* created;  // file made by the open, or null
  };
  const Case cases[] = {
      {"PRN", false, 6415, nullptr},
      {"prn.txt", false, 0, "prn.txt"},
      {"Lpt3", false, 0, "Lpt3"},
      {"aux.dat", false, 0, "aux.dat"},
      {"COM1", false, 6415, nullptr},
      {"nul.dat", false, 0, "nul.dat"},
      {"con.txt", false, 0, "con.txt"},
      {"err.log", false, 0, "err.log"},
      {"ERR", false, 6413, nullptr},
      {"CON", false, 6413, nullptr},
      {"NUL", false, 0, nullptr},
      {"prn.txt", true, 0, nullptr},
      {"aux.dat", true, 0, nullptr},
      {"Lpt3", true, 6416, nullptr},
      {"nul.dat", true, 0, nullptr},
      {"con.txt", true, 6413, nullptr},
      {"ERR.txt", true, 0, "ERR.txt"},
      {"err.log", true, 0, "err.log"},
      // The system's own names under any extension and in any folder; the run-time's own
      // names only as the whole name.
      {"nul.log", true, 0, nullptr},
      {"d\\NUL .e1", true, 0, nullptr},
      {"C:com5", true, 6416, nullptr},
      {"LPT9.x.y", true, 6416, nullptr},
      {"user.dat", true, 0, "user.dat"},
      {"line", true, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << (c.windows ? " (reserved)" : ""));
    fake::FakePlatform fp;
    fp.windows_names = c.windows;
    fp.put("PRN", "keep");
    fp.put("COM1", "keep");
    start();
    ASSERT_TRUE(rt::open_unit(20, "ERR", spec_of(nullptr, nullptr)).ok());
    EXPECT_EQ(rt::open_unit(30, c.name, spec_of("NEW")).value(), c.result);
    if (c.result == 0) {
      rt::binwrite_begin(30);
      (void)rt::binwrite_item("copy", 4);
    }
    fake::close_all();
    EXPECT_EQ(fp.files.size(), c.created != nullptr ? 3u : 2u);
    if (c.created != nullptr) {
      EXPECT_EQ(fp.contents(c.created), "copy");
    }
    if (!c.windows) {
      EXPECT_EQ(fp.contents("PRN"), "keep");
      EXPECT_EQ(fp.contents("COM1"), "keep");
    }
  }
}

TEST(Open, FailureWithoutErrorReturnIsReported) {
  fake::FakePlatform fp;
  start({"missing.dat"});
  EXPECT_EQ(fake::status_of_end(rt::open_unit(1, "missing.dat", spec_of("OLD", "binary"))), 1);
  EXPECT_NE(fp.err.find("\r\nrun-time error F6416: OPEN(missing.dat)\r\n- "), std::string::npos)
      << fp.err;
  EXPECT_TRUE(fp.files.empty());
}

TEST(Open, ConnectionsAndReopens) {
  fake::FakePlatform fp;
  fp.put("a.dat", "a");
  start();
  // A failed NEW leaves the unit free for the next name at once.
  EXPECT_EQ(rt::open_unit(30, "a.dat", spec_of("NEW")).value(), 6415);
  EXPECT_TRUE(rt::open_unit(30, "b.dat", spec_of("NEW")).ok());
  EXPECT_EQ(rt::unit_name(30), "b.dat");
  EXPECT_TRUE(rt::open_unit(1, "a.dat", spec_of("OLD")).ok());
  // The same file on another unit; the same file on the same unit with the same / other kind.
  EXPECT_EQ(rt::open_unit(2, "a.dat", spec_of("OLD")).value(), 6413);
  EXPECT_EQ(rt::open_unit(2, "a.dat", spec_of("REPLACE")).value(), 6413);
  EXPECT_EQ(fp.contents("a.dat"), "a");
  EXPECT_TRUE(rt::open_unit(1, "a.dat", spec_of("OLD")).ok());
  EXPECT_EQ(rt::open_unit(1, "a.dat", spec_of("OLD", "FORMATTED")).value(), 6209);
  // Devices by name in any case; NUL may be connected any number of times.
  EXPECT_TRUE(rt::open_unit(3, "err", spec_of(nullptr, nullptr)).ok());
  EXPECT_EQ(rt::open_unit(4, " Err ", spec_of(nullptr, nullptr)).value(), 6413);
  EXPECT_TRUE(rt::open_unit(4, "NUL", spec_of("NEW")).ok());
  EXPECT_TRUE(rt::open_unit(10, "nul", spec_of("NEW")).ok());
  // The console units hold the console: no other unit takes it.
  EXPECT_EQ(rt::open_unit(11, "con", spec_of(nullptr, nullptr)).value(), 6413);
  EXPECT_EQ(rt::open_unit(11, "User", spec_of("NEW")).value(), 6413);
  // The console units keep their connection on "CON" (or "USER"), of the text kind only.
  EXPECT_TRUE(rt::open_unit(6, "CON", spec_of(nullptr, nullptr)).ok());
  EXPECT_TRUE(rt::open_unit(6, "user", spec_of(nullptr, nullptr)).ok());
  EXPECT_EQ(rt::open_unit(6, "CON", spec_of(nullptr)).value(), 6209);
  EXPECT_TRUE(rt::is_console_output(6));
  // Reconnecting a unit to another file writes out and closes the first.
  rt::binwrite_begin(30);
  (void)rt::binwrite_item("xyz", 3);
  EXPECT_TRUE(rt::open_unit(30, "c.dat", spec_of("NEW")).ok());
  EXPECT_EQ(fp.contents("b.dat"), "xyz");
  EXPECT_EQ(fp.open_handles(), 4);  // a.dat, NUL twice, c.dat
  // Writes to NUL go nowhere; a scratch file is gone after the close.
  rt::binwrite_begin(4);
  (void)rt::binwrite_item("gone", 4);
  EXPECT_TRUE(rt::open_unit(8, "s.tmp", spec_of("SCRATCH")).ok());
  rt::binwrite_begin(8);
  (void)rt::binwrite_item("tmp", 3);
  EXPECT_TRUE(rt::open_unit(9, "b.dat", spec_of("REPLACE")).ok());
  fake::close_all();
  EXPECT_EQ(fp.files.count("s.tmp"), 0u);
  EXPECT_EQ(fp.contents("b.dat"), "");
  EXPECT_EQ(fp.files.size(), 3u);  // a.dat, b.dat, c.dat
  EXPECT_EQ(fp.open_handles(), 0);
}

// Units whose numbers differ by a multiple of 8 share the hint that saves searching the table;
// reconnections move units between slots under it.
TEST(BinaryWrite, StatementsAlternatingBetweenUnitsReachTheirOwnFiles) {
  fake::FakePlatform fp;
  start();
  const auto put = [](std::int32_t unit, const char* text) {
    rt::binwrite_begin(unit);
    (void)rt::binwrite_item(text, 1);
    (void)rt::binwrite_end();
  };
  ASSERT_TRUE(rt::open_unit(1, "a.dat", spec_of("NEW")).ok());
  ASSERT_TRUE(rt::open_unit(9, "b.dat", spec_of("NEW")).ok());
  for (const char* t : {"1", "2", "3"}) {
    put(1, t);
    put(9, t);
  }
  // Unit 1 gets a new file in its old slot while the hint names unit 9.
  ASSERT_TRUE(rt::open_unit(1, "c.dat", spec_of("NEW")).ok());
  put(1, "4");
  ASSERT_TRUE(rt::open_unit(17, "d.dat", spec_of("NEW")).ok());
  // Unit 9 gives up its slot; unit 25 takes it.
  ASSERT_TRUE(rt::open_unit(9, "e.dat", spec_of("NEW")).ok());
  ASSERT_TRUE(rt::open_unit(25, "f.dat", spec_of("NEW")).ok());
  for (const char* t : {"5", "6"}) {
    for (std::int32_t unit : {1, 9, 17, 25}) put(unit, t);
  }
  fake::close_all();
  EXPECT_EQ(fp.contents("a.dat"), "123");
  EXPECT_EQ(fp.contents("b.dat"), "123");
  EXPECT_EQ(fp.contents("c.dat"), "456");
  EXPECT_EQ(fp.contents("d.dat"), "56");
  EXPECT_EQ(fp.contents("e.dat"), "56");
  EXPECT_EQ(fp.contents("f.dat"), "56");
}

TEST(Open, TableHoldsSixtyOneUnits) {
  fake::FakePlatform fp;
  start();
  for (int u = 1; u <= 61; ++u) {
    std::string name = std::to_string(u);
    ASSERT_TRUE(rt::open_unit(u, name.insert(0, 1, 'f'), spec_of("NEW")).ok());
  }
  EXPECT_EQ(rt::open_unit(100, "extra", spec_of("NEW")).value(), 6418);
  EXPECT_EQ(fp.files.count("extra"), 0u);
}

TEST(BlankName, TakesCommandLineWordsThenAsks) {
  fake::FakePlatform fp;
  fp.put("in.dat", "data");
  start({"in.dat"});
  ASSERT_TRUE(rt::open_unit(1, "in.dat", spec_of("OLD", "binary")).ok());
  // Word 1 is taken even though the tool fetched it itself; that file exists.
  EXPECT_EQ(rt::open_unit(30, "   ", spec_of("NEW")).value(), 6415);
  EXPECT_EQ(fp.out, "");
  // No word left: the owed console line end, then the question until a name is typed.
  rt::write_begin(rt::kDefaultUnit, "(a)");
  rt::write_text(" hello");
  (void)rt::write_end();
  fp.stdin_data = "\n   \n out.dat \n";
  EXPECT_TRUE(rt::open_unit(30, "", spec_of("NEW")).ok());
  const std::string ask = "File name missing or blank - please enter file name\r\nUNIT 30? ";
  EXPECT_EQ(fp.out, "hello\r\n" + ask + ask + ask);
  EXPECT_EQ(fp.files.count("out.dat"), 1u);
}

TEST(ImplicitOpen, TextRecordsOnAnUnopenedUnit) {
  {
    // The next word names the input file, already connected: the write fails as an open.
    fake::FakePlatform fp;
    fp.put("in.dat", "data");
    start({"in.dat", "out.dat"});
    ASSERT_TRUE(rt::open_unit(1, "in.dat", spec_of("OLD", "binary")).ok());
    EXPECT_EQ(fake::status_of_end(rt::write_text_record(20, "report", false)), 1);
    EXPECT_NE(fp.err.find("F6413: OPEN(in.dat)"), std::string::npos) << fp.err;
    EXPECT_EQ(fp.contents("in.dat"), "data");
  }
  {
    fake::FakePlatform fp;
    start({"rep.txt"});
    (void)rt::write_text_record(20, "abc", false);
    (void)rt::write_text_record(20, "def", true);
    EXPECT_FALSE(rt::is_console_output(20));
    EXPECT_EQ(rt::unit_name(20), "rep.txt");
    fake::close_all();
    EXPECT_EQ(fp.contents("rep.txt"), "abc\r\ndef");
  }
  {
    // The ERR device: console output first, then the record straight to standard error.
    fake::FakePlatform fp;
    start();
    ASSERT_TRUE(rt::open_unit(20, "ERR", spec_of(nullptr, nullptr)).ok());
    (void)rt::console_put("before");
    (void)rt::write_text_record(20, "rec", false);
    EXPECT_EQ(fp.out, "before");
    EXPECT_EQ(fp.err, "rec\r\n");
  }
}

}  // namespace
