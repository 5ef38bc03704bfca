#include "chunkit_/split.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chunkit_/modes.h"
#include "chunkit_/records.h"
#include "chunkit_/state.h"
#include "chunkit_/when.h"
#include "runtime/console.h"
#include "runtime/devices.h"
#include "runtime/errors.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

using Key = SplitBy::Key;

struct Piece {
  std::int64_t key;          // the day (from 1970), the type, or the piece's number from 0
  std::int32_t first, last;  // its first and last records
  std::int64_t records, bytes;
  char name[kNameLen + 1];  // NUL-ended
};

static_assert(kMostPieces == 10000 && rt::kNameMax == 259, "the messages name them");

// The pieces are found by their key in a table at most a third full.
constexpr int kSlotBits = 15;
constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
static_assert(kSlots >= 3 * kMostPieces);

// The plan's memory, taken by the first split of the process and kept: a report may name a
// piece until the process ends.
struct Tables {
  Piece pieces[kMostPieces];
  std::uint16_t slots[kSlots];  // a piece's index + 1; 0 for none
  std::uint16_t order[kMostPieces];
};
Tables* g_tables = nullptr;

struct Plan {
  SplitBy by;
  std::string pattern;
  std::size_t pieces = 0;    // planned
  std::size_t made = 0;      // created by this run, and not removed
  std::size_t found = 0;     // the piece found last
  std::int64_t kept = 0;     // records planned into pieces
  std::int64_t untimed = 0;  // records of a split by day without a time
  bool writing = false;
  std::int64_t key = 0;  // the key of the piece being written
};
Plan g;

std::size_t slot_of(std::int64_t key) {
  return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15u) >>
                                  (64 - kSlotBits));
}

// The piece of that key, a new one at the record in hand if there is none yet; null when there
// are kMostPieces already.
Piece* piece_of(std::int64_t key) {
  Piece* const pieces = g_tables->pieces;
  if (g.pieces > 0 && pieces[g.found].key == key) return &pieces[g.found];
  std::size_t slot = slot_of(key);
  for (; g_tables->slots[slot] != 0; slot = (slot + 1) % kSlots) {
    const std::size_t i = g_tables->slots[slot] - 1u;
    if (pieces[i].key == key) return &pieces[g.found = i];
  }
  if (g.pieces == kMostPieces) return nullptr;
  g.found = g.pieces++;
  g_tables->slots[slot] = static_cast<std::uint16_t>(g.pieces);
  pieces[g.found] = {key, irec, irec, 0, 0, {}};
  return &pieces[g.found];
}

// The key of the record in hand by day or by type into *key; false for a record with no time in
// a split by day.
bool key_in_hand(std::int64_t* key) {
  if (g.by.key == Key::kType) {
    *key = rectype;
    return true;
  }
  if (when == kNoTime) return false;
  *key = day_of(when);
  return true;
}

// The fields of a pattern: what each holds, and the longest text it makes.
bool of_day(char f) {
  return std::strchr("Yyjmd", f) != nullptr;
}
std::size_t widest(char f) {
  switch (f) {
    case 'Y':
    case 't':
      return 4;
    case 'j':
      return 3;
    case 'n':
      return 5;  // kMostPieces
    case '%':
      return 1;
    default:
      return 2;
  }
}

// Writes the name of piece i into its record: the pattern with its fields filled in, without
// blanks at either end.
void name_piece(std::size_t i) {
  Piece& p = g_tables->pieces[i];
  const Date d = g.by.key == Key::kDay ? date_of(p.key * 86400) : Date{};
  char* out = p.name;
  std::size_t n = 0;
  const std::string_view pat = g.pattern;
  for (std::size_t k = 0; k < pat.size(); ++k) {
    if (pat[k] != '%') {
      out[n++] = pat[k];
      continue;
    }
    const char f = pat[++k];
    std::int64_t v = 0;
    int width = 2;
    switch (f) {
      case 'Y':
        v = d.year, width = 4;
        break;
      case 'y':
        v = d.year % 100;
        break;
      case 'j':
        v = d.yday, width = 3;
        break;
      case 'm':
        v = d.month;
        break;
      case 'd':
        v = d.mday;
        break;
      case 't':
        v = p.key, width = 0;
        break;
      case 'n':
        v = static_cast<std::int64_t>(i) + 1, width = 3;
        break;
      default:
        out[n++] = '%';
        continue;
    }
    n += static_cast<std::size_t>(
        std::snprintf(out + n, sizeof p.name - n, "%0*lld", width, static_cast<long long>(v)));
  }
  const std::string_view name = rt::trim({out, n});
  std::memmove(out, name.data(), name.size());
  out[name.size()] = '\0';
}

// Names every piece, and makes sure each name is one piece's and free.
rt::Status name_pieces() {
  std::uint16_t* const order = g_tables->order;
  for (std::size_t i = 0; i < g.pieces; ++i) {
    name_piece(i);
    order[i] = static_cast<std::uint16_t>(i);
  }
  const Piece* const pieces = g_tables->pieces;
  const auto name = [&](std::uint16_t i) { return pieces[i].name; };
  std::sort(order, order + g.pieces,
            [&](std::uint16_t a, std::uint16_t b) { return std::strcmp(name(a), name(b)) < 0; });
  for (std::size_t k = 1; k < g.pieces; ++k) {
    if (std::strcmp(name(order[k - 1]), name(order[k])) == 0) {
      return usage_error(std::string("--split: two pieces would be named ") + name(order[k]));
    }
  }
  for (std::size_t i = 0; i < g.pieces; ++i) {
    const std::string_view n = pieces[i].name;
    // A device would take a piece's bytes away, under whatever name.
    if (rt::system_device(n)) return rt::Status::error(rt::kErrDeviceKind, rt::StmtKind::kOpen, n);
    if (rt::name_taken(n)) return rt::Status::error(rt::kErrExists, rt::StmtKind::kOpen, n);
  }
  return {};
}

