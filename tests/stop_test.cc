#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ends.h"
#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/layout.h"
#include "runtime/run.h"
#include "runtime/units.h"
#include "wrappers.h"

namespace {

// Starts a run whose output file out.dat holds three bytes that are still in its block.
void start_with_buffered_output() {
  fake::start({"in.dat", "out.dat"});
  rt::OpenSpec req;
  req.status = "NEW";
  req.form = "binary";
  ASSERT_TRUE(rt::open_unit(30, "out.dat", req).ok());
  rt::binwrite_begin(30);
  (void)rt::binwrite_item("abc", 3);
  (void)rt::binwrite_end();
}

TEST(Stop, WritesTheOwedLineEndThenTheMessageThenTheClosingLineEnd) {
  fake::FakePlatform fp;
  fake::start({"in.dat", "out.dat"});
  rt::write_begin(rt::kDefaultUnit, "(a)");
  rt::write_text(" hello");
  (void)rt::write_end();
  EXPECT_EQ(fake::status_of_end(rt::Status{}), 0);
  EXPECT_EQ(fp.out, "hello\r\nStop - Program terminated.\r\n\r\n");
  EXPECT_EQ(fp.err, "");
}

TEST(Stop, NoLineOwedWritesOnlyTheMessage) {
  fake::FakePlatform fp;
  fake::start({"in.dat", "out.dat"});
  EXPECT_EQ(fake::status_of_end(rt::Status{}), 0);
  EXPECT_EQ(fp.out, "Stop - Program terminated.\r\n");
}

TEST(Report, BytesOnStandardErrorAndStatusOne) {
  fake::FakePlatform fp;
  fake::start({"in.dat", "out.dat"});
  EXPECT_EQ(fake::status_of_end(rt::Status::error(62, rt::StmtKind::kOpen, "in.dat")), 1);
  EXPECT_EQ(fp.err, "\r\nrun-time error F6416: OPEN(in.dat)\r\n- file not found\r\n");
  fp.err.clear();
  fake::start({"in.dat", "out.dat"});
  EXPECT_EQ(fake::status_of_end(rt::Status::error(0, rt::StmtKind::kGeneral, "")), 1);
  EXPECT_EQ(fp.err, "\r\nrun-time error F6096\r\n- run-time failure\r\n");
}

TEST(Report, ConsoleOutputWrittenBeforeComesFirstAndOutputFileIsFlushed) {
  fake::FakePlatform fp;
  start_with_buffered_output();
  rt::write_begin(rt::kDefaultUnit, "(a)");
  rt::write_text(" before");
  (void)rt::write_end();
  EXPECT_EQ(fake::status_of_end(rt::Status::error(73, rt::StmtKind::kRead, "CON")), 1);
  EXPECT_EQ(fp.contents("out.dat"), "abc");
  EXPECT_EQ(fp.out, "before\r\n");
  // Standard output was handed over before the report was written.
  ASSERT_GE(fp.write_calls.size(), 2u);
  EXPECT_EQ(fp.write_calls.front().name, "<stdout>");
}

TEST(Report, FailureWhileClosingIsReportedAndMakesTheStatusOne) {
  fake::FakePlatform fp;
  start_with_buffered_output();
  fake::FileWritesFail full(fp, 1, platform::Err::kDiskFull);
  EXPECT_EQ(fake::status_of_end(rt::Status{}), 1);
  EXPECT_EQ(fp.out, "Stop - Program terminated.\r\n");
  EXPECT_EQ(fp.err.substr(0, 40), "\r\nrun-time error F6422: CLOSE(out.dat)\r\n");
  EXPECT_EQ(fp.contents("out.dat"), "a");
  EXPECT_EQ(fp.open_handles(), 0);
}

TEST(Report, EveryFailureWhileClosingIsReportedAndEveryUnitClosed) {
  fake::FakePlatform fp;
  start_with_buffered_output();
  rt::OpenSpec req;
  req.status = "NEW";
  req.form = "binary";
  ASSERT_TRUE(rt::open_unit(31, "two.dat", req).ok());
  rt::binwrite_begin(31);
  (void)rt::binwrite_item("xyz", 3);
  (void)rt::binwrite_end();
  fake::CloseFails late(fp, {{"out.dat", platform::Err::kIo}});  // a late failure, told by close
  fake::FileWritesFail full(fp, 4, platform::Err::kDiskFull);    // out.dat takes 3, two.dat 1
  EXPECT_EQ(fake::status_of_end(rt::Status{}), 1);
  EXPECT_EQ(fp.err,
            "\r\nrun-time error F6421: CLOSE(out.dat)\r\n- write failed\r\n"
            "\r\nrun-time error F6422: CLOSE(two.dat)\r\n- write failed: no space left (disk full, "
            "quota or file size limit)\r\n");
  EXPECT_EQ(fp.contents("out.dat"), "abc");
  EXPECT_EQ(fp.contents("two.dat"), "x");
  EXPECT_EQ(fp.open_handles(), 0);
}

TEST(Interrupt, DuringTheFinalClosingEndsBySignalAfterTheLastBlock) {
  fake::FakePlatform fp;
  start_with_buffered_output();
  fp.interrupt = 2;  // arrives as the stop begins: the closing still writes everything
  EXPECT_EQ(fake::status_of_end(rt::Status{}), -2);
  EXPECT_EQ(fp.contents("out.dat"), "abc");
  EXPECT_EQ(fp.err, "");
}

// An interrupt that lands after the run-time's last look and before a read starts to wait,
// which the platform turns into a read ended with kInterrupted: the run ends by that signal,
// with the prompt and the buffered output written and no report.
TEST(Interrupt, ArrivingJustBeforeAReadWaitsEndsBySignal) {
  const struct {
    const char* read;
    int signal;
    std::function<rt::Status()> statement;
  } cases[] = {
      {"console prompt", 15,
       [] {
         char name[8];
         std::size_t n = 0;
         return rt::read_console_line(name, sizeof name, &n);
       }},
      {"input file", 2,
       [] {
         char item[4];
         rt::binread_begin(31);
         return rt::binread_item(item, sizeof item);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.read);
    fake::FakePlatform fp;
    fp.stdin_data = "typed\n";
    fp.put("in.dat", "data");
    start_with_buffered_output();
    rt::OpenSpec old;
    old.status = "OLD";
    old.form = "binary";
    ASSERT_TRUE(rt::open_unit(31, "in.dat", old).ok());
    rt::write_begin(rt::kDefaultUnit, "(a\\)");
    rt::write_text(" Name: ");
    (void)rt::write_end();
    fake::SignalAtRead at_read(fp, c.signal);
    EXPECT_EQ(fake::status_of_end(c.statement), -c.signal);
    EXPECT_EQ(at_read.signal, 0);  // the signal came at the read, not before
    EXPECT_EQ(fp.contents("out.dat"), "abc");
    EXPECT_EQ(fp.out, "Name: \r\n");  // the owed line end closes the prompt's line
    EXPECT_EQ(fp.err, "");
  }
}

TEST(Interrupt, FlushesUnitsAndEndsBySignal) {
  fake::FakePlatform fp;
  start_with_buffered_output();
  fp.interrupt = 2;
  EXPECT_EQ(fake::status_of_end(rt::check_interrupt()), -2);
  EXPECT_EQ(fp.contents("out.dat"), "abc");
  EXPECT_EQ(fp.err, "");
}

// A run that fails or is interrupted deletes the files it created and wrote no byte into; a file
// that holds a byte, one the run did not create, one that took the name of the run's file
// meanwhile, and every file of a run that succeeded stay.
TEST(End, FilesTheRunCreatedAndLeftEmptyGoOnlyWhenItFailed) {
  const struct {
    const char* how;
    std::function<rt::Status()> end;
    int status;
  } ends[] = {{"stop", [] { return rt::Status{}; }, 0},
              {"report", [] { return rt::Status::error(62, rt::StmtKind::kOpen, "x"); }, 1},
              {"interrupt", [] { return rt::check_interrupt(); }, -2}};
  for (const auto& e : ends) {
    SCOPED_TRACE(e.how);
    fake::FakePlatform fp;
    fp.put("old.dat", "");
    start_with_buffered_output();  // out.dat: three bytes still in the block
    rt::OpenSpec create;
    create.status = "NEW";
    create.form = "binary";
    ASSERT_TRUE(rt::open_unit(31, "empty.dat", create).ok());
    ASSERT_TRUE(rt::open_unit(32, "taken.dat", create).ok());
    fp.put("taken.dat", "theirs");
    rt::OpenSpec old;
    old.status = "OLD";
    old.form = "binary";
    ASSERT_TRUE(rt::open_unit(33, "old.dat", old).ok());
    if (e.status < 0) fp.interrupt = -e.status;
    EXPECT_EQ(fake::status_of_end(e.end), e.status);
    EXPECT_EQ(fp.files.count("empty.dat"), e.status == 0 ? 1u : 0u);
    EXPECT_EQ(fp.contents("out.dat"), "abc");
    EXPECT_EQ(fp.contents("taken.dat"), "theirs");
    EXPECT_EQ(fp.files.count("old.dat"), 1u);
    EXPECT_EQ(fp.open_handles(), 0);
  }
}

// Standard output is closed last; a failure that only its close shows is a report.
TEST(End, StandardOutputIsClosedAndItsFailureReported) {
  fake::FakePlatform fp;
  fake::start({"in.dat", "out.dat"});
  fake::CloseFails fails(fp, {{"<stdout>", platform::Err::kIo}});
  EXPECT_EQ(fake::status_of_end(rt::Status{}), 1);
  EXPECT_EQ(fp.out, "Stop - Program terminated.\r\n");
  EXPECT_EQ(fp.err, "\r\nrun-time error F6421: CLOSE(CON)\r\n- write failed\r\n");
}

TEST(FatalStartup, ReportAndStatus255) {
  fake::FakePlatform fp;
  EXPECT_EQ(
      fake::status_of_end(rt::Status::startup("R6008\r\n- not enough space for arguments\r\n")),
      255);
  EXPECT_EQ(fp.err, "\r\nruntime error R6008\r\n- not enough space for arguments\r\n");
}

}  // namespace
