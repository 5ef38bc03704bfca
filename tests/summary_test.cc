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
std::string summary(const std::string& file, std::size_t kept) {
  fake::FakePlatform fp;
  fp.put("in.dat", file);
  chunkit::summary_kept = kept;
  fake::start({"--summary", "in.dat"});
  EXPECT_EQ(rt::end_run(chunkit::chunkit_main(), rt::Form::kLines).status, 0);
  chunkit::summary_kept = 65536;
  return fake::flushed(fp);
}

// The gap and back lines come from the steps kept when they hold them all, else from passes of
// their own: the lines are the same either way.
TEST(Summary, SameLinesWhateverIsKept) {
  std::string backs = e2e::type1_records(6);
  for (int r = 1; r <= 6; ++r) {
    std::fill_n(backs.begin() + (r - 1) * 4096 + 1, 47, '\0');
    e2e::set_bytes(backs, r,
                   r % 2 == 1 ? "1=02 2=3C 3=FF 4=00 6=01 9=10" : "1=02 2=3C 3=FF 4=00 6=01 9=09");
  }
  for (const std::string& file : {e2e::three_day_file(), backs}) {
    const std::string all = summary(file, 65536);
    EXPECT_NE(all.find("\nback\t"), std::string::npos) << all;
    for (std::size_t kept : {0, 1}) EXPECT_EQ(summary(file, kept), all) << kept;
  }
}

}  // namespace
