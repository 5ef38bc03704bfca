#include "chunkit_/records.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
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

}  // namespace
