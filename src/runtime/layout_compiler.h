// The layout compiler: turns a layout string into items once, keeps the last 32 compiled
// layouts in a cache, and for a layout of fixed-width items only builds its stencil (the record
// with the literals in place and a field per value). Write statements run what it compiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rt::layouts {

// Limits of a compiled layout. Counts, widths, and repeat counts multiplied together with the
// skips and literal texts they repeat, stay at or below kMaxCount, so every statement ends after
// a bounded amount of work and output.
inline constexpr std::size_t kMaxLayoutLen = 512;
inline constexpr std::size_t kMaxItems = 64;
inline constexpr int kMaxDepth = 8;
inline constexpr std::int32_t kMaxCount = 32767;

// Room of one statement: its values and the characters of its texts.
inline constexpr std::size_t kMaxValues = 32;  // at most 32: one bit each in the masks of texts

// Buffer of a console or text-file record: the room of a stencil's image.
inline constexpr std::size_t kRecordCap = 132;

enum class Op : std::uint8_t {
  kData,
  kLiteral,
  kSkip,
  kSlash,
  kBackslash,
  kColon,
  kOpen,
  kClose,
  kEnd,
  kError
};

struct Item {
  Op op;
  char letter;          // kData: 'i', 'z' or 'a'; kLiteral: '\'' when doubled apostrophes fold
  std::int32_t count;   // repeat count (kData, kOpen), blanks (kSkip), error number (kError)
  std::int32_t width;   // kData: -1 when absent
  std::int32_t digits;  // kData 'i': minimum digits
  std::uint16_t off;    // kLiteral: text position in the layout copy
  std::uint16_t len;
};

// Data items of a stencil: where their characters go in the record, and how many. I1 items
// side by side (as "5i1" gives) make one field of `count` columns, a digit or "*" each.
struct Field {
  std::uint16_t at;
  std::uint16_t width;
  std::uint16_t digits;  // 'i': minimum digits
  std::uint16_t count;   // '1': the values it takes; otherwise 1
  char letter;           // 'i', 'a' or '1'
};

struct Compiled {
  std::uint64_t stamp = 0;  // which compile filled the entry: one number per compile
  std::size_t key_len = 0;
  char key[kMaxLayoutLen];  // the layout's first kMaxLayoutLen characters
  std::size_t n = 0;
  Item items[kMaxItems];
  std::size_t revert = 0;  // where output continues when values remain at the end
  bool revert_has_data = false;
  // The stencil (see build_stencil): the record with its literal characters in place, and a
  // field for each value.
  bool has_stencil = false;
  bool stencil_continued = false;  // the record ends with "\"
  std::size_t stencil_len = 0;
  std::size_t nfields = 0;
  std::size_t nvalues = 0;  // the values it takes
  std::uint32_t texts = 0;  // bit k: value k goes to an A item
  std::uint32_t ones = 0;   // bit k: value k goes to an I1 field
  char image[kRecordCap];
  Field fields[kMaxValues];
};

// Empties the cache.
void cache_init();

// The compiled form of a layout: from the cache, or compiled now.
const Compiled& compiled(std::string_view text);
// The same for a layout given often: `entry` and `stamp` remember where its compiled form was
// found, so that later statements need not look for it by its characters, which must stay as
// they are for as long as they are given.
const Compiled& compiled(std::string_view text, std::size_t& entry, std::uint64_t& stamp);

}  // namespace rt::layouts
