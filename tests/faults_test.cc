// Fault injection through the fake platform at every platform call a copy makes: the opens,
// the block reads of the input, the block writes of the output (the last one at the close),
// the closes and the console writes. Whatever fails, the run ends with a report and status 1,
// or by the signal for an interrupt, and the output file is an exact prefix of the copy.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "chunkit_/chunkit_.h"
#include "fake_platform.h"
#include "runtime/run.h"
#include "runtime/units.h"
#include "wrappers.h"

namespace {

using platform::Err;

constexpr std::size_t kBlock = rt::kFileBlockSize;
// 8.5 blocks of records: the input is read in eight blocks of 1 MiB and one of 0.5 MiB, and
// the output written in eight blocks of 1 MiB during the copy and 0.5 MiB at the close. The
// console output (64 bytes a record) fills the 64 KiB console buffer twice during the copy.
constexpr int kFullBlocks = 8;
constexpr int kRecords = static_cast<int>(kBlock * (2 * kFullBlocks + 1) / 2 / 4096);

std::string input_data() {
  std::string data(static_cast<std::size_t>(kRecords) * 4096, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>((i * 7 + i / 4096) & 0x7F);
  }
  for (std::size_t r = 0; r < data.size(); r += 4096) data[r] = 0x01;  // type 1: no preface
  return data;
}

struct Outcome {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
};

Outcome run_copy(const char* startrec = "0") {
  fake::start({"in.dat", "out.dat", startrec, "0", "0", "0"});
  const rt::Ending e = rt::end_run(chunkit::chunkit_main());
  return {e.signal != 0 ? -1 : e.status, e.signal};
}

// The faults of the tables below, by the call they break.
const auto read_fails = fake::fault<fake::FileReadsFail, int, Err>;
const auto write_fails = fake::fault<fake::FileWritesFail, std::size_t, Err>;
const auto console_fails = fake::fault<fake::StdoutWriteFails, int, Err>;
fake::Fault open_fails(const char* name, Err e) {
  return fake::fault<fake::OpenFails>(fake::Errors{{name, e}});
}
fake::Fault close_fails(const char* name, Err e) {
  return fake::fault<fake::CloseFails>(fake::Errors{{name, e}});
}

TEST(Faults, EveryPlatformCallOfACopy) {
  const std::string in = input_data();
  const std::size_t all = in.size();
  struct Case {
    const char* what;
    fake::Fault fault;
    int status;          // -1: ended by SIGINT
    const char* report;  // the report's value and statement; "" for none
    std::size_t kept;    // bytes of the output file, an exact prefix of the input; kRecords:
                         // every record before the failing statement, a whole number
  };
  const Case cases[] = {
      {"no fault", fake::fault<fake::Wrapper>(), 0, "", all},
      // Opens.
      {"input missing", open_fails("in.dat", Err::kNotFound), 1, "F6416: OPEN(in.dat)", 0},
      {"input open EIO", open_fails("in.dat", Err::kIo), 1, "F6412: OPEN(in.dat)", 0},
      {"input open EINTR", open_fails("in.dat", Err::kInterrupted), -1, "", 0},
      {"output open EINTR", open_fails("out.dat", Err::kInterrupted), -1, "", 0},
      // Reads: the first, a middle and the last block. Read errors keep the records before.
      {"read 1 EIO", read_fails(0, Err::kIo), 1, "F6500: READ(in.dat)", 0},
      {"read 2 EIO", read_fails(1, Err::kIo), 1, "F6500: READ(in.dat)", kBlock},
      {"read last EIO", read_fails(kFullBlocks, Err::kIo), 1, "F6500: READ(in.dat)",
       kFullBlocks * kBlock},
      {"read 1 EINTR", read_fails(0, Err::kInterrupted), -1, "", 0},
      {"read 2 EINTR", read_fails(1, Err::kInterrupted), -1, "", kBlock},
      {"read last EINTR", read_fails(kFullBlocks, Err::kInterrupted), -1, "", kFullBlocks * kBlock},
      // Writes: the first, a middle and the last block (written at the close after the stop).
      {"write 1 disk full", write_fails(0, Err::kDiskFull), 1, "F6422: WRITE(out.dat)", 0},
      {"write 2 disk full", write_fails(kBlock + 1000, Err::kDiskFull), 1, "F6422: WRITE(out.dat)",
       kBlock + 1000},
      {"write last disk full", write_fails(all - 1000, Err::kDiskFull), 1, "F6422: CLOSE(out.dat)",
       all - 1000},
      {"write 1 EIO", write_fails(0, Err::kIo), 1, "F6421: WRITE(out.dat)", 0},
      {"write 2 EIO", write_fails(kBlock, Err::kIo), 1, "F6421: WRITE(out.dat)", kBlock},
      {"write last EIO", write_fails(kFullBlocks * kBlock, Err::kIo), 1, "F6421: CLOSE(out.dat)",
       kFullBlocks * kBlock},
      {"write 1 short", write_fails(7, Err::kOk), 1, "F6421: WRITE(out.dat)", 7},
      {"write 2 short", write_fails(kBlock + 7, Err::kOk), 1, "F6421: WRITE(out.dat)", kBlock + 7},
      {"write last short", write_fails(all - 7, Err::kOk), 1, "F6421: CLOSE(out.dat)", all - 7},
      {"write 1 EINTR", write_fails(5, Err::kInterrupted), -1, "", 5},
      {"write 2 EINTR", write_fails(kBlock + 5, Err::kInterrupted), -1, "", kBlock + 5},
      {"write last EINTR", write_fails(all - 5, Err::kInterrupted), -1, "", all - 5},
      // Closes: the output's close reports late write failures; the input's is of no account.
      {"close output EIO", close_fails("out.dat", Err::kIo), 1, "F6421: CLOSE(out.dat)", all},
      {"close output disk full", close_fails("out.dat", Err::kDiskFull), 1, "F6422: CLOSE(out.dat)",
       all},
      {"close output EINTR", close_fails("out.dat", Err::kInterrupted), -1, "", all},
      {"close input EIO", close_fails("in.dat", Err::kIo), 0, "", all},
      // Console writes: the first, the second and the last (at the stop).
      {"console 1 EIO", console_fails(0, Err::kIo), 1, "F6421: WRITE(CON)", kRecords},
      {"console 1 disk full", console_fails(0, Err::kDiskFull), 1, "F6422: WRITE(CON)", kRecords},
      {"console 1 EINTR", console_fails(0, Err::kInterrupted), -1, "", kRecords},
      {"console 2 EIO", console_fails(1, Err::kIo), 1, "F6421: WRITE(CON)", kRecords},
      {"console last EIO", console_fails(2, Err::kIo), 1, "F6421: WRITE(CON)", all},
      {"console last EINTR", console_fails(2, Err::kInterrupted), -1, "", all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake::FakePlatform fp;
    fp.put("in.dat", in);
    const auto fault = c.fault(fp);
    Outcome o = run_copy();
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.signal, c.status == -1 ? 2 : 0);
    if (*c.report == '\0') {
      EXPECT_EQ(fp.err.find("run-time error"), std::string::npos) << fp.err;
    } else {
      EXPECT_EQ(fp.err.find("\r\nrun-time error " + std::string(c.report) + "\r\n- "), 0u)
          << fp.err;
    }
    // An interrupt is never a read error.
    if (c.status == -1) {
      EXPECT_EQ(fp.out.find("parity"), std::string::npos);
    }
    const std::string out = fp.contents("out.dat");
    if (c.kept == kRecords) {
      EXPECT_EQ(out.size() % 4096, 0u);
      EXPECT_GT(out.size(), 0u);
      EXPECT_LT(out.size(), all);
    } else {
      EXPECT_EQ(out.size(), c.kept);
    }
    EXPECT_TRUE(out == in.substr(0, out.size())) << "not a prefix of the input";
    EXPECT_EQ(fp.open_handles(), 0);
  }
}

// A copy from record 3: the whole records read in place go out from the input's blocks, which
// pass to the output between reads, so its writes no longer fall on the input's blocks. The
// reports and the prefix stay what a copy through the output's own block gives.
TEST(Faults, ACopyFromInsideTheFile) {
  const std::string in = input_data();
  const std::string copy = in.substr(2 * 4096);
  struct Case {
    const char* what;
    fake::Fault fault;
    int status;
    const char* report;
    std::size_t kept;
  } cases[] = {
      {"no fault", fake::fault<fake::Wrapper>(), 0, "", copy.size()},
      {"write 2 disk full", write_fails(kBlock + 1000, Err::kDiskFull), 1, "F6422: WRITE(out.dat)",
       kBlock + 1000},
      {"write last disk full", write_fails(copy.size() - 1000, Err::kDiskFull), 1,
       "F6422: CLOSE(out.dat)", copy.size() - 1000},
      {"read 3 EINTR", read_fails(2, Err::kInterrupted), -1, "", 2 * kBlock - 2 * 4096},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake::FakePlatform fp;
    fp.put("in.dat", in);
    const auto fault = c.fault(fp);
    Outcome o = run_copy("3");
    EXPECT_EQ(o.status, c.status);
    if (*c.report != '\0') {
      EXPECT_EQ(fp.err.find("\r\nrun-time error " + std::string(c.report) + "\r\n- "), 0u)
          << fp.err;
    }
    EXPECT_EQ(fp.contents("out.dat"), copy.substr(0, c.kept));
    EXPECT_EQ(fp.open_handles(), 0);
  }
}

// Where the file system clones, runs of whole records share the input's storage: the first
// block is tried, and once that works the rest goes as one run (read again and written when a
// later clone is refused). The copy is the same either way.
TEST(Faults, CloningRefusedMidRun) {
  const std::string in = input_data();
  const struct {
    int clones, calls;
    std::size_t written;
  } cases[] = {
      {0, 1, in.size()},           // refused at once: every byte written
      {1, 2, in.size() - kBlock},  // the rest read again and written
      {1000, 2, 0},                // the first block, then the rest in one clone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clones);
    fake::FakePlatform fp;
    fp.put("in.dat", in);
    fp.clones = true;
    fake::ClonesRefused refused(fp, c.clones);
    Outcome o = run_copy();
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(fp.contents("out.dat"), in);
    EXPECT_EQ(refused.calls, c.calls);
    std::size_t written = 0;
    for (const auto& w : fp.write_calls) written += w.name == "out.dat" ? w.size : 0;
    EXPECT_EQ(written, c.written);
  }
}

// A split writes its pieces one after another; a failure or an interrupt while it writes them,
// or writes their manifest, removes every piece it made, and one it cannot plan makes none.
TEST(Faults, ASplitMakesAllItsPiecesOrNone) {
  const std::string in = input_data();
  const std::size_t piece = 1000 * 4096;  // 2176 records: pieces of 1000, 1000 and 176
  const struct {
    const char* what;
    fake::Fault fault;
    int status;  // -1: ended by SIGINT
    std::string report;
  } cases[] = {
      {"no fault", fake::fault<fake::Wrapper>(), 0, ""},
      {"disk full in the second piece", write_fails(piece + 4096, Err::kDiskFull), 1,
       "Chunkit_: cannot write p002: write failed: no space left (disk full, quota or file size "
       "limit) (F6422)\n"},
      {"interrupt in the second piece", write_fails(piece + 4096, Err::kInterrupted), -1, ""},
      {"the second name taken meanwhile", open_fails("p002", Err::kExists), 1,
       "Chunkit_: cannot open p002: file already exists (F6415)\n"},
      {"the last piece's close fails", close_fails("p003", Err::kIo), 1,
       "Chunkit_: cannot close p003: write failed (F6421)\n"},
      {"the manifest cannot be written", console_fails(0, Err::kIo), 1,
       "Chunkit_: cannot write standard output: write failed (F6421)\n"},
      {"a read of the plan fails", read_fails(1, Err::kIo), 1,
       "Chunkit_: cannot read in.dat: read failed (F6500)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake::FakePlatform fp;
    fp.put("in.dat", in);
    const auto fault = c.fault(fp);
    fake::start({"--split", "1000", "in.dat", "p%n"});
    const rt::Ending e = rt::end_run(chunkit::chunkit_main(), rt::Form::kLines);
    EXPECT_EQ(e.signal != 0 ? -1 : e.status, c.status);
    EXPECT_EQ(fp.err, c.report);
    std::set<std::string> names;
    for (const auto& f : fp.files) names.insert(f.first);
    if (c.status != 0) {
      EXPECT_EQ(names, std::set<std::string>{"in.dat"});
      continue;
    }
    EXPECT_EQ(fp.out, "p001\t1000\t4096000\np002\t1000\t4096000\np003\t176\t720896\n");
    EXPECT_TRUE(fp.contents("p001") + fp.contents("p002") + fp.contents("p003") == in);
    EXPECT_EQ(fp.open_handles(), 0);
  }

  // More than 10,000 pieces: a usage error, with nothing made.
  fake::FakePlatform fp;
  fp.put("in.dat", std::string(10001 * 4096, '\x01'));
  fake::start({"--split", "1", "in.dat", "p%n"});
  EXPECT_EQ(rt::end_run(chunkit::chunkit_main(), rt::Form::kLines).status, 2);
  EXPECT_EQ(fp.err,
            "Chunkit_: --split: the records make more than 10000 pieces\nTry 'Chunkit_ --help'.\n");
  EXPECT_EQ(fp.files.size(), 1u);
}

}  // namespace
