#include "runtime/layout_compiler.h"

#include <algorithm>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/text.h"

namespace rt::layouts {
namespace {

constexpr std::size_t kCacheEntries = 32;

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
      if (!item(to_lower(t_[i_++]), r, depth, product)) return false;
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

}  // namespace

void cache_init() {
  g_cache_used = 0;
  g_cache_next = 0;
  g_cache_last = 0;
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

const Compiled& compiled(std::string_view text, std::size_t& entry, std::uint64_t& stamp) {
  // The entry still holds the compile the layout remembers, unless another layout took it.
  if (entry > kCacheEntries || g_cache[entry].stamp != stamp) {
    const Compiled& c = compiled(text);
    entry = static_cast<std::size_t>(&c - g_cache);
    stamp = c.stamp;
  }
  return g_cache[entry];
}

}  // namespace rt::layouts
