#include "chunkit_/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chunkit_/chunkit_.h"
#include "fake_platform.h"
#include "run_binary.h"
#include "runtime/run.h"

namespace {

// The summary of `file` with the given number of steps kept in memory.
std::string summary(const std::string& file, std::size_t kept, std::size_t long_kept = 1 << 20) {
  fake::FakePlatform fp;
  fp.put("in.dat", file);
  chunkit::summary_kept = kept;
  chunkit::summary_long_kept = long_kept;
  fake::start({"--summary", "in.dat"});
  EXPECT_EQ(rt::end_run(chunkit::chunkit_main(), rt::Form::kLines).status, 0);
  chunkit::summary_kept = 65536;
  chunkit::summary_long_kept = 1 << 20;
  return fake::flushed(fp);
}

// Dated records (type 2) at these seconds from 2000-001T00:00:00.
std::string dated_at(const std::vector<std::int64_t>& at) {
  std::string file = e2e::type1_records(static_cast<int>(at.size()));
  for (std::size_t r = 0; r < at.size(); ++r) {
    const std::int64_t t = at[r];
    const std::int64_t yday = 1 + t / 86400, h = t / 3600 % 24, m = t / 60 % 60, s = t % 60;
    char bytes[96];
    std::snprintf(bytes, sizeof bytes,
                  "1=02 2=3C 3=FF 4=00 5=%02llX 6=%02lld 9=%02lld 10=%02lld 11=%02lld",
                  static_cast<long long>(yday / 100), static_cast<long long>(yday % 100),
                  static_cast<long long>(h), static_cast<long long>(m), static_cast<long long>(s));
    std::fill_n(file.begin() + static_cast<long>(r) * 4096 + 1, 47, '\0');
    e2e::set_bytes(file, static_cast<int>(r) + 1, bytes);
  }
  return file;
}

// The gap and back lines come from the steps kept when they hold them all, else from passes of
// their own: the lines are the same either way.
TEST(Summary, SameLinesWhateverIsKept) {
  const std::string backs = dated_at({36000, 32400, 36000, 32400, 36000, 32400});
  for (const std::string& file : {e2e::three_day_file(), backs}) {
    const std::string all = summary(file, 65536);
    EXPECT_NE(all.find("\nback\t"), std::string::npos) << all;
    for (std::size_t kept : {0, 1}) EXPECT_EQ(summary(file, kept), all) << kept;
  }
}

// Steps of weeks: the median comes from the long steps kept one by one, or, when there are more
// than those, from a pass that counts the steps of its bucket exactly. The steps are 2,000,000,
// 2,000,001, 2,000,002 and 5,000,000 seconds: the median is 2,000,001.5, so only the last is a
// gap.
TEST(Summary, MedianOfStepsOfWeeks) {
  const std::string file = dated_at({0, 2000000, 4000001, 6000003, 11000003});
  const std::string all = summary(file, 65536);
  EXPECT_EQ(all.substr(all.find("\ngap")),
            "\ngap\t5000000\t4\t5\t2000-070T10:40:03 to 2000-128T07:33:23\n");
  for (std::size_t long_kept : {0, 1, 3})
    EXPECT_EQ(summary(file, 65536, long_kept), all) << long_kept;
}

}  // namespace
