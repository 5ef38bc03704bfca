// Output through layout strings: write statements to the console, to other units and to
// character variables (internal writes), and list-directed output. Console records go to the
// console module, which owns their carriage control and line state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/status.h"

namespace rt {

// Resets the layout cache, the console output buffer and the console line state.
void layout_init();

// Write statement. A layout whose data() is null means list-directed output. Items are
// captured when added (texts are copied). The statement runs at write_end, which returns its
// first failure (kWrite, or a failed implicit open); nothing is written after it.
void write_begin(std::int32_t unit, std::string_view layout);
// A layout that statements give again and again, such as that of a line written for every
// record. It remembers where its compiled form is kept, so that later statements need not find
// it by its characters, which must stay as they are for as long as it is used.
class Layout {
 public:
  constexpr explicit Layout(std::string_view text) : text_(text) {}

 private:
  friend void write_begin(std::int32_t unit, Layout& layout);
  std::string_view text_;
  std::size_t entry_ = SIZE_MAX;  // none yet
  std::uint64_t stamp_ = 0;
};
void write_begin(std::int32_t unit, Layout& layout);
void write_begin_internal(char* var, std::size_t len, std::string_view layout);
void write_int4(std::int32_t value);
// n 4-byte integers in order: an array in the item list.
void write_int4s(const std::int32_t* values, std::size_t n);
// A count, such as a record number: like a 4-byte integer, except that an I item too narrow
// for it shows it whole, in as many columns as it needs, instead of asterisks.
void write_count(std::int32_t value);
void write_int2(std::int16_t value);
void write_text(std::string_view text);
Status write_end();

}  // namespace rt
