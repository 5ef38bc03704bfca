// Arbitrary arguments after "--batch in out" through the checks of a command line. Whatever
// the checks accept, the copy's own intake reads without a report and to the same values:
// the positions by take_parameters, each skip range by parseskip.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chunkit_/options.h"
#include "chunkit_/params.h"
#include "chunkit_/state.h"
#include "fake_platform.h"
#include "runtime/input.h"
#include "runtime/run.h"

namespace {

constexpr std::size_t kMaxWords = 12;

std::int32_t or_default(std::int32_t v, std::int32_t fallback) {
  return v == 0 ? fallback : v;
}

void check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The words after the names, separated by NUL bytes.
  std::vector<std::string> words = {"Chunkit_", "--batch", "in", "out", ""};
  for (std::size_t i = 0; i < size && words.size() <= kMaxWords; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }
  if (size == 0) words.pop_back();
  const std::vector<std::string_view> args(words.begin() + 1, words.end());
  const chunkit::Invocation inv = chunkit::read_command_line(args);
  check((inv.action == chunkit::Action::kUsageError) == !inv.error.empty());
  if (inv.action != chunkit::Action::kRun) return 0;
  check(inv.mode == chunkit::Mode::kBatch && inv.taken == 1);

  fake::FakePlatform fp;
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  if (!rt::start_runtime(static_cast<int>(argv.size()), argv.data()).ok()) __builtin_trap();
  chunkit::reset_state();
  chunkit::mode = chunkit::Mode::kBatch;
  chunkit::nargs = static_cast<std::int32_t>(words.size()) - 1;
  chunkit::iarg = 3;
  const std::size_t first = 4;  // the first word after the names
  {
    // A failure would be a report: the checks let through what the copy cannot read.
    if (!chunkit::take_parameters().ok()) __builtin_trap();
    std::size_t next = first;
    if (const std::optional<chunkit::SkipRange> r =
            words.size() > first ? chunkit::skip_range(words[first]) : std::nullopt) {
      check(chunkit::skipstart == r->first && chunkit::skipend == r->last);
      next = first + 1;
    } else {
      const std::int32_t defaults[] = {1, 1, 999999999, 4096};
      const std::int32_t taken[] = {chunkit::startrec, chunkit::startbyte, chunkit::endrec,
                                    chunkit::endbyte};
      for (std::size_t k = 0; k < 4; ++k, ++next) {
        std::int32_t v = 0;
        if (next < words.size()) v = *rt::whole_number(words[next], k % 2 == 0 ? 10 : 5);
        check(taken[k] == or_default(v, defaults[k]));
      }
    }
    for (; next < words.size(); ++next) {
      chunkit::next_arg(chunkit::argbuf);
      if (!chunkit::parseskip().ok()) __builtin_trap();
      const std::optional<chunkit::SkipRange> r = chunkit::skip_range(words[next]);
      check(r && chunkit::skipstart == r->first && chunkit::skipend == r->last);
    }
  }
  return 0;
}
