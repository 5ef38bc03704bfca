#include "runtime/input.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/text.h"

namespace rt {
namespace {

// Targets of one read statement; the tool's statements have one each.
constexpr std::size_t kMaxTargets = 16;
// Counts and widths in a layout saturate here; fields end long before.
constexpr std::int32_t kMaxCount = 1'000'000'000;

struct Item {
  char kind = 0;  // 'A', 'I' or 'Z'
  std::int32_t width = 0;
};

struct ReadTarget {
  char* text;  // null for an integer target
  std::size_t len;
  std::int32_t* number;
};

// The read statement in hand.
struct Stmt {
  bool console = false;
  const char* var = nullptr;  // internal read: the record
  std::size_t var_len = 0;
  std::size_t var_pos = 0;
  std::string_view name;
  std::string_view layout;
  std::size_t lpos = 0;    // position in the layout
  std::size_t lstart = 0;  // just after the opening parenthesis; 0 until found
  Item cur;
  std::int32_t repeats_left = 0;
  ReadTarget targets[kMaxTargets];
  std::size_t ntargets = 0;  // kMaxTargets + 1 once a target found no room
  Status failure;            // the first failure: the statement reads no further
};
Stmt st;

void fail(int error_number) {
  if (st.failure.ok()) st.failure = Status::error(error_number, StmtKind::kRead, st.name);
}

// Fails the statement; false, for the callers that stop there.
bool failed(int error_number) {
  fail(error_number);
  return false;
}

// --- the record of the statement (console line or character variable) ---

// Once the statement has failed, every field and line ends at once.
int peek() {
  if (!st.failure.ok()) return '\n';
  if (!st.console) {
    return st.var_pos < st.var_len ? static_cast<unsigned char>(st.var[st.var_pos]) : ' ';
  }
  const int c = console_peek();
  if (c >= 0) return c;
  fail(-c);
  return '\n';
}

// Moves past the character peek() returned.
void take() {
  if (!st.failure.ok()) return;
  if (!st.console) {
    if (st.var_pos < st.var_len) ++st.var_pos;
    return;
  }
  if (const int e = console_take()) fail(e);
}

// True at a line end (which fields leave in the record) and, in a variable, past its end,
// where only blanks follow.
bool at_field_end() {
  if (!st.console && st.var_pos >= st.var_len) return true;
  int c = peek();
  return c == '\r' || c == '\n';
}

// --- layout ---

bool parse_count(std::int32_t* out) {
  std::size_t start = st.lpos;
  std::int32_t v = 0;
  while (st.lpos < st.layout.size() && st.layout[st.lpos] >= '0' && st.layout[st.lpos] <= '9') {
    v = v >= kMaxCount / 10 ? kMaxCount : v * 10 + (st.layout[st.lpos] - '0');
    ++st.lpos;
  }
  if (st.lpos == start) return false;
  *out = v;
  return true;
}

void skip_layout_blanks(bool commas) {
  while (st.lpos < st.layout.size()) {
    char c = st.layout[st.lpos];
    if (c != ' ' && c != '\t' && !(commas && c == ',')) break;
    ++st.lpos;
  }
}

// Advances to the next data item, carrying out the skips before it. False when the final
// parenthesis is reached, or the statement failed. Syntax errors are raised only where
// interpretation meets them.
bool next_item(Item* item) {
  if (!st.failure.ok()) return false;
  if (st.repeats_left > 0) {
    --st.repeats_left;
    *item = st.cur;
    return true;
  }
  if (st.lstart == 0) {
    skip_layout_blanks(false);
    if (st.lpos >= st.layout.size() || st.layout[st.lpos] != '(') return failed(kErrBadItem);
    st.lstart = ++st.lpos;
  }
  for (;;) {
    skip_layout_blanks(true);
    if (st.lpos >= st.layout.size()) return failed(kErrBadItem);
    if (st.layout[st.lpos] == ')') return false;
    std::int32_t count = 1;
    bool has_count = parse_count(&count);
    if (st.lpos >= st.layout.size()) return failed(kErrBadItem);
    char c = to_upper(st.layout[st.lpos++]);
    if (c == '\'' || c == '"' || (c == 'H' && has_count)) return failed(kErrLiteralInInput);
    if (c == 'X') {
      for (std::int32_t i = 0; i < count && !at_field_end(); ++i) take();
      if (!st.failure.ok()) return false;
      continue;
    }
    if (c != 'A' && c != 'I' && c != 'Z') return failed(kErrBadItem);
    std::int32_t width = 0;
    if (!parse_count(&width) && c != 'A') return failed(kErrNoWidth);
    if (count == 0) continue;
    st.cur = {c, width};
    st.repeats_left = count - 1;
    *item = st.cur;
    return true;
  }
}

// --- fields ---

void read_a(char* t, std::size_t len, std::int32_t width) {
  std::size_t want = len;
  if (width > 0) {
    auto w = static_cast<std::size_t>(width);
    if (w < len) {
      want = w;
    } else {
      for (std::size_t skip = w - len; skip > 0 && !at_field_end(); --skip) take();
    }
  }
  std::size_t n = 0;
  for (; n < want && !at_field_end(); ++n) {
    t[n] = static_cast<char>(peek());
    take();
  }
  if (len > n) std::memset(t + n, ' ', len - n);
}

int digit_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

// Converts the kept characters of an I or Z field one at a time. The first conversion error
// is kept and raised at the end, so a Ctrl-Z later in the field still ends the run as the end
// of input.
struct Converter {
  bool hex = false;  // Z: a bit pattern of hexadecimal digits
  bool started = false;
  bool negative = false;
  bool radix_form = false;
  std::uint64_t radix = 10;
  std::uint64_t value = 0;  // saturates just above 32 bits
  int error = 0;

