// Random records through the preface decoder, with unit 20 on standard error as the tool
// connects it. The type is always 0..15 for a good preface or 100 less for a bad one, and each
// digit is a half-byte.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "chunkit_/preface.h"
#include "chunkit_/state.h"
#include "fake_platform.h"
#include "runtime/run.h"
#include "runtime/units.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fake::FakePlatform fp;
  fake::start();
  chunkit::reset_state();
  if (!rt::open_unit(chunkit::kReportUnit, "ERR", {}).ok()) __builtin_trap();
  // The record as the copy loop leaves it: the bytes read, 0xFF where the file gave none.
  unsigned char record[chunkit::kRecordSize];
  std::memset(record, 0xFF, sizeof record);
  std::memcpy(record, data, size < sizeof record ? size : sizeof record);
  chunkit::irec = 1 + static_cast<std::int32_t>(size);
  // The decoder's reports never fail here.
  if (!chunkit::decode_preface(record).ok()) __builtin_trap();
  const std::int32_t t = chunkit::rectype;
  if (!((t >= 0 && t <= 15) || (t >= -100 && t <= -85))) __builtin_trap();
  for (std::int32_t d : chunkit::digit) {
    if (d < 0 || d > 15) __builtin_trap();
  }
  return 0;
}
