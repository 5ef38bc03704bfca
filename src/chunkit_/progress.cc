#include "chunkit_/progress.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "chunkit_/state.h"
#include "runtime/console.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

constexpr std::int64_t kQuietMs = 1000;  // a copy shorter than this shows nothing
constexpr std::int64_t kEveryMs = 500;

std::int64_t g_start = 0;  // when the copy began
std::int64_t g_next = 0;   // when the line is next drawn
std::int32_t g_first = 0;  // the section's first record
std::int64_t g_last = -1;  // its last record, -1 when the input's size is not known

void draw() {
  const std::int64_t now = rt::clock_ms();
  if (now < g_next) return;
  g_next = now + kEveryMs;
  const double seconds = static_cast<double>(now - g_start) / 1000;
  const double mib = static_cast<double>(copied_bytes) / (1 << 20);
  char line[128];
  int n = std::snprintf(line, sizeof line, "%lld records, %.1f MiB",
                        static_cast<long long>(copied_records), mib);
  const std::int64_t done = std::int64_t{irec} - g_first + 1;
  if (g_last >= irec && done > 0) {
    const auto left = static_cast<long long>(seconds * static_cast<double>(g_last - irec) /
                                             static_cast<double>(done));
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n),
                       ", record %d of %lld, %.0f MiB/s, %lld:%02lld left", irec,
                       static_cast<long long>(g_last), mib / seconds, left / 60, left % 60);
  } else {
    n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", %.0f MiB/s",
                       mib / seconds);
  }
  rt::console_status({line, static_cast<std::size_t>(std::min<int>(n, sizeof line - 1))});
}

}  // namespace

void progress_begin() {
  if (!rt::stderr_is_terminal()) return;
  g_start = rt::clock_ms();
  g_next = g_start + kQuietMs;
  g_first = irec;
  const std::int64_t size = rt::unit_file_size(kInUnit);
  g_last = size < 0 ? -1 : std::min<std::int64_t>(endrec, (size + kRecordSize - 1) / kRecordSize);
  rt::watch_blocks(draw);
}

void progress_end() {
  rt::watch_blocks(nullptr);
  rt::console_status_clear();
}

}  // namespace chunkit