  void feed(int c) {
    if (error != 0) return;
    bool first = !started;
    started = true;
    if (hex) {
      int d = digit_value(c);
      if (d < 0 || d > 15) {
        error = kErrBadHex;
        return;
      }
      value = ((value << 4) | static_cast<std::uint64_t>(d)) & 0xFFFFFFFFu;
      return;
    }
    if (first && (c == '+' || c == '-')) {
      negative = c == '-';
      return;
    }
    if (c == '#') {
      if (radix_form) {
        error = kErrSecondHash;
        return;
      }
      radix_form = true;
      radix = value == 0 ? 16 : value;  // "#" alone, or after zeros, means hexadecimal
      value = 0;
      if (radix < 2 || radix > 36) error = kErrBadRadix;
      return;
    }
    int d = digit_value(c);
    if (d < 0 || static_cast<std::uint64_t>(d) >= radix) {
      error = kErrBadChar;
      return;
    }
    value = value * radix + static_cast<std::uint64_t>(d);
    if (value > 0xFFFFFFFFu) value = std::uint64_t{1} << 32;
  }

  // The field's value in *out, or the error number of the first fault (0 when none).
  int finish(std::int32_t* out) const {
    if (error != 0) return error;
    // A radix form other than 10 may fill all 32 bits; decimal stops at the int32 range.
    bool bit_pattern = hex || (radix_form && radix != 10);
    std::uint64_t limit = bit_pattern ? 0xFFFFFFFFu : negative ? 0x80000000u : 0x7FFFFFFFu;
    if (value > limit) return kErrIntOverflow;
    auto bits = static_cast<std::uint32_t>(value);
    if (negative) bits = 0u - bits;
    *out = static_cast<std::int32_t>(bits);
    return 0;
  }
};

std::int32_t read_number(std::int32_t width, bool hex) {
  Converter cv;
  cv.hex = hex;
  for (std::int32_t i = 0; i < width && !at_field_end(); ++i) {
    int c = peek();
    take();
    if (c == ',') break;
    if (c == ' ' || c == '\t') continue;
    if (c == kCtrlZ) {
      fail(kErrEndOfFile);
      break;
    }
    cv.feed(c);
  }
  std::int32_t value = 0;
  if (!st.failure.ok()) return 0;
  if (int e = cv.finish(&value)) fail(e);
  return value;
}

void begin(bool console, std::string_view layout) {
  st.console = console;
  st.name = console ? "CON" : "internal";
  st.layout = layout;
  st.lpos = 0;
  st.lstart = 0;
  st.repeats_left = 0;
  st.var = nullptr;
  st.var_len = 0;
  st.var_pos = 0;
  st.ntargets = 0;
  st.failure = {};
}

void add_target(const ReadTarget& t) {
  if (st.ntargets < kMaxTargets) st.targets[st.ntargets] = t;
  st.ntargets = std::min(st.ntargets + 1, kMaxTargets + 1);
}

}  // namespace

void input_init() {
  begin(false, {});
}

void read_begin_console(std::string_view layout) {
  begin(true, layout);
}

void read_begin_internal(const char* var, std::size_t len, std::string_view layout) {
  begin(false, layout);
  st.var = var;
  st.var_len = len;
}

void read_text(char* target, std::size_t len) {
  add_target({target, len, nullptr});
}

void read_int4(std::int32_t* target) {
  add_target({nullptr, 0, target});
}

Status read_end() {
  if (st.ntargets > kMaxTargets) fail(kErrRecordOverflow);
  if (st.console && st.failure.ok()) st.failure = console_settle_for_read();
  for (const ReadTarget& t : std::span(st.targets, st.ntargets)) {
    Item item;
    while (st.failure.ok() && !next_item(&item)) {
      if (!st.failure.ok()) break;
      // Targets left at the final parenthesis: the layout starts over on the next record.
      if (!st.console) {
        fail(kErrEndOfFile);
      } else if (const int e = console_drop_line()) {
        fail(e);
      }
      st.lpos = st.lstart;
    }
    if (!st.failure.ok()) break;
    if (item.kind == 'A') {
      if (t.text == nullptr) fail(kErrNumberForText);
      if (t.text != nullptr) read_a(t.text, t.len, item.width);
    } else {
      if (t.text != nullptr) fail(kErrTextForNumber);
      const std::int32_t value = read_number(item.width, item.kind == 'Z');
      // A field that fails leaves its target as it was.
      if (t.text == nullptr && st.failure.ok()) *t.number = value;
    }
  }
  // Items after the last target run up to the next data item or the final parenthesis.
  Item rest;
  (void)next_item(&rest);
  if (st.console && st.failure.ok()) {
    if (const int e = console_read_done()) fail(e);
  }
  const Status s = st.failure;
  begin(false, {});
  return s;
}

std::optional<std::int32_t> whole_number(std::string_view text, std::size_t width) {
  Converter cv;
  bool digits = false;
  std::size_t i = 0;
  for (; i < text.size() && i < width; ++i) {
    const char c = text[i];
    if (c == ',') {
      ++i;
      break;
    }
    if (c == ' ' || c == '\t') continue;
    if (c == kCtrlZ) return std::nullopt;
    cv.feed(static_cast<unsigned char>(c));
    digits = c == '#' ? false : digits || digit_value(static_cast<unsigned char>(c)) >= 0;
  }
  // What the field does not take must be blank.
  for (; i < text.size(); ++i) {
    if (text[i] != ' ') return std::nullopt;
  }
  std::int32_t value = 0;
  if (!digits || cv.finish(&value) != 0) return std::nullopt;
  return value;
}

}  // namespace rt
