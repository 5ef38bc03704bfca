#include "chunkit_/when.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Times given to --from and --to are read in the civil calendar (seconds from 1970 as the
// system's clock counts them), across the century and the leap days.
TEST(When, TimesGivenToTheOptions) {
  const struct {
    const char* given;
    std::int64_t seconds;
  } cases[] = {
      {"69-001", -31536000},
      {"99-365T23:59:59", 946684799},
      {"00-001", 946684800},
      {"2000-01-01", 946684800},
      {"2000-366 12:00", 978264000},
      {"2000-02-29T01:02:03", 951786123},
      {"2001-03-01", 983404800},
      {"2001-060", 983404800},
      {"68-366", 3124137600},
      {"1970-001", 0},
      {"2024-12-31T23:59", 1735689540},
  };
  for (const auto& c : cases) EXPECT_EQ(chunkit::parse_time(c.given), c.seconds) << c.given;
  for (const char* bad : {"1900-02-29", "2100-366", "01-366", "2000-13-01", "2000-04-31",
                          "2000-000", "2000-001T24:00", "2000-001T00:00:60", "2000-001t00:00"})
    EXPECT_FALSE(chunkit::parse_time(bad).has_value()) << bad;
}

}  // namespace
