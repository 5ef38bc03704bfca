// The time of a record, as the modes for programs select and list by it: a dated preface whose
// eleven digits make a real date and time has its own time; every other record takes the time of
// the nearest record before it in the file that has one, and a dated preface whose date or time
// is not real has none, nor do the records after it up to the next one that has its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/status.h"

namespace chunkit {

// Seconds from 1970-01-01T00:00:00, or kNoTime.
inline constexpr std::int64_t kNoTime = INT64_MIN;

// The time of the record in hand, once note_time has seen it, and that time as the listing
// writes it (YYYY-DDDTHH:MM:SS; empty for kNoTime).
extern std::int64_t when;
std::string_view when_text();

// The time of the record just decoded, when it is dated: its own, or kNoTime when its date or
// time is not real (bad_date). The two-digit year is 1969 to 1999 for 69 to 99, 2000 to 2068 for
// 00 to 68.
std::int64_t own_time();
// Whether the record note_time saw last is dated with a date or time that is not real.
bool bad_date();

// Takes the record just decoded as the record in hand: `when` becomes its own time, stays the
// time carried from before it, or becomes kNoTime after a date that is not real.
void note_time();

// Sets `when` to the time the records before record n carry into it, reading back from n - 1 as
// far as needed (an input that can seek), then puts the input at record n again.
rt::Status time_before(std::int32_t n);

// The day of a time, counted from 1970-01-01 (day 0), and its date.
std::int64_t day_of(std::int64_t t);
struct Date {
  std::int64_t year = 0;
  std::int64_t yday = 0;  // 1 to 366
  std::int64_t month = 1, mday = 0;
};
Date date_of(std::int64_t t);

// A time as the listing writes it, YYYY-DDDTHH:MM:SS (17 bytes at out).
std::size_t format_time(std::int64_t t, char* out);

// A time given to --from or --to: YY-DDD, YYYY-DDD or YYYY-MM-DD, then optionally "T" or one
// blank and HH:MM or HH:MM:SS (missing parts 0). Nothing for any other text or for a date or a
// time that does not exist.
std::optional<std::int64_t> parse_time(std::string_view text);

}  // namespace chunkit
