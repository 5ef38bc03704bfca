#include "runtime/layout.h"

#include <algorithm>
#include <cstring>

#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/layout_compiler.h"
#include "runtime/units.h"

namespace rt {
namespace {

using namespace layouts;

// Room of one statement: the characters of its texts.
constexpr std::size_t kTextRoom = 4096;

// Longer records than kRecordCap are handed on in parts, up to kMaxRecord characters: more than
// any name or message needs, few enough that every statement ends after a bounded amount of
// work.
constexpr std::size_t kMaxRecord = 32767;
constexpr std::size_t kListLine = 79;  // list-directed positions after the leading blank

// --- write statement ---

// Where the records of a write statement go: the console, a unit's text records, or a
// character variable (an internal write).
enum class Sink { kConsole, kUnit, kInternal };
// A count is a 4-byte integer that an I item too narrow for it shows whole, in the columns it
// needs, rather than as asterisks.
enum class Kind : std::uint8_t { kInt2, kInt4, kCount, kText };

// A value of a statement: a number, or a text held in the statement's text room.
struct Value {
  Kind kind;
  std::int32_t num;   // kText: the text's position in the text room
  std::uint16_t len;  // kText: its length
};

struct Statement {
  Sink sink = Sink::kConsole;
  std::int32_t unit = 0;
  const Compiled* layout = nullptr;  // null: list-directed
  // The values in order, kept side by side by field so that runs of numbers are copied and read
  // as plain arrays (see Value); the kind of value k is bit k of the masks.
  std::int32_t nums[kMaxValues];
  std::uint16_t lens[kMaxValues];  // texts only
  std::size_t nvalues = 0;
  std::uint32_t texts = 0;   // bit k: value k is a text
  std::uint32_t int2s = 0;   // bit k: value k is a 2-byte integer
  std::uint32_t counts = 0;  // bit k: value k is a count
  bool lost = false;         // an item did not fit the statement's room
  char text[kTextRoom];
  std::size_t text_len = 0;
  // The record under construction: the variable itself for an internal write.
  char rec[kRecordCap];
  char* base = rec;
  std::size_t cap = kRecordCap;
  std::size_t len = 0;
  std::size_t pending = 0;  // blanks written in front of the next character
  std::size_t handed = 0;   // characters of the record handed on already
  Status failure;           // the first failure: nothing is handed on after it
};

Statement g_st;

bool failed() {
  return !g_st.failure.ok();
}

// Keeps the statement's first failure.
void keep(Status s) {
  if (!failed()) g_st.failure = s;
}

void raise(int err) {
  keep(Status::error(err, StmtKind::kWrite,
                     g_st.sink == Sink::kInternal ? "internal" : unit_name(g_st.unit)));
}

void add_value(const Value& v) {
  if (g_st.nvalues == kMaxValues) {
    g_st.lost = true;
  } else if (!g_st.lost) {
    const std::size_t k = g_st.nvalues++;
    if (v.kind == Kind::kText) g_st.texts |= std::uint32_t{1} << k;
    if (v.kind == Kind::kInt2) g_st.int2s |= std::uint32_t{1} << k;
    if (v.kind == Kind::kCount) g_st.counts |= std::uint32_t{1} << k;
    g_st.nums[k] = v.num;
    g_st.lens[k] = v.len;
  }
}

Value value_at(std::size_t k) {
  const std::uint32_t bit = std::uint32_t{1} << k;
  if ((g_st.texts & bit) != 0) return {Kind::kText, g_st.nums[k], g_st.lens[k]};
  if ((g_st.int2s & bit) != 0) return {Kind::kInt2, g_st.nums[k], 0};
  return {(g_st.counts & bit) != 0 ? Kind::kCount : Kind::kInt4, g_st.nums[k], 0};
}

// Hands the characters of a console or unit record built so far to the console or the unit as
// one part of the record, and empties the buffer for the next part: records are written whole
// at any length. `end` ends the record, without a line end when `continued`.
void hand_on_part(bool end = false, bool continued = false) {
  if (failed()) return;
  const std::string_view part(g_st.rec, g_st.len);
  Status s;
  if (g_st.sink == Sink::kUnit) {
    s = write_text_record(g_st.unit, part, !end || continued);
  } else {
    s = g_st.handed > 0 ? console_put(part) : console_record_begin(part);
    if (end && s.ok()) s = console_record_end(continued);
  }
  if (!s.ok()) keep(s);
  g_st.handed = end ? 0 : g_st.handed + g_st.len;
  g_st.len = 0;
}

// How many more characters the record takes at once (at least one). A variable takes no more
// than its length; a console or unit record goes on in parts up to kMaxRecord characters.
// 0 when the statement failed.
std::size_t make_room() {
  if (g_st.sink == Sink::kInternal) {
    if (g_st.len == g_st.cap) raise(kErrRecordOverflow);
    return failed() ? 0 : g_st.cap - g_st.len;
  }
  if (g_st.handed + g_st.len == kMaxRecord) raise(kErrRecordOverflow);
  if (g_st.len == g_st.cap) hand_on_part();
  if (failed()) return 0;
  return std::min(g_st.cap - g_st.len, kMaxRecord - g_st.handed - g_st.len);
}

// Appends n characters, copied from p or, when p is null, n times c. The pending blanks are
// written first.
void append(const char* p, char c, std::size_t n) {
  if (n == 0 || failed()) return;
  while (g_st.pending > 0) {
    const std::size_t k = std::min(g_st.pending, make_room());
    if (k == 0) return;
    std::memset(g_st.base + g_st.len, ' ', k);
    g_st.len += k;
    g_st.pending -= k;
  }
  while (n > 0) {
    const std::size_t k = std::min(n, make_room());
    if (k == 0) return;
    if (p != nullptr) {
      std::memcpy(g_st.base + g_st.len, p, k);
      p += k;
    } else {
      std::memset(g_st.base + g_st.len, c, k);
    }
    g_st.len += k;
    n -= k;
  }
}

void put(const char* p, std::size_t n) {
  append(p, 0, n);
}

void put_fill(char c, std::size_t n) {
  append(nullptr, c, n);
}

void skip(std::size_t n) {
  // The count saturates one past the record's room: any character after that overflows, and
  // blanks at the end of a record are dropped anyway.
  const std::size_t room =
      g_st.sink == Sink::kInternal ? g_st.cap - g_st.len : kMaxRecord - g_st.handed - g_st.len;
  g_st.pending = std::min(g_st.pending + n, room + 1);
}

// Hands over the record; pending blanks are dropped. `last` marks the statement's final one.
void end_record(bool last, bool continued) {
  g_st.pending = 0;
  if (g_st.sink != Sink::kInternal) return hand_on_part(true, continued);
  if (!last) raise(kErrRecordOverflow);
  if (failed()) return;
  std::memset(g_st.base + g_st.len, ' ', g_st.cap - g_st.len);
  g_st.len = 0;
}

std::uint32_t magnitude(std::int32_t v) {
  return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
}

std::size_t digit_count(std::uint32_t mag) {
  std::size_t n = 1;
  while (mag >= 100) {
    mag /= 100;
    n += 2;
  }
  return mag >= 10 ? n + 1 : n;
}

// Writes the digit_count(mag) decimal digits of `mag` so that they end at `end`, two at a time.
void put_decimal(std::uint32_t mag, char* end) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  while (mag >= 100) {
    const std::uint32_t pair = mag % 100;
    mag /= 100;
    end -= 2;
    std::memcpy(end, kPairs + std::size_t{2} * pair, 2);
  }
  if (mag >= 10) {
    std::memcpy(end - 2, kPairs + std::size_t{2} * mag, 2);
  } else {
    end[-1] = static_cast<char>('0' + mag);
  }
}

// Iw.m: sign, digits padded with zeros to m, right-aligned in w; when too wide, w asterisks,
// or for a count all its characters.
void render_int(std::int32_t v, std::size_t w, std::size_t m, bool count) {
  const std::uint32_t mag = magnitude(v);
  const std::size_t nd = digit_count(mag);
  const std::size_t zeros = m > nd ? m - nd : 0;
  const std::size_t need = (v < 0 ? 1 : 0) + zeros + nd;
  if (need > w && !count) return put_fill('*', w);
  w = std::max(w, need);
  put_fill(' ', w - need);
  if (v < 0) put("-", 1);
  put_fill('0', zeros);
  char digits[10];
  put_decimal(mag, digits + nd);
  put(digits, nd);
}

// Iw.m as render_int gives it for an integer, written into the w blanks at `at`. False when
// it does not fit (the field then holds asterisks).
bool fill_int(char* at, std::int32_t v, std::size_t w, std::size_t m) {
  const std::uint32_t mag = magnitude(v);
  const std::size_t nd = digit_count(mag);
  const std::size_t zeros = m > nd ? m - nd : 0;
  const std::size_t need = (v < 0 ? 1 : 0) + zeros + nd;
  if (need > w) {
    std::memset(at, '*', w);
    return false;
  }
  put_decimal(mag, at + w);
  char* p = at + w - need;
  if (v < 0) *p++ = '-';
  if (zeros > 0) std::memset(p, '0', zeros);
  return true;
}

// Zw: the bit pattern in upper-case hexadecimal without leading zeros; the rightmost w
// digits when there are more.
void render_hex(const Value& v, std::int32_t width) {
  const bool two = v.kind == Kind::kInt2;
  std::uint32_t bits = two ? static_cast<std::uint16_t>(v.num) : static_cast<std::uint32_t>(v.num);
  const std::size_t w = static_cast<std::size_t>(width < 0 ? (two ? 4 : 8) : width);
  char digits[8];
  std::size_t nd = 0;
  do {
    digits[sizeof digits - ++nd] = "0123456789ABCDEF"[bits & 0xF];
    bits >>= 4;
  } while (bits != 0);
  if (nd > w) return put(digits + sizeof digits - w, w);
  put_fill(' ', w - nd);
  put(digits + sizeof digits - nd, nd);
}

void render_text(const Value& v, std::int32_t width) {
  const char* p = g_st.text + v.num;
  if (width < 0) return put(p, v.len);
  const std::size_t w = static_cast<std::size_t>(width);
  if (w < v.len) return put(p, w);
  put_fill(' ', w - v.len);
  put(p, v.len);
}

void render(const Item& it, const Value& v) {
  const bool text = v.kind == Kind::kText;
  switch (it.letter) {
    case 'i':
      if (text) return raise(kErrTextForNumber);
      return render_int(v.num, static_cast<std::size_t>(it.width),
                        static_cast<std::size_t>(it.digits), v.kind == Kind::kCount);
    case 'z':
      if (text) return raise(kErrTextForNumber);
      return render_hex(v, it.width);
    default:
      if (!text) return raise(kErrNumberForText);
      return render_text(v, it.width);
  }
}

void put_literal(const Compiled& c, const Item& it) {
  const char* t = c.key + it.off;
  if (it.letter != '\'') return put(t, it.len);
  // Two apostrophes in a row stand for one.
  std::size_t from = 0;
  for (std::size_t k = 0; k < it.len; ++k) {
    if (t[k] == '\'') {
      put(t + from, k + 1 - from);
      from = ++k + 1;
    }
  }
  put(t + from, it.len - from);
}

void run_layout(const Compiled& c) {
  struct Frame {
    std::size_t open;
    std::int32_t left;
  };
  Frame stack[kMaxDepth];
  int depth = 0;
  std::size_t pc = 0;
  std::size_t vi = 0;
  std::int32_t rep_left = 0;  // repetitions left of the data item at pc
  bool backslash = false;     // the last item interpreted was "\" or "$"
  const auto remain = [&] { return vi < g_st.nvalues || g_st.lost; };
  while (!failed()) {
    const Item& it = c.items[pc];
    switch (it.op) {
      case Op::kData:
        if (vi == g_st.nvalues) {
          if (g_st.lost) return raise(kErrRecordOverflow);
          return end_record(true, backslash);
        }
        render(it, value_at(vi++));
        backslash = false;
        if (rep_left == 0) rep_left = it.count;
        if (--rep_left == 0) ++pc;
        break;
      case Op::kLiteral:
        put_literal(c, it);
        backslash = false;
        ++pc;
        break;
      case Op::kSkip:
        skip(static_cast<std::size_t>(it.count));
        backslash = false;
        ++pc;
        break;
      case Op::kSlash:
        end_record(false, false);
        backslash = false;
        ++pc;
        break;
      case Op::kBackslash:
        backslash = true;
        ++pc;
        break;
      case Op::kColon:
        if (!remain()) return end_record(true, backslash);
        ++pc;
        break;
      case Op::kOpen:
        stack[depth++] = {pc, it.count};
        ++pc;
        break;
      case Op::kClose:
        if (--stack[depth - 1].left > 0) {
          pc = stack[depth - 1].open + 1;
        } else {
          --depth;
          ++pc;
        }
        break;
      case Op::kEnd:
        if (!remain()) return end_record(true, backslash);
        // Values left: a new record from the reversion point, which must be able to take one.
        end_record(false, false);
        if (!c.revert_has_data) return raise(kErrBadItem);
        backslash = false;
        pc = c.revert;
        break;
      case Op::kError:
        return raise(it.count);
    }
  }
}

// Whether the statement can fill in the stencil of its layout: one value of the right kind
// per field, into a console or unit record. A count in an I1 field would widen it at 10 or more,
// so such statements are left to run_layout.
bool fits_stencil(const Compiled& c) {
  if (!c.has_stencil || g_st.sink == Sink::kInternal || g_st.lost || g_st.nvalues != c.nvalues) {
    return false;
  }
  return g_st.texts == c.texts && (g_st.counts & c.ones) == 0;
}

// The record of a statement that fits its stencil: the same characters as run_layout gives.
// False, with nothing handed on, when a count is too wide for its field: its record is no
// longer the stencil's. Counts and pointers are held in locals: the record's characters may
// alias anything, so every store into it would have them read again.
bool fill_stencil(const Compiled& c) {
  char* const rec = g_st.rec;
  const std::int32_t* num = g_st.nums;
  const std::uint16_t* lens = g_st.lens;
  std::memcpy(rec, c.image, c.stencil_len);
  const Field* const end = c.fields + c.nfields;
  for (const Field* f = c.fields; f != end; ++f) {
    char* const at = rec + f->at;  // the field is blank
    const std::size_t width = f->width;
    switch (f->letter) {
      case '1': {  // most of the progress lines
        const std::size_t count = f->count;
        for (std::size_t j = 0; j < count; ++j) {
          const auto d = static_cast<std::uint32_t>(num[j]);
          at[j] = static_cast<char>(d < 10 ? '0' + d : '*');
        }
        num += count;
        lens += count;
        break;
      }
      case 'i': {
        const auto k = static_cast<std::size_t>(num - g_st.nums);
        if (!fill_int(at, *num++, width, f->digits) && ((g_st.counts >> k) & 1u) != 0) {
          return false;
        }
        ++lens;
        break;
      }
      default: {
        const char* text = g_st.text + *num++;
        const std::size_t len = *lens++;
        if (width < len) {
          std::memcpy(at, text, width);
        } else {
          std::memcpy(at + width - len, text, len);
        }
      }
    }
  }
  g_st.len = c.stencil_len;
  end_record(true, c.stencil_continued);
  return true;
}

// One record starting with a blank; texts run on, numbers take fields of 11 (the first) or
// 12 positions; a line holds kListLine positions after its leading blank.
void run_list() {
  std::size_t used = 0;
  bool first_number = true;
  g_st.pending = 1;
  const auto new_line = [&] {
    end_record(false, false);
    g_st.pending = 1;
    used = 0;
  };
  for (std::size_t k = 0; k < g_st.nvalues && !failed(); ++k) {
    const Value v = value_at(k);
    if (v.kind == Kind::kText) {
      const char* p = g_st.text + v.num;
      std::size_t n = v.len;
      while (n >= kListLine - used) {
        const std::size_t part = kListLine - used;
        put(p, part);
        p += part;
        n -= part;
        new_line();
      }
      put(p, n);
      used += n;
    } else {
      const std::size_t field = first_number ? 11 : 12;
      first_number = false;
      if (field >= kListLine) return raise(kErrListWidth);
      if (field >= kListLine - used) new_line();
      render_int(v.num, field, 1, false);
      used += field;
    }
  }
  if (g_st.lost) return raise(kErrRecordOverflow);
  end_record(true, false);
}

void begin(Sink sink, std::int32_t unit, char* base, std::size_t cap, const Compiled* layout) {
  g_st.sink = sink;
  g_st.unit = unit;
  g_st.base = base;
  g_st.cap = cap;
  g_st.len = 0;
  g_st.pending = 0;
  g_st.handed = 0;
  g_st.nvalues = 0;
  g_st.texts = 0;
  g_st.int2s = 0;
  g_st.counts = 0;
  g_st.lost = false;
  g_st.text_len = 0;
  g_st.layout = layout;
  g_st.failure = {};
}

const Compiled* compiled_or_list(std::string_view layout) {
  return layout.data() == nullptr ? nullptr : &compiled(layout);
}

Sink console_or_unit(std::int32_t unit) {
  const bool console = unit == kDefaultUnit || unit == kConsoleUnit || is_console_output(unit);
  return console ? Sink::kConsole : Sink::kUnit;
}

}  // namespace

