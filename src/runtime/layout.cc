#include "runtime/layout.h"

#include <algorithm>
#include <cstring>

#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/stop.h"
#include "runtime/units.h"

namespace rt {
namespace {

// Limits of a compiled layout. Counts, widths, and repeat counts multiplied together with the
// skips and literal texts they repeat, stay at or below kMaxCount, so every statement ends after
// a bounded amount of work and output.
constexpr std::size_t kMaxLayoutLen = 512;
constexpr std::size_t kMaxItems = 64;
constexpr int kMaxDepth = 8;
constexpr std::int32_t kMaxCount = 32767;
constexpr std::size_t kCacheEntries = 32;

// Room of one statement: its values and the characters of its texts.
constexpr std::size_t kMaxValues = 32;  // at most 32: one bit each in the masks of texts
constexpr std::size_t kTextRoom = 4096;

// Buffer of a console or text-file record; longer records are handed on in parts, up to
// kMaxRecord characters: more than any name or message needs, few enough that every statement
// ends after a bounded amount of work.
constexpr std::size_t kRecordCap = 132;
constexpr std::size_t kMaxRecord = 32767;
constexpr std::size_t kListLine = 79;  // list-directed positions after the leading blank

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

// A layout whose items are only literals, blanks, "\" and data items of a fixed width (Iw, Aw)
// puts the same characters in the same places every time it is given one value per data item.
// Its record is kept as an image with the literals in place and a blank field per data item,
// so that such a statement fills in its fields instead of interpreting the layout again.
// Anything else (groups, "/", ":", Z, a width of 0, faults, a record longer than the buffer)
// leaves the layout without a stencil.
void build_stencil(Compiled& c) {
  std::size_t pos = 0;
  std::size_t pending = 0;  // blanks written in front of the next character
  std::size_t nf = 0;
  std::size_t nv = 0;
  bool backslash = false;
  c.texts = 0;
  c.ones = 0;
  // Places n characters (blanks when p is null) after the pending blanks; false when they do
  // not fit the record.
  const auto place = [&](const char* p, std::size_t n) {
    if (n == 0) return true;
    if (pending + n > kRecordCap - pos) return false;
    std::memset(c.image + pos, ' ', pending);
    pos += pending;
    pending = 0;
    if (p == nullptr) {
      std::memset(c.image + pos, ' ', n);
    } else {
      std::memcpy(c.image + pos, p, n);
    }
    pos += n;
    return true;
  };
  for (std::size_t k = 0; k < c.n; ++k) {
    const Item& it = c.items[k];
    switch (it.op) {
      case Op::kLiteral: {
        // Two apostrophes in a row stand for one.
        const char* t = c.key + it.off;
        for (std::size_t i = 0; i < it.len; ++i) {
          if (!place(t + i, 1)) return;
          if (it.letter == '\'' && t[i] == '\'') ++i;
        }
        backslash = false;
        break;
      }
      case Op::kSkip:
        pending += static_cast<std::size_t>(it.count);
        backslash = false;
        break;
      case Op::kBackslash:
        backslash = true;
        break;
      case Op::kData:
        if (it.letter == 'z' || it.width < 1) return;
        for (std::int32_t r = 0; r < it.count; ++r) {
          const std::size_t at = pos + pending;
          if (nv == kMaxValues || !place(nullptr, static_cast<std::size_t>(it.width))) return;
          const char letter = it.letter == 'i' && it.width == 1 ? '1' : it.letter;
          if (it.letter == 'a') c.texts |= std::uint32_t{1} << nv;
          if (letter == '1') c.ones |= std::uint32_t{1} << nv;
          ++nv;
          Field* last = nf > 0 ? &c.fields[nf - 1] : nullptr;
          if (letter == '1' && last != nullptr && last->letter == '1' &&
              last->at + last->count == at) {
            ++last->count;
          } else {
            c.fields[nf++] = {static_cast<std::uint16_t>(at), static_cast<std::uint16_t>(it.width),
                              static_cast<std::uint16_t>(it.digits), 1, letter};
          }
        }
        backslash = false;
        break;
      case Op::kEnd:
        c.has_stencil = true;
        c.stencil_continued = backslash;
        c.stencil_len = pos;
        c.nfields = nf;
        c.nvalues = nv;
        return;
      default:
        return;
    }
  }
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// --- compiler ---

// Turns a layout into items. A fault becomes a kError item at its place and ends the list:
// the items before it still run.
class Compiler {
 public:
  Compiler(Compiled& out, std::string_view text)
      : c_(out),
        t_(out.key),
        n_(std::min(text.size(), kMaxLayoutLen)),
        truncated_(text.size() > kMaxLayoutLen) {
    std::memcpy(out.key, text.data(), n_);
    out.key_len = n_;
    out.n = 0;
    out.revert = 0;
    out.revert_has_data = false;
    out.has_stencil = false;
  }

  void run() {
    skip_blanks();
    if (at_end() || t_[i_] != '(') {
      fail(kErrBadItem);
      return;
    }
    ++i_;
    if (!list(0, 1)) return;
    mark(Op::kEnd);
    for (std::size_t k = c_.revert; k < c_.n; ++k)
      c_.revert_has_data |= c_.items[k].op == Op::kData;
    build_stencil(c_);
  }

 private:
  bool at_end() const { return i_ >= n_; }
  // Running out of text is the given fault, or kErrBadItem past the length limit.
  int end_error(int err) const { return truncated_ ? kErrBadItem : err; }
  void skip_blanks() {
    while (!at_end() && t_[i_] == ' ') ++i_;
  }

  bool emit(const Item& it) {
    // The last place is kept for the end or a fault.
    if (c_.n + 1 >= kMaxItems && it.op != Op::kEnd) return fail(kErrBadItem);
    c_.items[c_.n++] = it;
    return true;
  }
  bool mark(Op op) { return emit({op, 0, 0, 0, 0, 0, 0}); }
  bool fail(int err) {
    c_.items[c_.n++] = {Op::kError, 0, err, 0, 0, 0, 0};
    return false;
  }

  // Reads an unsigned number at the cursor; -1 when there is none, -2 when above kMaxCount.
  std::int32_t number() {
    if (at_end() || t_[i_] < '0' || t_[i_] > '9') return -1;
    std::int32_t v = 0;
    for (; !at_end() && t_[i_] >= '0' && t_[i_] <= '9'; ++i_) {
      v = v * 10 + (t_[i_] - '0');
      if (v > kMaxCount) return -2;
    }
    return v;
  }

  // Items up to the matching ")"; false once a fault item was written.
  bool list(int depth, std::int32_t product) {
    for (;;) {
      while (!at_end() && (t_[i_] == ' ' || t_[i_] == ',')) ++i_;
      if (at_end()) return fail(end_error(kErrBadItem));
      if (t_[i_] == ')') {
        ++i_;
        return true;
      }
      std::int32_t r = number();
      if (r == -2 || r == 0) return fail(kErrBadItem);
      skip_blanks();
      if (at_end()) return fail(end_error(kErrBadItem));
      if (!item(lower(t_[i_++]), r, depth, product)) return false;
    }
  }

  // One item after its optional count r (-1 when absent).
  bool item(char c, std::int32_t r, int depth, std::int32_t product) {
    const std::int32_t rep = r < 0 ? 1 : r;
    switch (c) {
      case 'i':
      case 'z':
      case 'a':
        return rep <= kMaxCount / product ? data(c, rep) : fail(kErrBadItem);
      case '(':
        return rep <= kMaxCount / product ? group(depth, product, rep) : fail(kErrBadItem);
      case 'x':
        return rep <= kMaxCount / product ? emit({Op::kSkip, 0, rep, 0, 0, 0, 0})
                                          : fail(kErrBadItem);
      case 'h':
        return hollerith(r, product);
    }
    if (r >= 0) return fail(kErrBadItem);  // no count before literals, "/", "\", "$" or ":"
    switch (c) {
      case '\'':
        return quoted(product);
      case '/':
        return mark(Op::kSlash);
      case '\\':
      case '$':
        return mark(Op::kBackslash);
      case ':':
        return mark(Op::kColon);
      default:
        return fail(kErrBadItem);
    }
  }

  bool group(int depth, std::int32_t product, std::int32_t rep) {
    if (depth + 1 > kMaxDepth) return fail(kErrBadItem);
    const std::size_t open = c_.n;
    if (!emit({Op::kOpen, 0, rep, 0, 0, 0, 0})) return false;
    if (depth == 0) c_.revert = open;
    if (!list(depth + 1, product * rep)) return false;
    return mark(Op::kClose);
  }

  // A width right after the letter; I needs one (blanks may come first), Z and A may go
  // without, so "a 3x" is A followed by 3X.
  bool data(char letter, std::int32_t rep) {
    if (letter == 'i') skip_blanks();
    std::int32_t w = number();
    if (w == -2) return fail(kErrBadItem);
    std::int32_t m = 1;
    if (letter == 'i') {
      if (w < 0) return fail(end_error(kErrNoWidth));
      skip_blanks();
      if (!at_end() && t_[i_] == '.') {
        ++i_;
        skip_blanks();
        m = number();
        if (m == -2) return fail(kErrBadItem);
        if (m < 0) return fail(end_error(kErrNoWidth));
        if (m > w) return fail(kErrDigits);
      }
    }
    return emit({Op::kData, letter, rep, w, m, 0, 0});
  }

  // Literal texts, like counts, stay within kMaxCount characters once repeated.
  bool hollerith(std::int32_t n, std::int32_t product) {
    if (n < 0) return fail(kErrNoWidth);
    if (static_cast<std::size_t>(n) > n_ - i_) return fail(end_error(kErrUnclosedText));
    if (n > kMaxCount / product) return fail(kErrBadItem);
    const std::size_t off = i_;
    i_ += static_cast<std::size_t>(n);
    return emit({Op::kLiteral, 'h', 0, 0, 0, static_cast<std::uint16_t>(off),
                 static_cast<std::uint16_t>(n)});
  }

  bool quoted(std::int32_t product) {
    const std::size_t off = i_;
    for (;;) {
      if (at_end()) return fail(end_error(kErrUnclosedText));
      if (t_[i_] == '\'') {
        if (i_ + 1 < n_ && t_[i_ + 1] == '\'') {
          i_ += 2;
          continue;
        }
        if (i_ + 1 >= n_ && truncated_) return fail(kErrBadItem);
        break;
      }
      ++i_;
    }
    const std::size_t len = i_++ - off;
    if (len > static_cast<std::size_t>(kMaxCount / product)) return fail(kErrBadItem);
    return emit({Op::kLiteral, '\'', 0, 0, 0, static_cast<std::uint16_t>(off),
                 static_cast<std::uint16_t>(len)});
  }

  Compiled& c_;
  const char* t_;
  std::size_t n_;
  bool truncated_;
  std::size_t i_ = 0;
};

// Compiled layouts by content; the extra last entry compiles layouts too long to be keys.
Compiled g_cache[kCacheEntries + 1];
std::size_t g_cache_used = 0;
std::size_t g_cache_next = 0;
std::size_t g_cache_last = 0;  // the entry found last
std::uint64_t g_compiles = 0;  // compiles since the start of the process; never reset

void compile(Compiled& c, std::string_view text) {
  c.stamp = ++g_compiles;
  Compiler(c, text).run();
}

const Compiled& compiled(std::string_view text) {
  if (text.size() > kMaxLayoutLen) {
    Compiled& c = g_cache[kCacheEntries];
    compile(c, text);
    return c;
  }
  // A statement often repeats the one before it; its layout is looked at first.
  const auto same = [&](const Compiled& c) {
    return c.key_len == text.size() && std::memcmp(c.key, text.data(), text.size()) == 0;
  };
  if (g_cache_last < g_cache_used && same(g_cache[g_cache_last])) return g_cache[g_cache_last];
  for (std::size_t k = 0; k < g_cache_used; ++k) {
    if (same(g_cache[k])) {
      g_cache_last = k;
      return g_cache[k];
    }
  }
  g_cache_last = g_cache_next;
  Compiled& c = g_cache[g_cache_next];
  g_cache_next = (g_cache_next + 1) % kCacheEntries;
  g_cache_used = std::max(g_cache_used, g_cache_next == 0 ? kCacheEntries : g_cache_next);
  compile(c, text);
  return c;
}

// --- write statement ---

enum class Target { kConsole, kUnit, kInternal };
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
  Target target = Target::kConsole;
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
};

Statement g_st;

[[noreturn]] void raise(int err) {
  report_runtime_error(err, StmtKind::kWrite,
                       g_st.target == Target::kInternal ? "internal" : unit_name(g_st.unit));
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
  const std::string_view part(g_st.rec, g_st.len);
  if (g_st.target == Target::kUnit) {
    write_text_record(g_st.unit, part, !end || continued);
  } else {
    if (g_st.handed > 0) {
      console_put(part);
    } else {
      console_record_begin(part);
    }
    if (end) console_record_end(continued);
  }
  g_st.handed = end ? 0 : g_st.handed + g_st.len;
  g_st.len = 0;
}

// How many more characters the record takes at once (at least one). A variable takes no more
// than its length; a console or unit record goes on in parts up to kMaxRecord characters.
std::size_t make_room() {
  if (g_st.target == Target::kInternal) {
    if (g_st.len == g_st.cap) raise(kErrRecordOverflow);
    return g_st.cap - g_st.len;
  }
  if (g_st.handed + g_st.len == kMaxRecord) raise(kErrRecordOverflow);
  if (g_st.len == g_st.cap) hand_on_part();
  return std::min(g_st.cap - g_st.len, kMaxRecord - g_st.handed - g_st.len);
}

// Appends n characters, copied from p or, when p is null, n times c. The pending blanks are
// written first.
void append(const char* p, char c, std::size_t n) {
  if (n == 0) return;
  while (g_st.pending > 0) {
    const std::size_t k = std::min(g_st.pending, make_room());
    std::memset(g_st.base + g_st.len, ' ', k);
    g_st.len += k;
    g_st.pending -= k;
  }
  while (n > 0) {
    const std::size_t k = std::min(n, make_room());
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
      g_st.target == Target::kInternal ? g_st.cap - g_st.len : kMaxRecord - g_st.handed - g_st.len;
  g_st.pending = std::min(g_st.pending + n, room + 1);
}

// Hands over the record; pending blanks are dropped. `last` marks the statement's final one.
void end_record(bool last, bool continued) {
  g_st.pending = 0;
  if (g_st.target != Target::kInternal) return hand_on_part(true, continued);
  if (!last) raise(kErrRecordOverflow);
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
      if (text) raise(kErrTextForNumber);
      return render_int(v.num, static_cast<std::size_t>(it.width),
                        static_cast<std::size_t>(it.digits), v.kind == Kind::kCount);
    case 'z':
      if (text) raise(kErrTextForNumber);
      return render_hex(v, it.width);
    default:
      if (!text) raise(kErrNumberForText);
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
  for (;;) {
    const Item& it = c.items[pc];
    switch (it.op) {
      case Op::kData:
        if (vi == g_st.nvalues) {
          if (g_st.lost) raise(kErrRecordOverflow);
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
        if (!c.revert_has_data) raise(kErrBadItem);
        backslash = false;
        pc = c.revert;
        break;
      case Op::kError:
        raise(it.count);
    }
  }
}

// Whether the statement can fill in the stencil of its layout: one value of the right kind
// per field, into a console or unit record. A count in an I1 field would widen it at 10 or more,
// so such statements are left to run_layout.
bool fits_stencil(const Compiled& c) {
  if (!c.has_stencil || g_st.target == Target::kInternal || g_st.lost ||
      g_st.nvalues != c.nvalues) {
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
  for (std::size_t k = 0; k < g_st.nvalues; ++k) {
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
      if (field >= kListLine) raise(kErrListWidth);
      if (field >= kListLine - used) new_line();
      render_int(v.num, field, 1, false);
      used += field;
    }
  }
  if (g_st.lost) raise(kErrRecordOverflow);
  end_record(true, false);
}

void begin(Target target, std::int32_t unit, char* base, std::size_t cap, const Compiled* layout) {
  g_st.target = target;
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
}

const Compiled* compiled_or_list(std::string_view layout) {
  return layout.data() == nullptr ? nullptr : &compiled(layout);
}

Target console_or_unit(std::int32_t unit) {
  const bool console = unit == kDefaultUnit || unit == 6 || is_console_output(unit);
  return console ? Target::kConsole : Target::kUnit;
}

}  // namespace

void layout_init() {
  g_cache_used = 0;
  g_cache_next = 0;
  g_cache_last = 0;
  g_st.nvalues = 0;
  g_st.len = 0;
}

void write_begin(std::int32_t unit, std::string_view layout) {
  begin(console_or_unit(unit), unit, g_st.rec, kRecordCap, compiled_or_list(layout));
}

void write_begin(std::int32_t unit, Layout& layout) {
  // The entry still holds the compile the layout remembers, unless another layout took it.
  if (layout.entry_ > kCacheEntries || g_cache[layout.entry_].stamp != layout.stamp_) {
    const Compiled& c = compiled(layout.text_);
    layout.entry_ = static_cast<std::size_t>(&c - g_cache);
    layout.stamp_ = c.stamp;
  }
  begin(console_or_unit(unit), unit, g_st.rec, kRecordCap, &g_cache[layout.entry_]);
}

void write_begin_internal(char* var, std::size_t len, std::string_view layout) {
  begin(Target::kInternal, 0, var, len, compiled_or_list(layout));
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

void write_end() {
  if (g_st.layout == nullptr) {
    run_list();
  } else if (!fits_stencil(*g_st.layout) || !fill_stencil(*g_st.layout)) {
    run_layout(*g_st.layout);
  }
}

}  // namespace rt
