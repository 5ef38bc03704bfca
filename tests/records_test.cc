#include "chunkit_/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "chunkit_/chunkit_.h"
#include "fake_platform.h"
#include "runtime/run.h"
#include "runtime/units.h"

namespace {

using chunkit::kRecordSize;

// A platform whose files cannot seek, as a pipe cannot, and which counts the bytes it reads.
struct Counting : fake::FakePlatform {
  bool seeks = true;
  std::size_t bytes_read = 0;
  platform::Err seek(platform::Handle h, std::int64_t offset) override {
    return seeks ? FakePlatform::seek(h, offset) : platform::Err::kInvalid;
  }
  platform::IoResult read(platform::Handle h, void* buf, std::size_t n) override {
    platform::IoResult r = FakePlatform::read(h, buf, n);
    bytes_read += r.count;
    return r;
  }
};

// The reader goes to a record directly where the input can seek and reads its way there where
// it cannot; either way records keep their numbers and places in the file, and a short final
// record ends in 0xFF.
TEST(RecordReader, GoesToARecordAndReadsOn) {
  constexpr int kWhole = 3 * 256;  // three blocks of records
  std::string data(kWhole * kRecordSize + 100, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i / kRecordSize);
  for (bool seeks : {true, false}) {
    SCOPED_TRACE(seeks);
    Counting fp;
    fp.seeks = seeks;
    fp.put("in.dat", data);
    fake::start();
    rt::OpenSpec old;
    old.status = "OLD";
    old.form = "BINARY";
    ASSERT_TRUE(rt::open_unit(1, "in.dat", old).ok());
    chunkit::RecordReader reader(1);
    EXPECT_EQ(reader.next().number, 1);
    EXPECT_EQ(reader.go_to(700).value(), 0);
    EXPECT_EQ(reader.go_to(2).value(), 0);  // behind: the reader stays
    const chunkit::Record& r = reader.next();
    EXPECT_EQ(r.number, 700);
    EXPECT_TRUE(r.status.ok());
    EXPECT_EQ(r.at, std::int64_t{699} * kRecordSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data), kRecordSize),
              data.substr(699 * kRecordSize, kRecordSize));
    // A seek leaves out the blocks before the record.
    EXPECT_EQ(fp.bytes_read,
              seeks ? rt::kFileBlockSize + data.size() - r.at : 3 * rt::kFileBlockSize);
    EXPECT_EQ(reader.go_to(kWhole + 1).value(), 0);
    const chunkit::Record& last = reader.next();
    EXPECT_EQ(last.number, kWhole + 1);
    EXPECT_TRUE(last.status.at_end());
    EXPECT_EQ(last.length, 100u);
    EXPECT_EQ(last.data[99], kWhole % 256);
    EXPECT_EQ(last.data[100], 0xFF);
    // Past the end: a seek finds nothing there, a way there meets the end.
    EXPECT_EQ(reader.go_to(kWhole + 5).value(), seeks ? 0 : -1);
  }
}

// The modes for programs read only the blocks that hold the records they copy or list, however
// far into the file the section lies; an input that cannot seek is read up to it.
TEST(RecordReader, ModesGoStraightToTheSection) {
  constexpr std::size_t kRecords = 100000;
  const auto big = std::make_shared<fake::FakePlatform::File>();
  big->data.assign(kRecords * kRecordSize, '\0');
  // Record 99,900 is dated: 99-123 23:59:59. The listing's times come from it, read back.
  const char dated[] = "\x02\x3C\xFF\x99\x01\x23\x00\x00\x23\x59\x59";
  std::copy(dated, dated + 11, big->data.begin() + 99899 * kRecordSize);
  const struct {
    std::vector<std::string> args;
    std::string out;  // "": a listing of ten records
    bool seeks;
  } cases[] = {
      {{"--list", "big.dat", "99991", "0", "100000", "0"}, "", true},
      {{"--list", "big.dat", "s1-99990"}, "", true},
      {{"--batch", "big.dat", "b.dat", "99991", "0", "0", "0"}, "b.dat\t10\t40960\n", true},
      {{"--batch", "big.dat", "b.dat", "50000", "0", "99999", "0", "s50001-99990"},
       "b.dat\t10\t40960\n",
       true},
      {{"--list", "big.dat", "s1-99990"}, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + (c.seeks ? " seeks" : " cannot seek"));
    Counting fp;
    fp.seeks = c.seeks;
    fp.files["big.dat"] = big;
    fake::start(c.args);
    EXPECT_EQ(rt::end_run(chunkit::chunkit_main(), rt::Form::kLines).status, 0);
    const std::string out = fake::flushed(fp);
    if (c.out.empty()) {
      EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 11);
      EXPECT_TRUE(out.ends_with("\t1999-123T23:59:59\n")) << out;
    } else {
      EXPECT_EQ(out, c.out);
    }
    // At most the two blocks that hold the ten records (and for the listing's times the one
    // before them), or the whole way there.
    if (c.seeks) {
      EXPECT_LE(fp.bytes_read, (c.out.empty() ? 3 : 2) * rt::kFileBlockSize);
    } else {
      EXPECT_EQ(fp.bytes_read, big->data.size());
    }
  }
}

}  // namespace
