#include "chunkit_/preface.h"

#include <cstdint>

#include "chunkit_/state.h"
#include "runtime/layout.h"
#include "runtime/status.h"

namespace chunkit {
namespace {

// The record being decoded.
const unsigned char* g_rec = nullptr;

// Byte k of the record (1-based).
std::int16_t byte(int k) {
  return g_rec[k - 1];
}
int low(int k) {
  return byte(k) & 0x0F;
}
int high(int k) {
  return (static_cast<std::uint16_t>(byte(k)) >> 4) & 0x0F;
}

// Compares the two three-digit status values that start at bytes `first` and `second`; the copy
// reports a difference on the report unit (the modes for programs report it themselves). Half-bytes
// above 9 simply give larger values.
rt::Status check_status(int first, int second) {
  ivstat = 100 * low(first) + 10 * low(first + 1) + low(first + 2);
  ivstatt = 100 * low(second) + 10 * low(second + 1) + low(second + 2);
  if (ivstat == ivstatt || mode != Mode::kCopy) return {};
  rt::write_begin(kReportUnit, "(a,2i4)");
  rt::write_text(" ivstat,ivstatt:");
  rt::write_int4(ivstat);
  rt::write_int4(ivstatt);
  return rt::write_end();
}

// Digits 1 to 5 from the date bytes (year, day of the year) and 6 to 11 from the time bytes
// (hours, minutes, seconds), one half-byte each; only the low half of the middle date byte
// counts. A half-byte of 10 to 15 is kept as that value: the progress line shows it as an
// overflowed one-column field and the run goes on.
void decode_date_time(int date, int time) {
  dated = true;
  digit[0] = high(date);
  digit[1] = low(date);
  digit[2] = low(date + 1);
  digit[3] = high(date + 2);
  digit[4] = low(date + 2);
  for (int k = 0; k < 3; ++k) {
    digit[5 + 2 * k] = high(time + k);
    digit[6 + 2 * k] = low(time + k);
  }
}

rt::Status report_bad_preface() {
  badpref = true;
  if (mode != Mode::kCopy) return {};
  rt::write_begin(kReportUnit, "(i5,a,3z2)");
  rt::write_count(irec);
  rt::write_text(": ");
  rt::write_int2(byte(1));
  rt::write_int2(byte(2));
  rt::write_int2(byte(3));
  return rt::write_end();
}

constexpr int kMark = 60;  // byte 2 of the marked types
constexpr std::int16_t kDated = 0xFF;
constexpr std::int16_t kType15Mark = 0xCC;
constexpr int kUnmarked = 100;  // subtracted from the type of a preface without its marks

}  // namespace

rt::Status decode_preface(const unsigned char* rec) {
  g_rec = rec;
  for (std::int32_t& d : digit) d = 0;
  dated = false;
  ivstat = ivstatt = 0;
  badpref = false;
  rectype = low(1);

  // Types 2, 3, 8, 9 and 11 carry a mark in byte 2; without it the preface is not decoded.
  const bool marked = byte(2) == kMark;
  switch (rectype) {
    case 8:
    case 9:
    case 11:  // nibble preface
      if (!marked) break;
      for (int k = 1; k <= 11; ++k) digit[k - 1] = low(3 + k);
      return {};
    case 10:
    case 12:
    case 13:  // bit preface: bit 0 of four bytes per digit, lowest bit first
      for (int k = 1; k <= 11; ++k) {
        int d = 0;
        for (int b = 0; b < 4; ++b) d |= (byte(4 * k + 1 + b) & 1) << b;
        digit[k - 1] = d;
      }
      return {};
    case 15:
      if (byte(4) != kType15Mark || byte(5) != kType15Mark) break;
      if (byte(10) == kDated) {
        const rt::Status reported = check_status(19, 22);
        decode_date_time(11, 16);
        return reported;
      }
      for (int k = 1; k <= 11; ++k) digit[k - 1] = low(8 + k);
      return {};
    case 2:
    case 3:
      if (!marked) break;
      if (byte(3) == kDated) {
        const rt::Status reported = check_status(12, 15);
        decode_date_time(4, 9);
        return reported;
      }
      rectype -= kUnmarked;
      return report_bad_preface();
    default:  // no decoded preface
      return {};
  }
  rectype -= kUnmarked;  // a marked type without its mark
  return {};
}

}  // namespace chunkit