void layout_init() {
  cache_init();
  g_st.nvalues = 0;
  g_st.len = 0;
}

void write_begin(std::int32_t unit, std::string_view layout) {
  begin(console_or_unit(unit), unit, g_st.rec, kRecordCap, compiled_or_list(layout));
}

void write_begin(std::int32_t unit, Layout& layout) {
  begin(console_or_unit(unit), unit, g_st.rec, kRecordCap,
        &compiled(layout.text_, layout.entry_, layout.stamp_));
}

void write_begin_internal(char* var, std::size_t len, std::string_view layout) {
  begin(Sink::kInternal, 0, var, len, compiled_or_list(layout));
}

void write_int4(std::int32_t value) {
  add_value({Kind::kInt4, value, 0});
}

void write_int4s(const std::int32_t* values, std::size_t n) {
  if (g_st.lost || n > kMaxValues - g_st.nvalues) {
    for (std::size_t k = 0; k < n; ++k) add_value({Kind::kInt4, values[k], 0});
    return;
  }
  std::copy_n(values, n, g_st.nums + g_st.nvalues);
  g_st.nvalues += n;
}

void write_count(std::int32_t value) {
  add_value({Kind::kCount, value, 0});
}

void write_int2(std::int16_t value) {
  add_value({Kind::kInt2, value, 0});
}

void write_text(std::string_view text) {
  if (text.size() > kTextRoom - g_st.text_len) {
    g_st.lost = true;
    return;
  }
  std::memcpy(g_st.text + g_st.text_len, text.data(), text.size());
  add_value({Kind::kText, static_cast<std::int32_t>(g_st.text_len),
             static_cast<std::uint16_t>(text.size())});
  g_st.text_len += text.size();
}

Status write_end() {
  if (g_st.layout == nullptr) {
    run_list();
  } else if (!fits_stencil(*g_st.layout) || !fill_stencil(*g_st.layout)) {
    run_layout(*g_st.layout);
  }
  return g_st.failure;
}

}  // namespace rt
