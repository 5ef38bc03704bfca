// What a run makes of the copy.
#pragma once

#include <bitset>
#include <cstdint>

namespace chunkit {

// The copy with its console, or one of the modes for programs, which show no console text: a
// listing of the records a copy would copy, the copy itself, reported in one line at its end,
// their summary, or their split into pieces.
enum class Mode { kCopy, kList, kBatch, kSummary, kSplit };

// What makes a piece of a split: the records of one day, of one type, or `count` consecutive
// records.
struct SplitBy {
  enum class Key { kDay, kType, kCount };
  Key key = Key::kDay;
  std::int64_t count = 0;
};

// The records of the section that the modes for programs keep: those whose time (seconds from
// 1970) is from `from` on and before `to` where either is given (a record with no time is then
// never kept), and whose type is in `types` where a list is given.
struct Selection {
  // The types a preface decodes to: -100 to 15.
  static constexpr int kLowestType = -100;
  static constexpr int kTypes = 116;
  bool by_from = false, by_to = false, by_type = false;
  std::int64_t from = 0, to = 0;
  std::bitset<kTypes> types;
  std::int64_t gap = 0;  // --gap: the gap threshold of a summary in seconds; 0 when not given
  bool by_time() const { return by_from || by_to; }
  bool any() const { return by_time() || by_type; }
  bool keeps_type(std::int32_t type) const {
    const std::int32_t i = type - kLowestType;
    return i >= 0 && i < kTypes && types[static_cast<std::size_t>(i)];
  }
};

}  // namespace chunkit
