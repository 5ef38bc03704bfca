#include "chunkit_/summary.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "chunkit_/mode.h"
#include "chunkit_/state.h"
#include "chunkit_/when.h"
#include "runtime/console.h"
#include "runtime/errors.h"

namespace chunkit {
namespace {

enum class Pass { kCount, kRefine, kGaps, kBacks };

// A count of records with their first and last.
struct Tally {
  std::int64_t count = 0;
  std::int32_t first = 0, last = 0;
  void add(std::int32_t rec) {
    if (count++ == 0) first = rec;
    last = rec;
  }
};

constexpr int kLowBits = 20;
constexpr std::int64_t kLow = std::int64_t{1} << kLowBits;  // steps counted one by one below
constexpr int kBuckets = 4096;  // above, by 2^20-second bucket: every step of 1969 to 2068

struct State {
  Pass pass = Pass::kCount;
  Tally records, timed, unequal, bad_preface, bad_date, no_time;
  std::int64_t bytes = 0;
  std::array<Tally, Selection::kTypes> types;
  std::int64_t earliest = 0, latest = 0;
  std::int32_t data_end_rec = 0, data_end = 0;
  // The previous summarised record with its own time.
  bool have_own = false;
  std::int64_t own = 0;
  std::int32_t own_rec = 0;
  // Positive steps: the fixed histogram and its buckets.
  std::int64_t steps = 0, backs = 0;
  std::array<std::int64_t, kBuckets> bucket{}, bucket_min{}, bucket_max{};
  std::int32_t refine = -1;      // the bucket the refining pass counts exactly
  std::int64_t threshold = 0;    // a gap is a longer step; 0: no gap lines
  std::int64_t longest = 0;      // the longest positive step
  std::int64_t short_steps = 0;  // positive steps below 2^20 s
  std::size_t over_n = 0;        // steps of 2^20 s or more in g_over
  bool over_full = false;        // more of them than g_over holds
};
State g;
// A step between two summarised records with their own time.
struct Step {
  std::int64_t length;
  std::int32_t from_rec, to_rec;
  std::int64_t from, to;
};
void put_step(std::string_view item, const Step& s);

// The longest positive steps (a heap, shortest on top) and the first steps back, as the first
// pass meets them: the gap and back lines come from them when they hold all there are.
constexpr std::size_t kKept = 65536;
Step* g_longest = nullptr;
Step* g_back = nullptr;
std::size_t g_longest_n = 0, g_back_n = 0;
std::int64_t g_not_kept = 0;  // the longest positive step not in g_longest

bool shorter(const Step& a, const Step& b) {
  return a.length > b.length;  // for a heap whose top is the shortest
}

// The steps below 2^20 s by length; and the steps of 2^20 s or more one by one, or, when there
// are more of them than it holds, those of bucket g.refine by their low 20 bits: 4 MiB each,
// taken once, at the summary's start.
std::uint32_t* g_low = nullptr;
std::uint32_t* g_over = nullptr;

// A number in decimal, by printf, so the listing's formatting of numbers stays inline in its
// loop.
std::string num(std::int64_t v) {
  char text[24];
  const int n = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
  return {text, static_cast<std::size_t>(n)};
}

void put(const std::string& line) {
  (void)rt::console_put_line(line);
}

std::string time_text(std::int64_t t) {
  char text[17];
  return {text, format_time(t, text)};
}

std::string tally_line(std::string_view item, const Tally& t, std::string_view detail = {}) {
  return std::string(item) + "\t" + num(t.count) + "\t" + num(t.first) + "\t" + num(t.last) + "\t" +
         std::string(detail) + "\n";
}

// The k-th smallest positive step (from 1), or -1 when it lies inside a bucket not yet counted
// exactly (g.refine is then that bucket).
std::int64_t kth(std::int64_t k) {
  std::int64_t below = 0;
  if (k > g.short_steps) {
    below = g.short_steps;
  } else {
    for (std::int64_t v = 1; v < kLow; ++v) {
      below += g_low[v];
      if (below >= k) return v;
    }
  }
  if (!g.over_full) {  // g_over: every step of 2^20 s or more
    const auto r = static_cast<std::size_t>(k - below - 1);
    std::nth_element(g_over, g_over + r, g_over + g.over_n);
    return g_over[r];
  }
  for (int b = 1; b < kBuckets; ++b) {
    const std::int64_t in = g.bucket[static_cast<std::size_t>(b)];
    if (below + in < k) {
      below += in;
      continue;
    }
    if (k == below + 1) return g.bucket_min[static_cast<std::size_t>(b)];
    if (k == below + in) return g.bucket_max[static_cast<std::size_t>(b)];
    if (g.refine == b) {  // g_over: the bucket's steps by their low 20 bits
      for (std::int64_t v = 0; v < kLow; ++v) {
        below += g_over[v];
        if (below >= k) return (std::int64_t{b} << kLowBits) + v;
      }
    }
    g.refine = b;
    return -1;
  }
  return -1;
}

// The gap threshold: --gap, else twice the median positive step (the sum of the two middle ones
// of an even number); false when a refining pass must come first.
bool find_threshold() {
  if (selection.gap != 0) {
    g.threshold = selection.gap;
    return true;
  }
  if (g.steps < 2) return true;  // no gap lines
  if (g.steps % 2 == 1) {
    const std::int64_t m = kth((g.steps + 1) / 2);
    if (m < 0) return false;
    g.threshold = 2 * m;
    return true;
  }
  const std::int64_t a = kth(g.steps / 2);
  if (a < 0) return false;
  const std::int64_t b = kth(g.steps / 2 + 1);
  if (b < 0) return false;
  g.threshold = a + b;
  return true;
}

void head_lines() {
  put("item\tcount\tfirst\tlast\tdetail\n");
  put(tally_line("records", g.records, num(g.bytes) + " bytes"));
  for (int t = 0; t < Selection::kTypes; ++t) {
    if (g.types[static_cast<std::size_t>(t)].count > 0)
      put(tally_line("type " + num(t + Selection::kLowestType),
                     g.types[static_cast<std::size_t>(t)]));
  }
  if (g.timed.count > 0)
    put(tally_line("time", g.timed, time_text(g.earliest) + " to " + time_text(g.latest)));
}

void tail_lines() {
  if (g.unequal.count > 0) put(tally_line("unequal status", g.unequal));
  if (g.bad_preface.count > 0) put(tally_line("bad preface", g.bad_preface));
  if (g.bad_date.count > 0) put(tally_line("bad date", g.bad_date));
  if (g.no_time.count > 0) put(tally_line("no time", g.no_time));
  if (g.data_end_rec > 0) {
    put("data ends\t1\t" + num(g.data_end_rec) + "\t" + num(g.data_end_rec) + "\tbyte " +
        num(g.data_end) + "\n");
  }
}

void keep(const Step& s) {
  if (s.length < 0) {
    if (g_back_n < summary_kept) g_back[g_back_n++] = s;
    return;
  }
  if (g_longest_n < summary_kept) {
    g_longest[g_longest_n++] = s;
    std::push_heap(g_longest, g_longest + g_longest_n, shorter);
    return;
  }
  if (g_longest_n == 0 || s.length <= g_longest[0].length) {
    g_not_kept = std::max(g_not_kept, s.length);
    return;
  }
  g_not_kept = std::max(g_not_kept, g_longest[0].length);
  std::pop_heap(g_longest, g_longest + g_longest_n, shorter);
  g_longest[g_longest_n - 1] = s;
  std::push_heap(g_longest, g_longest + g_longest_n, shorter);
}

// A gap or back line, built in place: there may be one for every other record.
void put_step(std::string_view item, const Step& s) {
  char line[96];
  std::size_t n = 0;
  const auto text = [&](std::string_view t) {
    t.copy(line + n, t.size());
    n += t.size();
  };
  const auto number = [&](std::int64_t v) {
    char digits[20];
    int k = 0;
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (k > 0) line[n++] = digits[--k];
  };
  text(item);
  text("\t");
  number(s.length < 0 ? -s.length : s.length);
  text("\t");
  number(s.from_rec);
  text("\t");
  number(s.to_rec);
  text("\t");
  n += format_time(s.from, line + n);
  text(" to ");
  n += format_time(s.to, line + n);
  text("\n");
  (void)rt::console_put_line({line, n});
}

// A step between two summarised records with their own time.
void step(std::int64_t from, std::int32_t from_rec, std::int64_t to, std::int32_t to_rec) {
  const std::int64_t d = to - from;
  switch (g.pass) {
    case Pass::kCount:
      if (d != 0) keep({d, from_rec, to_rec, from, to});
      if (d < 0) ++g.backs;
      if (d <= 0) return;
      ++g.steps;
      g.longest = std::max(g.longest, d);
      if (d < kLow) {
        ++g_low[d];
        ++g.short_steps;
      } else {
        if (g.over_n < summary_long_kept) {
          g_over[g.over_n++] = static_cast<std::uint32_t>(d);
        } else {
          g.over_full = true;
        }
        const auto b =
            static_cast<std::size_t>(std::min<std::int64_t>(d >> kLowBits, kBuckets - 1));
        g.bucket_min[b] = g.bucket[b] == 0 ? d : std::min(g.bucket_min[b], d);
        g.bucket_max[b] = std::max(g.bucket_max[b], d);
        ++g.bucket[b];
      }
      return;
    case Pass::kRefine:
      if (d >= kLow && (d >> kLowBits) == g.refine) ++g_over[d & (kLow - 1)];
      return;
    case Pass::kGaps:
      if (d > g.threshold) put_step("gap", {d, from_rec, to_rec, from, to});
      return;
    case Pass::kBacks:
      if (d < 0) put_step("back", {d, from_rec, to_rec, from, to});
      return;
  }
}

}  // namespace

std::size_t summary_kept = kKept;
std::size_t summary_long_kept = kLow;

rt::Status summary_begin() {
  g = State{};
  for (std::uint32_t** histogram : {&g_low, &g_over}) {
    if (*histogram == nullptr)
      *histogram = static_cast<std::uint32_t*>(std::calloc(kLow, sizeof(std::uint32_t)));
    if (*histogram == nullptr)
      return rt::Status::error(rt::kErrNoMemory, rt::StmtKind::kGeneral, {});
  }
  for (Step** kept : {&g_longest, &g_back}) {
    if (*kept == nullptr) *kept = static_cast<Step*>(std::malloc(kKept * sizeof(Step)));
    if (*kept == nullptr) return rt::Status::error(rt::kErrNoMemory, rt::StmtKind::kGeneral, {});
  }
  // Fresh from calloc the histogram is zero already; a run before in this process left counts.
  static bool used = false;
  if (used) std::fill_n(g_low, kLow, 0u);
  used = true;
  g_longest_n = g_back_n = 0;
  g_not_kept = 0;
  return {};
}

rt::Status summary_record(std::int64_t bytes, std::int32_t data_end) {
  const bool own = dated && !bad_date();
  if (own) {
    if (g.have_own) step(g.own, g.own_rec, when, irec);
    g.have_own = true;
    g.own = when;
    g.own_rec = irec;
  }
  if (g.pass != Pass::kCount) return {};
  g.records.add(irec);
  g.bytes += bytes;
  const std::int32_t t = rectype - Selection::kLowestType;
  if (t >= 0 && t < Selection::kTypes) g.types[static_cast<std::size_t>(t)].add(irec);
  if (when != kNoTime) {
    g.earliest = g.timed.count == 0 ? when : std::min(g.earliest, when);
    g.latest = g.timed.count == 0 ? when : std::max(g.latest, when);
    g.timed.add(irec);
  } else {
    g.no_time.add(irec);
  }
  if (dated && ivstat != ivstatt) g.unequal.add(irec);
  if (badpref) g.bad_preface.add(irec);
  if (bad_date()) g.bad_date.add(irec);
  if (data_end > 0) {
    g.data_end_rec = irec;
    g.data_end = data_end;
  }
  return {};
}

rt::Status summary_pass_done(bool* again) {
  *again = false;
  g.have_own = false;
  if (g.pass == Pass::kCount || g.pass == Pass::kRefine) {
    if (!find_threshold()) {
      // The median lies inside a bucket: count its steps exactly in another pass.
      std::fill_n(g_over, kLow, 0u);
      g.pass = Pass::kRefine;
      *again = true;
      return {};
    }
    head_lines();
    if (g.threshold > 0 && g.longest > g.threshold) {
      // The gaps come from the longest steps kept when none longer than the threshold was left
      // out, else from a pass of their own.
      if (g_not_kept > g.threshold) {
        g.pass = Pass::kGaps;
        *again = true;
        return {};
      }
      std::sort(g_longest, g_longest + g_longest_n,
                [](const Step& a, const Step& b) { return a.to_rec < b.to_rec; });
      for (std::size_t i = 0; i < g_longest_n; ++i)
        if (g_longest[i].length > g.threshold) put_step("gap", g_longest[i]);
    }
  }
  if (g.pass < Pass::kBacks && g.backs > 0) {
    if (g.backs > static_cast<std::int64_t>(summary_kept)) {
      g.pass = Pass::kBacks;
      *again = true;
      return {};
    }
    for (std::size_t i = 0; i < g_back_n; ++i) put_step("back", g_back[i]);
  }
  tail_lines();
  return {};
}

}  // namespace chunkit
