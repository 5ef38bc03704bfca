// Arbitrary skip-range arguments through both readers of the stretches `skip_stretches` cuts:
// the copy's `parseskip` (the argument's bytes in the 80-character argument buffer, its full
// length, which may exceed 80, as the fetch status) and the checks' `skip_range`. A field that
// is no number ends the copy's run with a report, never for an argument the checks accept;
// what they accept the copy reads to the same numbers, and a plain "s#" or "s#-##" gives its
// numbers to both.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "chunkit_/options.h"
#include "chunkit_/params.h"
#include "chunkit_/state.h"
#include "ends.h"
#include "fake_platform.h"
#include "runtime/run.h"

namespace {

// The value of a run of at most 9 decimal digits, or -1 for anything else.
long plain_number(const std::string& s) {
  if (s.empty() || s.size() > 9) return -1;
  long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte adds to the length the fetch reports, as for a word cut to 80 characters.
  std::string arg(reinterpret_cast<const char*>(data) + 1, size - 1);
  fake::FakePlatform fp;
  fake::start();
  chunkit::reset_state();
  std::memset(chunkit::argbuf, ' ', chunkit::kArgLen);
  std::memcpy(chunkit::argbuf, arg.data(), std::min<std::size_t>(arg.size(), chunkit::kArgLen));
  std::size_t length = arg.size() + (arg.size() >= chunkit::kArgLen ? data[0] : 0);
  chunkit::argstatus = static_cast<std::int16_t>(std::min<std::size_t>(length, 32767));
  // The checks refuse longer arguments before they split one.
  std::optional<chunkit::SkipRange> checked;
  if (arg.size() <= chunkit::kArgLen) checked = chunkit::skip_range(arg);
  if (const rt::Status s = chunkit::parseskip(); !s.ok()) {
    // Only a report, and not of a checked range.
    if (fake::status_of_end(s) != 1 || checked) __builtin_trap();
    return 0;
  }
  if (checked && (chunkit::skipstart != checked->first || chunkit::skipend != checked->last)) {
    __builtin_trap();
  }
  // "s#" and "s#-##" with plain numbers read as those numbers.
  if (arg.size() >= 2 && arg.size() <= chunkit::kArgLen && (arg[0] == 's' || arg[0] == 'S')) {
    std::string body = arg.substr(1);
    std::size_t dash = body.find('-');
    long first = plain_number(body.substr(0, dash));
    long second = dash == std::string::npos ? first : plain_number(body.substr(dash + 1));
    if (first >= 0 && second >= 0 &&
        (!checked || chunkit::skipstart != first || chunkit::skipend != second)) {
      __builtin_trap();
    }
  }
  return 0;
}
