#include "chunkit_/when.h"

#include <algorithm>

#include "chunkit_/preface.h"
#include "chunkit_/records.h"
#include "chunkit_/state.h"

namespace chunkit {

std::int64_t when = kNoTime;

namespace {

constexpr std::int64_t kDay = 86400;
// Records read at a time when reading back: one block of the input.
constexpr std::int32_t kBack = 256;

bool leap(std::int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Days from 1970-01-01 to the first of January of year y (the civil calendar).
std::int64_t days_before_year(std::int64_t y) {
  const std::int64_t p = y - 1;  // years whose leap days have passed
  return 365 * (y - 1970) + (p / 4 - p / 100 + p / 400) - (1969 / 4 - 1969 / 100 + 1969 / 400);
}

std::int64_t seconds(std::int64_t year, std::int64_t yday, std::int64_t h, std::int64_t m,
                     std::int64_t s) {
  return (days_before_year(year) + yday - 1) * kDay + h * 3600 + m * 60 + s;
}

std::int64_t month_days(std::int64_t year, std::int64_t month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return kDays[month - 1] + (month == 2 && leap(year) ? 1 : 0);
}

bool real(std::int64_t year, std::int64_t yday, std::int64_t h, std::int64_t m, std::int64_t s) {
  return yday >= 1 && yday <= (leap(year) ? 366 : 365) && h <= 23 && m <= 59 && s <= 59;
}

// The digits from..to of the record just decoded as one number, or -1 when one is above 9.
std::int64_t digits(int from, int to) {
  std::int64_t v = 0;
  for (int k = from; k <= to; ++k) {
    if (digit[k - 1] > 9) return -1;
    v = v * 10 + digit[k - 1];
  }
  return v;
}

constexpr std::size_t kTextLen = 17;
char g_text[kTextLen];
bool g_bad = false;

// Takes `t`, the own time of the record just decoded, as the time in hand; its text comes
// straight from the record's digits.
void take_own(std::int64_t t) {
  when = t;
  g_bad = t == kNoTime;
  if (g_bad) return;
  const bool before_2000 = digit[0] >= 6 && digit[0] * 10 + digit[1] >= 69;
  g_text[0] = before_2000 ? '1' : '2';
  g_text[1] = before_2000 ? '9' : '0';
  constexpr int kAt[] = {2, 3, 5, 6, 7, 9, 10, 12, 13, 15, 16};
  for (int k = 0; k < 11; ++k) g_text[kAt[k]] = static_cast<char>('0' + digit[k]);
  g_text[4] = '-';
  g_text[8] = 'T';
  g_text[11] = g_text[14] = ':';
}

// Takes the last dated record among those the input gives from record lo up to hi (exclusive)
// as the time in hand; false when none of them is dated.
bool last_dated(std::int32_t lo, std::int32_t hi, rt::Status* status) {
  bool any = false;
  for (std::int32_t r = lo; r < hi; ++r) {
    const Record& rec = input.next();
    if (!rec.status.ok()) {
      if (!rec.status.at_end()) *status = rec.status;
      break;
    }
    (void)decode_preface(rec.data);  // the modes report nothing from the decoder
    if (dated) {
      any = true;
      take_own(own_time());
    }
  }
  return any;
}

}  // namespace

std::string_view when_text() {
  return when == kNoTime ? std::string_view{} : std::string_view{g_text, kTextLen};
}

std::int64_t own_time() {
  const std::int64_t yy = digits(1, 2), yday = digits(3, 5), h = digits(6, 7), m = digits(8, 9),
                     s = digits(10, 11);
  if (yy < 0 || yday < 0 || h < 0 || m < 0 || s < 0) return kNoTime;
  const std::int64_t year = yy >= 69 ? 1900 + yy : 2000 + yy;
  return real(year, yday, h, m, s) ? seconds(year, yday, h, m, s) : kNoTime;
}

bool bad_date() {
  return g_bad;
}

void note_time() {
  g_bad = false;
  if (dated) take_own(own_time());
}

rt::Status time_before(std::int32_t n) {
  when = kNoTime;
  g_bad = false;
  rt::Status status;
  bool moved = false;
  for (std::int32_t hi = n; hi > 1 && status.ok();) {
    const std::int32_t lo = std::max(1, hi - kBack);
    RETURN_IF_FAILED(input.seek(lo, &moved));
    if (!moved) break;
    if (last_dated(lo, hi, &status)) break;
    hi = lo;
  }
  RETURN_IF_FAILED(status);
  return input.seek(n, &moved);
}

std::int64_t day_of(std::int64_t t) {
  return t >= 0 ? t / kDay : (t - kDay + 1) / kDay;
}

Date date_of(std::int64_t t) {
  const std::int64_t days = day_of(t);
  // The year: an estimate from the days, then corrected.
  Date d;
  d.year = 1970 + days / 366;
  while (days_before_year(d.year + 1) <= days) ++d.year;
  while (days_before_year(d.year) > days) --d.year;
  d.yday = days - days_before_year(d.year) + 1;
  d.mday = d.yday;
  while (d.mday > month_days(d.year, d.month)) d.mday -= month_days(d.year, d.month++);
  return d;
}

std::size_t format_time(std::int64_t t, char* out) {
  const Date d = date_of(t);
  const std::int64_t rest = t - day_of(t) * kDay;
  const std::int64_t fields[] = {d.year, d.yday, rest / 3600, rest / 60 % 60, rest % 60};
  constexpr int kWidth[] = {4, 3, 2, 2, 2};
  constexpr char kAfter[] = {'-', 'T', ':', ':', '\0'};
  std::size_t n = 0;
  for (int f = 0; f < 5; ++f) {
    std::int64_t v = fields[f];
    for (int i = kWidth[f] - 1; i >= 0; --i, v /= 10)
      out[n + static_cast<std::size_t>(i)] = static_cast<char>('0' + v % 10);
    n += static_cast<std::size_t>(kWidth[f]);
    if (kAfter[f] != '\0') out[n++] = kAfter[f];
  }
  return n;
}

std::optional<std::int64_t> parse_time(std::string_view text) {
  std::size_t at = 0;
  // A run of exactly n digits at the current place, then the place after it.
  const auto number = [&](std::size_t n) -> std::int64_t {
    if (text.size() - at < n) return -1;
    std::int64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const char c = text[at + i];
      if (c < '0' || c > '9') return -1;
      v = v * 10 + (c - '0');
    }
    at += n;
    return v;
  };
  const auto take = [&](char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  };
  const std::size_t dash = text.find('-');
  std::int64_t year = 0, yday = 0;
  if (dash == 2) {
    const std::int64_t yy = number(2);
    if (yy < 0 || !take('-') || (yday = number(3)) < 0) return std::nullopt;
    year = yy >= 69 ? 1900 + yy : 2000 + yy;
  } else if (dash == 4) {
    year = number(4);
    if (year < 0 || !take('-')) return std::nullopt;
    const std::size_t next = text.find('-', at);
    if (next == at + 2) {
      const std::int64_t month = number(2);
      std::int64_t day = -1;
      if (month < 1 || month > 12 || !take('-') || (day = number(2)) < 1) return std::nullopt;
      if (day > month_days(year, month)) return std::nullopt;
      yday = day;
      for (std::int64_t mo = 1; mo < month; ++mo) yday += month_days(year, mo);
    } else if ((yday = number(3)) < 0) {
      return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  std::int64_t h = 0, m = 0, s = 0;
  if (at < text.size()) {
    if (!take('T') && !take(' ')) return std::nullopt;
    if ((h = number(2)) < 0 || !take(':') || (m = number(2)) < 0) return std::nullopt;
    if (at < text.size() && (!take(':') || (s = number(2)) < 0)) return std::nullopt;
    if (at != text.size()) return std::nullopt;
  }
  if (!real(year, yday, h, m, s)) return std::nullopt;
  return seconds(year, yday, h, m, s);
}

}  // namespace chunkit
