#include "chunkit_/preface.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "chunkit_/state.h"
#include "fake_platform.h"
#include "runtime/units.h"

namespace {

unsigned char record[chunkit::kRecordSize];

// Loads a record: every byte `fill`, then the listed "position=hex value" bytes.
void load(int fill, const std::string& bytes) {
  for (unsigned char& b : record) b = static_cast<unsigned char>(fill);
  std::istringstream in(bytes);
  std::string item;
  while (in >> item) {
    auto eq = item.find('=');
    record[std::stoi(item.substr(0, eq)) - 1] =
        static_cast<unsigned char>(std::stoi(item.substr(eq + 1), nullptr, 16));
  }
}

// The digits as the progress line groups them, one hexadecimal character each: "99123 235959".
std::string shown_digits() {
  std::string s;
  for (int k = 0; k < 11; ++k) {
    if (k == 5) s += ' ';
    s += "0123456789ABCDEF?"[chunkit::digit[k] >= 0 && chunkit::digit[k] < 16 ? chunkit::digit[k]
                                                                              : 16];
  }
  return s;
}

// A marked, dated type 2 preface: year 99, day 123, 23:59:59.
const std::string kDated = "1=02 2=3C 3=FF 4=99 5=01 6=23 9=23 10=59 11=59 ";
const std::string kDated15 = "1=AF 4=CC 5=CC 10=FF 11=99 12=01 13=23 16=23 17=59 18=59 ";
const std::string kNone = "00000 000000";

TEST(Preface, DecodesEveryRecordType) {
  struct Case {
    int fill;
    std::string bytes;
    std::int32_t type;
    std::string digits;
    std::string report;  // what reaches unit 20
  };
  const std::vector<Case> cases = {
      {0x37, "1=71", 1, kNone, ""},  // no decoded preface; high bits of byte 1 ignored
      {0x11, "1=0E", 14, kNone, ""},
      {0, kDated + "12=01 13=02 14=03 15=01 16=02 17=03", 2, "99123 235959", ""},
      {0, kDated + "1=03 5=F1", 3, "99123 235959", ""},   // high bits of byte 5 unused
      {0, kDated + "4=9A 11=FF", 2, "9A123 2359FF", ""},  // half-bytes above 9 stay
      {0, "1=02 2=3D 3=FF 4=99", -98, kNone, ""},
      {5, "1=08", -92, kNone, ""},
      {5, "1=09", -91, kNone, ""},
      {5, "1=0B", -89, kNone, ""},
      {0, "1=09 2=3C 4=31 5=AB 14=1F 15=07", 9, "1B000 00000F", ""},
      {0xFE, "1=0C 2=00 5=01 8=01 46=03 48=01", 12, "90000 00000A", ""},
      {0xFF, "1=0A", 10, "FFFFF FFFFFF", ""},
      {0xFF, "", -85, kNone, ""},
      {0, "1=0F 4=CC 5=CD", -85, kNone, ""},
      {0, "1=0F 4=CC 5=CC 9=2D 10=04 19=F6 20=07", 15, "D4000 000006", ""},
      {0, kDated15 + "21=03 24=03", 15, "99123 235959", ""},
      {0, kDated + "12=01 13=02 14=03 15=01 16=02 17=04", 2, "99123 235959",
       " ivstat,ivstatt: 123 124\r\n"},
      {0, kDated + "12=5C 13=03 14=04", 2, "99123 235959", " ivstat,ivstatt:1234   0\r\n"},
      {0, kDated15 + "19=01", 15, "99123 235959", " ivstat,ivstatt: 100   0\r\n"},
      {0, "1=02 2=3C 3=00", -98, kNone, "    5:  23C 0\r\n"},
      {0x44, "1=13 2=3C 3=FE", -97, kNone, "    5: 133CFE\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    fake::FakePlatform fp;
    fake::start({"in.dat", "out.dat"});
    ASSERT_TRUE(rt::open_unit(chunkit::kReportUnit, "ERR", {}).ok());
    chunkit::reset_state();
    chunkit::irec = 5;
    load(c.fill, c.bytes);
    chunkit::digit[4] = 7;  // digits of an earlier record must not survive

    ASSERT_TRUE(chunkit::decode_preface(record).ok());

    EXPECT_EQ(chunkit::rectype, c.type);
    EXPECT_EQ(shown_digits(), c.digits);
    EXPECT_EQ(fp.err, c.report);
  }
}

// A record number too wide for the report's five columns is shown whole.
TEST(Preface, RecordNumberInReportIsNeverCut) {
  const struct {
    std::int32_t irec;
    const char* report;
  } cases[] = {{7, "    7:  23C 1\r\n"},
               {99999, "99999:  23C 1\r\n"},
               {123456, "123456:  23C 1\r\n"},
               {-2147483647 - 1, "-2147483648:  23C 1\r\n"}};
  for (const auto& c : cases) {
    fake::FakePlatform fp;
    fake::start();
    ASSERT_TRUE(rt::open_unit(chunkit::kReportUnit, "ERR", {}).ok());
    chunkit::reset_state();
    chunkit::irec = c.irec;
    load(0, "1=02 2=3C 3=01");
    ASSERT_TRUE(chunkit::decode_preface(record).ok());
    EXPECT_EQ(fp.err, c.report);
  }
}

}  // namespace