// Creates piece i, writes its records and closes it.
rt::Status write_piece(std::size_t i, rt::Status (*pass)()) {
  Piece& p = g_tables->pieces[i];
  rt::OpenSpec create;
  create.status = "NEW";
  create.form = "binary";
  RETURN_IF_FAILED(rt::open_unit(kOutUnit, p.name, create));
  g.made = i + 1;
  const std::int64_t span = std::int64_t{p.last} - p.first + 1;
  if (p.records == span && p.bytes == span * kRecordSize) {
    // Whole records one after another: the stretch of the input they fill.
    RETURN_IF_FAILED(rt::binwrite_stretch(kOutUnit, kInUnit,
                                          (std::int64_t{p.first} - 1) * kRecordSize, p.bytes));
  } else {
    g.key = p.key;
    wanted_first = p.first;
    wanted_last = p.last;
    RETURN_IF_FAILED(pass());
    p.records = copied_records;
    p.bytes = copied_bytes;
  }
  return rt::close_unit(kOutUnit);
}

// Writes every piece, then the manifest and the count of records in no piece.
rt::Status write_pieces(rt::Status (*pass)()) {
  for (std::size_t i = 0; i < g.pieces; ++i) RETURN_IF_FAILED(write_piece(i, pass));
  for (std::size_t i = 0; i < g.pieces; ++i) {
    const Piece& p = g_tables->pieces[i];
    RETURN_IF_FAILED(file_line(p.name, p.records, p.bytes));
  }
  RETURN_IF_FAILED(rt::console_flush());
  return g.untimed > 0 ? untimed_line(g.untimed) : rt::Status{};
}

// The end of a split that failed or was interrupted: every piece it made is removed, the one
// being written once it is closed.
rt::Status undo(rt::Status s) {
  (void)rt::close_unit(kOutUnit);
  for (std::size_t i = 0; i < g.made; ++i) rt::remove_file(g_tables->pieces[i].name);
  g.made = 0;
  return s;
}

}  // namespace

std::string pattern_fault(std::string_view pattern, SplitBy by) {
  char count[24];
  std::snprintf(count, sizeof count, "%lld", static_cast<long long>(by.count));
  const std::string by_text = by.key == Key::kDay ? "day" : by.key == Key::kType ? "type" : count;
  std::size_t longest = 0;
  for (std::size_t k = 0; k < pattern.size(); ++k, ++longest) {
    if (pattern[k] != '%') continue;
    if (k + 1 == pattern.size())
      return "--split: a pattern that ends in %: " + std::string(pattern);
    const char f = pattern[++k];
    if (std::strchr("Yyjmdtn%", f) == nullptr) {
      return std::string("--split: no field %") + f +
             " (fields: %Y %y %j %m %d %t %n %%): " + std::string(pattern);
    }
    if ((of_day(f) && by.key != Key::kDay) || (f == 't' && by.key != Key::kType)) {
      return "--split " + by_text + ": %" + f +
             " is not the same for every record of a piece: " + std::string(pattern);
    }
    longest += widest(f) - 1;
  }
  if (longest > rt::kNameMax) {
    return "--split: the pattern may make names longer than 259 characters: " +
           std::string(pattern);
  }
  return {};
}

rt::Status split_begin(SplitBy by, std::string_view pattern) {
  if (g_tables == nullptr) {
    g_tables = static_cast<Tables*>(std::malloc(sizeof(Tables)));
    if (g_tables == nullptr) {
      return rt::Status::error(rt::kErrNoMemory, rt::StmtKind::kGeneral, {});
    }
  }
  std::fill(std::begin(g_tables->slots), std::end(g_tables->slots), std::uint16_t{0});
  g = Plan{};
  g.by = by;
  g.pattern = pattern;
  return {};
}

bool split_by_day() {
  return g.by.key == Key::kDay;
}

bool split_planning() {
  return !g.writing;
}

rt::Status split_plan(std::int64_t bytes) {
  std::int64_t key = 0;
  if (g.by.key == Key::kCount) {
    key = g.kept / g.by.count;
  } else if (!key_in_hand(&key)) {
    ++g.untimed;
    return {};
  }
  Piece* p = piece_of(key);
  if (p == nullptr) return usage_error("--split: the records make more than 10000 pieces");
  ++g.kept;
  ++p->records;
  p->bytes += bytes;
  p->last = irec;
  return {};
}

bool split_takes() {
  // A piece's pass by count meets only its own records.
  std::int64_t key = 0;
  return g.by.key == Key::kCount || (key_in_hand(&key) && key == g.key);
}

rt::Status split_write(rt::Status (*pass)()) {
  g.writing = true;
  RETURN_IF_FAILED(name_pieces());
  const rt::Status s = write_pieces(pass);
  return s.ok() ? rt::Status::stop({}) : undo(s);
}

}  // namespace chunkit
