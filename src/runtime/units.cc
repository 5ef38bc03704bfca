#include "runtime/units.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <utility>

#include "platform/platform.h"
#include "runtime/args.h"
#include "runtime/console.h"
#include "runtime/devices.h"
#include "runtime/errors.h"
#include "runtime/stop.h"

namespace rt {
namespace {

using platform::Access;
using platform::Err;

constexpr std::int32_t kMaxUnit = 32767;
constexpr std::size_t kPromptLineMax = 260;

// kText is a formatted connection to a device: records go straight through.
enum class Kind { kText, kFormatted, kBinary, kUnformatted };
enum class Status { kOld, kNew, kScratch, kReplace, kUnknown };

// A unit's block comes from malloc, which answers a lack of memory with null; operator new
// would throw, and a throw needs memory too.
struct FreeBlock {
  void operator()(char* p) const { std::free(p); }
};
using Block = std::unique_ptr<char[], FreeBlock>;

struct Unit {
  // Reading: the block holds file bytes [file_pos - end, file_pos) and pos is the next one.
  // Writing: the block holds bytes [base, pos) not yet written, which belong at file_pos.
  Block block;  // allocated at the open, released at the close
  std::size_t base = 0;
  std::size_t pos = 0;
  std::size_t end = 0;
  std::int64_t file_pos = 0;
  platform::Handle handle = platform::kNoHandle;
  platform::FileId id;
  const char* canonical = nullptr;  // devices only
  std::size_t name_len = 0;
  std::int32_t number = 0;
  Kind kind = Kind::kFormatted;
  Device device = Device::kNone;
  bool used = false;
  bool has_id = false;
  bool at_end = false;
  bool writing = false;
  bool scratch = false;
  bool read_only = false;
  bool created = false;  // this run made the file
  char name[kNameMax + 1] = {};

  std::string_view unit_name() const { return {name, name_len}; }
};

Unit g_units[kUnitSlots];

// Whether the last explicit open named an access mode; implicit opens then try read-write only.
bool g_access_named = false;

// The binary statement under way. It starts at its first item: the unit is looked up (or
// connected) and checked then.
struct Statement {
  std::int32_t number = 0;
  Unit* unit = nullptr;
  bool status_wanted = false;
  bool reading = false;
  std::int32_t status = 0;
  std::size_t placed = 0;  // bytes a read statement has placed
};
Statement g_stmt;

platform::Platform& os() {
  return platform::current();
}

std::string_view trim(std::string_view s) {
  std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The name an open works on: at most kNameMax characters without leading and trailing blanks,
// ended by a NUL for the system. A report of a failed open names it.
struct Name {
  char text[kNameMax + 1] = {};
  std::size_t len = 0;

  void set(std::string_view s) {
    s = trim(s.substr(0, std::min(s.size(), kNameMax)));
    std::copy(s.begin(), s.end(), text);
    cut(s.size());
  }
  void cut(std::size_t n) {
    len = n;
    text[n] = '\0';
  }
  std::string_view view() const { return {text, len}; }
};

// A value matches a keyword when it starts with the keyword (letters in any case) and has only
// blanks after it. Returns the index of the matching keyword, or -1.
int match_keyword(std::string_view value, std::initializer_list<std::string_view> keywords) {
  int index = 0;
  for (std::string_view k : keywords) {
    if (value.size() >= k.size() && equal_nocase(value.substr(0, k.size()), k) &&
        value.find_first_not_of(' ', k.size()) == std::string_view::npos) {
      return index;
    }
    ++index;
  }
  return -1;
}

bool is_fixed_console(std::int32_t unit) {
  return unit == 0 || unit == 5 || unit == 6 || unit == kDefaultUnit;
}

// The unit found last for each of a few classes of unit numbers. Statements on a unit come in
// runs, or alternate between a few units, so the table is seldom searched. An entry is only a
// hint: it counts when the slot it names still holds that unit.
Unit* g_found[8];

Unit* find_unit(std::int32_t unit) {
  Unit*& hint = g_found[static_cast<std::uint32_t>(unit) % std::size(g_found)];
  if (hint != nullptr && hint->used && hint->number == unit) return hint;
  for (Unit& u : g_units) {
    if (u.used && u.number == unit) return hint = &u;
  }
  return nullptr;
}

bool is_std_handle(platform::Handle h) {
  platform::Platform& p = os();
  return h == p.std_handle(platform::StdStream::kIn) ||
         h == p.std_handle(platform::StdStream::kOut) ||
         h == p.std_handle(platform::StdStream::kErr);
}

int open_error(Err e) {
  switch (e) {
    case Err::kNotFound:
      return kErrNotFound;
    case Err::kExists:
      return kErrExists;
    case Err::kAccessDenied:
      return kErrDenied;
    case Err::kTooManyFiles:
      return kErrTooManyFiles;
    case Err::kDiskFull:
      return kErrDiskFull;
    case Err::kOk:
    case Err::kInvalid:
    case Err::kIo:
    case Err::kInterrupted:
      break;
  }
  return kErrInvalidOpen;
}

// "Disk full" only when the system said there is no room; every other failure is plain.
int write_error(Err e) {
  return e == Err::kDiskFull ? kErrDiskFull : kErrWriteFailed;
}

// The error number of a failed write, or 0 for a write cut short by an interrupt while the
// process is ending: the bytes the system accepted stay, and the signal ends the process.
int failed_write(Err e) {
  if (e == Err::kInterrupted) {
    check_interrupt();  // ends the run by the signal unless it is ending already
    return 0;
  }
  return write_error(e);
}

// Bytes a unit writes straight from the block of a unit that reads: a run of items read in place
// and written unchanged, which is not copied into the writing unit's block. The run stays valid
// while the reading unit's block keeps its bytes, so it goes to the file before that block
// changes (the next block read, a write, a close), and before anything else the writing unit
// does.
struct Lent {
  Unit* to = nullptr;  // null: nothing is lent
  const Unit* from = nullptr;
  const char* data = nullptr;
  std::size_t len = 0;
};
Lent g_lent;
// Lent runs are cloned (they share the input's storage) until the file system first refuses.
bool g_cloning = true;

// Clones the run lent to u where the file system can. Returns 1 when it did, 0 when it cannot
// (cloning is off from then on, and the run still lent), or an error number's negative.
int clone_lent(Unit& u) {
  if (!g_cloning) return 0;
  check_interrupt();
  const Unit& from = *g_lent.from;
  const std::int64_t at =
      from.file_pos - static_cast<std::int64_t>(from.end) + (g_lent.data - from.block.get());
  Err e = os().clone_range(from.handle, at, u.handle, u.file_pos, g_lent.len);
  if (e == Err::kInvalid) {
    g_cloning = false;
    return 0;
  }
  if (e == Err::kOk) {
    u.file_pos += static_cast<std::int64_t>(g_lent.len);
    g_lent = {};
    // Writes go on after the clone.
    e = os().seek(u.handle, u.file_pos);
    if (e == Err::kOk) return 1;
  }
  return -failed_write(e);
}

// Writes the run lent to u, if any. Returns 0 or an error number, as flush_block does.
int flush_lent(Unit& u) {
  if (g_lent.to != &u) return 0;
  if (const int c = clone_lent(u); c != 0) return c > 0 ? 0 : -c;
  // An interrupt ends the run here, and the run's end writes the lent bytes.
  check_interrupt();
  const Lent lent = g_lent;
  g_lent = {};
  platform::IoResult r = os().write(u.handle, lent.data, lent.len);
  u.file_pos += static_cast<std::int64_t>(r.count);
  if (r.err != Err::kOk || r.count != lent.len) return failed_write(r.err);
  return 0;
}

// Before the block of `from` changes: the run lent from it goes to its file. A failure is
// reported as the failed write of the unit that writes it.
void release_lent_from(const Unit& from, StmtKind kind) {
  if (g_lent.from != &from) return;
  Unit& to = *g_lent.to;
  if (int e = flush_lent(to)) report_runtime_error(e, kind, to.unit_name());
}

// Before `from` reads its next block: the block holding the run lent from it becomes the block
// of the unit that writes the run, with the run as its pending bytes, and `from` reads into that
// unit's block, which holds nothing. The run is written when that unit's block would be, and
// neither block is copied.
void hand_over_lent(Unit& from) {
  if (g_lent.from != &from) return;
  Unit& to = *g_lent.to;
  if (const int c = clone_lent(to); c != 0) {
    if (c < 0) report_runtime_error(-c, StmtKind::kWrite, to.unit_name());
    return;
  }
  std::swap(from.block, to.block);
  to.base = static_cast<std::size_t>(g_lent.data - to.block.get());
  to.pos = to.base + g_lent.len;
  g_lent = {};
}

// Hands the block's pending bytes to the file, after the run lent to the unit. On failure the
// bytes not written are dropped, so the close at the end of the run does not fail over them a
// second time.
int flush_block(Unit& u) {
  if (int e = flush_lent(u)) return e;
  if (!u.writing || u.pos == u.base) return 0;
  check_interrupt();
  const std::size_t n = u.pos - u.base;
  const char* from = u.block.get() + u.base;
  u.pos = 0;
  u.base = 0;
  platform::IoResult r = os().write(u.handle, from, n);
  u.file_pos += static_cast<std::int64_t>(r.count);
  if (r.err != Err::kOk || r.count != n) return failed_write(r.err);
  return 0;
}

// Devices are streams: there is nothing to cut and no position to return to.
bool is_seekable(const Unit& u) {
  return u.device == Device::kNone || u.device == Device::kNamed;
}

// The first write after reading cuts the file where the reading stopped.
int start_writing(Unit& u) {
  if (u.writing) return 0;
  release_lent_from(u, StmtKind::kWrite);
  if (u.read_only) return kErrWriteFailed;
  std::int64_t here = u.file_pos - static_cast<std::int64_t>(u.end - u.pos);
  u.writing = true;
  u.pos = 0;
  u.end = 0;
  u.file_pos = here;
  if (!is_seekable(u)) return 0;
  Err e = os().seek(u.handle, here);
  if (e == Err::kOk) e = os().truncate_here(u.handle);
  return e == Err::kOk ? 0 : write_error(e);
}

int put_bytes(Unit& u, const char* p, std::size_t n) {
  if (int e = flush_lent(u)) return e;
  if (u.device == Device::kConsole) {
    console_put({p, n});
    return 0;
  }
  if (u.device == Device::kErr) {
    check_interrupt();
    platform::IoResult r = console_write_error({p, n});
    return r.err == Err::kOk && r.count == n ? 0 : failed_write(r.err);
  }
  char* block = u.block.get();
  while (n > 0) {
    std::size_t take = std::min(n, kFileBlockSize - u.pos);
    std::memcpy(block + u.pos, p, take);
    u.pos += take;
    p += take;
    n -= take;
    if (u.pos == kFileBlockSize) {
      if (int e = flush_block(u)) return e;
    }
  }
  return 0;
}

// A unit that was written is read from where the writing stopped: its block goes to the file
// first.
int start_reading(Unit& u) {
  if (!u.writing) return 0;
  int e = flush_block(u);
  u.writing = false;
  u.pos = 0;
  u.end = 0;
  return e;
}

// Reads the next block into a unit whose block is used up. Returns 0, kErrEndOfFile at the end of
// the file, or kErrReadFailed.
int refill(Unit& u) {
  hand_over_lent(u);
  check_interrupt();
  platform::IoResult r = os().read(u.handle, u.block.get(), kFileBlockSize);
  // An interrupt is not a read error: the run ends by the signal.
  if (r.err == Err::kInterrupted) check_interrupt();
  if (r.err != Err::kOk) return kErrReadFailed;
  if (r.count == 0) {
    u.at_end = true;
    return kErrEndOfFile;
  }
  u.pos = 0;
  u.end = r.count;
  u.file_pos += static_cast<std::int64_t>(r.count);
  return 0;
}

// Fills p with n bytes. Returns 0, kErrEndOfFile when the file ended first (the bytes before the
// end are placed), or an error number. *placed grows by the number of bytes placed.
int get_bytes(Unit& u, char* p, std::size_t n, std::size_t* placed) {
  if (int e = start_reading(u)) return e;
  while (n > 0) {
    if (u.pos == u.end) {
      if (int e = refill(u)) return e;
    }
    std::size_t take = std::min(n, u.end - u.pos);
    std::memcpy(p, u.block.get() + u.pos, take);
    u.pos += take;
    p += take;
    n -= take;
    *placed += take;
  }
  return 0;
}

// The identity of an existing file of the given name, found by opening it briefly.
bool probe_identity(const char* name, platform::FileId* id) {
  for (Access a : {Access::kRead, Access::kWrite}) {
    platform::OpenResult r = os().open_existing(name, a, platform::Share::kDenyNone);
    if (r.err != Err::kOk) continue;
    bool known = os().identity(r.handle, id);
    (void)os().close(r.handle);
    return known;
  }
  return false;
}

// Writes out what the unit still holds, closes its handle, deletes a scratch file and frees
// the slot and its block. A failed write-out, or a failed close of a unit being written (a late
// write failure), ends the run with a report of the close, made after the slot is free.
// When the run failed, a file it created that received no byte is deleted too: it is the
// run's own, and an empty file left behind would take the name a corrected run asks for.
void close_unit(Unit& u, bool run_failed) {
  release_lent_from(u, StmtKind::kClose);
  int e = 0;
  if (!u.scratch) e = flush_block(u);
  bool remove = u.scratch;
  if (run_failed && u.created && u.file_pos == 0 && u.has_id) {
    // Only the file this unit made, should another have taken its name meanwhile.
    platform::FileId now;
    remove = probe_identity(u.name, &now) && now == u.id;
  }
  if (u.handle != platform::kNoHandle && !is_std_handle(u.handle)) {
    Err closed = os().close(u.handle);
    if (e == 0 && u.writing && !u.scratch && closed != Err::kOk) e = failed_write(closed);
  }
  if (remove) (void)os().remove(u.name);
  u.used = false;
  u.block.reset();
  if (e != 0) report_runtime_error(e, StmtKind::kClose, u.unit_name());
}

// The blank-name rule: the next command-line word, else the console prompt until a non-blank
// line is typed.
void take_blank_name(std::int32_t unit, Name& name) {
  std::string_view word;
  bool have_word = take_next_name(&word);
  if (have_word) name.set(word);
  if (!have_word) console_break_line();
  while (name.len == 0) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, unit).ptr;
    console_put("File name missing or blank - please enter file name\r\nUNIT ");
    console_put({digits, static_cast<std::size_t>(end - digits)});
    console_put("? ");
    console_flush();
    char typed[kPromptLineMax];
    std::size_t n = read_console_line(typed, sizeof typed);
    name.set({typed, std::min(n, sizeof typed)});
  }
}

struct OpenRequest {
  Status status = Status::kUnknown;
  Kind kind = Kind::kFormatted;
  Access access = Access::kReadWrite;
  bool fall_back = true;  // no access named: read-write, then read, then write
  platform::Share share = platform::Share::kDenyNone;
};

// Describes what a unit is connected to, to compare a new connection with it.
struct Target {
  Device device = Device::kNone;
  const char* canonical = nullptr;
  bool has_id = false;
  platform::FileId id;
};

bool same_target(const Target& t, const Unit& u) {
  if (t.device != Device::kNone && t.device != Device::kNull) {
    return u.canonical != nullptr && std::strcmp(t.canonical, u.canonical) == 0;
  }
  return t.has_id && u.has_id && t.id == u.id;
}

Unit* connected_elsewhere(const Target& t, std::int32_t unit) {
  for (Unit& u : g_units) {
    if (u.used && u.number != unit && same_target(t, u)) return &u;
  }
  return nullptr;
}

// Whether `unit` is connected to the target already; *kind receives the connection's kind.
bool connected_here(const Target& t, std::int32_t unit, Kind* kind) {
  if (Unit* u = find_unit(unit)) {
    *kind = u->kind;
    return same_target(t, *u);
  }
  *kind = Kind::kText;
  return is_fixed_console(unit) && t.device == Device::kConsole;
}

// How a unit and its target are connected already: the unit to it (as the kind the open asks
// for, or as another), another unit to it, or nothing.
enum class Connected { kNo, kHere, kHereAsOtherKind, kElsewhere };

Connected connection(const Target& t, std::int32_t unit, Kind kind) {
  Kind here;
  if (connected_here(t, unit, &here)) {
    return here == kind ? Connected::kHere : Connected::kHereAsOtherKind;
  }
  return connected_elsewhere(t, unit) ? Connected::kElsewhere : Connected::kNo;
}

// The result of an open whose target is connected already: the unit keeps its connection (0),
// or the error.
int connected_result(Connected c) {
  switch (c) {
    case Connected::kHereAsOtherKind:
      return kErrOtherKind;
    case Connected::kElsewhere:
      return kErrConnected;
    case Connected::kNo:
    case Connected::kHere:
      break;
  }
  return 0;
}

// One platform open by status; *created tells whether it made the file.
platform::OpenResult open_by_status(const char* name, Status status, Access access,
                                    platform::Share share, bool* created) {
  *created = false;
  if (status == Status::kOld || status == Status::kUnknown) {
    platform::OpenResult r = os().open_existing(name, access, share);
    if (status == Status::kOld || r.err != Err::kNotFound) return r;
  }
  platform::OpenResult r = os().create_new(name, access, share);
  *created = r.err == Err::kOk;
  return r;
}

// *used receives the access of the open that succeeded.
platform::OpenResult open_with_fall_backs(const char* name, const OpenRequest& req, bool* created,
                                          Access* used) {
  *used = req.access;
  if (!req.fall_back) return open_by_status(name, req.status, req.access, req.share, created);
  platform::OpenResult r;
  for (Access a : {Access::kReadWrite, Access::kRead, Access::kWrite}) {
    *used = a;
    r = open_by_status(name, req.status, a, req.share, created);
    if (r.err == Err::kOk || r.err == Err::kInterrupted) break;
  }
  return r;
}

void discard(platform::Handle h, bool created, const char* name) {
  (void)os().close(h);
  if (created) (void)os().remove(name);
}

// Connects `unit` to the file of the (non-blank) name, which becomes the name of the
// connection: a device's canonical form. Returns an error number.
int connect(std::int32_t unit, OpenRequest req, Name& name) {
  if (equal_nocase(name.view(), "USER")) name.set("CON");
  if (std::memchr(name.text, '\0', name.len) != nullptr) return kErrInvalidOpen;

  Target t;
  std::size_t base_len = 0;
  if (const DeviceName* d = device_of_name(name.view(), &base_len)) {
    name.cut(base_len);
    if (req.kind == Kind::kUnformatted) return kErrDeviceKind;
    req.kind = req.kind == Kind::kFormatted ? Kind::kText : Kind::kBinary;
    req.status = Status::kOld;
    t.device = d->device;
    t.canonical = d->canonical;
    if (t.device == Device::kConsole) name.set("CON");
    // The fixed console units hold the console, so no other unit may take it.
    if (t.device == Device::kConsole && !is_fixed_console(unit)) return kErrConnected;
    if (const Connected c = connection(t, unit, req.kind); c != Connected::kNo) {
      return connected_result(c);
    }
  } else if (req.status == Status::kReplace) {
    // A file connected to a unit is never deleted from under it.
    if (probe_identity(name.text, &t.id)) {
      t.has_id = true;
      if (const Connected c = connection(t, unit, req.kind); c != Connected::kNo) {
        return connected_result(c);
      }
    }
    (void)os().remove(name.text);
  }

  platform::Handle h = platform::kNoHandle;
  bool created = false;
  Access access = Access::kReadWrite;
  const char* os_name = name.text;
  switch (t.device) {
    case Device::kConsole:
      h = os().std_handle(platform::StdStream::kIn);
      break;
    case Device::kErr:
      h = os().std_handle(platform::StdStream::kErr);
      break;
    case Device::kNull:
    case Device::kNamed:
    case Device::kNone: {
      if (t.device == Device::kNull) os_name = os().null_device();
      if (t.device == Device::kNamed) os_name = t.canonical;
      platform::OpenResult r = open_with_fall_backs(os_name, req, &created, &access);
      // An open that waited (a FIFO without a writer) and was interrupted ends the run.
      if (r.err == Err::kInterrupted) check_interrupt();
      if (r.err != Err::kOk) return open_error(r.err);
      h = r.handle;
      if (t.device == Device::kNone) {
        t.has_id = os().identity(h, &t.id);
        // Another name of a file that is connected already: the new handle is not needed.
        if (const Connected c = connection(t, unit, req.kind); c != Connected::kNo) {
          discard(h, created, os_name);
          return connected_result(c);
        }
      }
      break;
    }
  }

  if (Unit* old = find_unit(unit)) close_unit(*old, false);
  Unit* slot = nullptr;
  for (Unit& u : g_units) {
    if (!u.used) {
      slot = &u;
      break;
    }
  }
  if (slot == nullptr) {
    if (!is_std_handle(h)) discard(h, created, os_name);
    return kErrTableFull;
  }
  // Text records to the console and to standard error go straight on; every other connection
  // moves its bytes through a block of its own while it is connected.
  Block block;
  if (req.kind != Kind::kText || (t.device != Device::kConsole && t.device != Device::kErr)) {
    block.reset(static_cast<char*>(std::malloc(kFileBlockSize)));
    if (block == nullptr) {
      discard(h, created, os_name);
      return kErrNoMemory;
    }
  }
  Unit& u = *slot;
  u = Unit{};
  u.used = true;
  u.number = unit;
  std::memcpy(u.name, name.text, name.len + 1);
  u.name_len = name.len;
  u.kind = req.kind;
  u.device = t.device;
  u.canonical = t.canonical;
  u.handle = h;
  u.has_id = t.has_id;
  u.id = t.id;
  // A file just made has nothing to cut.
  u.writing = created;
  u.scratch = req.status == Status::kScratch;
  u.read_only = access == Access::kRead;
  u.created = created;
  u.block = std::move(block);
  return 0;
}

// Connects an unconnected unit for a statement, by the blank-name rule. Returns an error number.
// The name taken is left in `name` for a report.
int implicit_open(std::int32_t unit, Kind kind, Status status, Name& name) {
  take_blank_name(unit, name);
  OpenRequest req;
  req.status = status;
  req.kind = kind;
  req.fall_back = !g_access_named;
  return connect(unit, req, name);
}

std::int32_t fail_statement(int n, StmtKind kind, std::string_view name) {
  g_stmt.status = n == kErrAtEnd || n == kErrEndOfFile ? -1 : error_value(n);
  if (!g_stmt.status_wanted) report_runtime_error(n, kind, name);
  return g_stmt.status;
}

std::int32_t fail_unit_statement(int n) {
  return fail_statement(n, g_stmt.reading ? StmtKind::kRead : StmtKind::kWrite,
                        g_stmt.unit->unit_name());
}

void begin_statement(std::int32_t unit, bool status_wanted, bool reading) {
  g_stmt = Statement{};
  g_stmt.number = unit;
  g_stmt.status_wanted = status_wanted;
  g_stmt.reading = reading;
}

std::int32_t start_statement() {
  const std::int32_t unit = g_stmt.number;
  const bool reading = g_stmt.reading;
  Unit* u = find_unit(unit);
  if (u == nullptr) {
    // The console connections are text devices.
    StmtKind kind = reading ? StmtKind::kRead : StmtKind::kWrite;
    if (is_fixed_console(unit)) return fail_statement(kErrNotBinary, kind, "CON");
    Name name;
    if (int n = implicit_open(unit, Kind::kUnformatted, reading ? Status::kOld : Status::kUnknown,
                              name)) {
      return fail_statement(n, StmtKind::kOpen, name.view());
    }
    u = find_unit(unit);
  }
  g_stmt.unit = u;
  if (u->kind != Kind::kBinary && u->kind != Kind::kUnformatted) {
    return fail_unit_statement(kErrNotBinary);
  }
  if (reading && u->at_end) return fail_unit_statement(kErrAtEnd);
  if (!reading) {
    if (int n = start_writing(*u)) return fail_unit_statement(n);
  }
  return 0;
}

}  // namespace

void units_init() {
  for (Unit& u : g_units) u = Unit{};
  g_lent = {};
  g_cloning = true;
  g_stmt = Statement{};
  g_access_named = false;
}

std::int32_t open_unit(std::int32_t unit, std::string_view name, const OpenSpec& given) {
  if (unit < -kMaxUnit || unit > kMaxUnit) return error_value(kErrUnitRange);
  Name opened;
  opened.set(name);
  g_access_named = given.access.has_value();

  OpenRequest req;
  int n = 0;
  if (given.status) {
    constexpr Status kStatus[] = {Status::kOld, Status::kNew, Status::kScratch, Status::kReplace,
                                  Status::kUnknown};
    int i = match_keyword(*given.status, {"OLD", "NEW", "SCRATCH", "REPLACE", "UNKNOWN"});
    if (i < 0) n = kErrInvalidOpen;
    if (i >= 0) req.status = kStatus[i];
  }
  if (given.form) {
    constexpr Kind kKinds[] = {Kind::kFormatted, Kind::kUnformatted, Kind::kBinary};
    int i = match_keyword(*given.form, {"FORMATTED", "UNFORMATTED", "BINARY"});
    if (i < 0) n = kErrInvalidOpen;
    if (i >= 0) req.kind = kKinds[i];
  }
  if (given.access) {
    constexpr Access kAccess[] = {Access::kRead, Access::kWrite, Access::kReadWrite};
    int i = match_keyword(*given.access, {"READ", "WRITE", "READWRITE"});
    if (i < 0) n = kErrInvalidOpen;
    if (i >= 0) req.access = kAccess[i];
    req.fall_back = false;
  }
  if (given.share) {
    constexpr platform::Share kShare[] = {platform::Share::kDenyNone, platform::Share::kCompat,
                                          platform::Share::kDenyRead, platform::Share::kDenyWrite,
                                          platform::Share::kDenyReadWrite};
    int i = match_keyword(*given.share, {"DENYNONE", "COMPAT", "DENYRD", "DENYWR", "DENYRW"});
    if (i < 0) n = kErrInvalidOpen;
    if (i >= 0) req.share = kShare[i];
  }

  if (n == 0) {
    if (opened.len == 0) take_blank_name(unit, opened);
    n = connect(unit, req, opened);
  }
  if (n == 0) return 0;
  if (given.error_return) return error_value(n);
  report_runtime_error(n, StmtKind::kOpen, opened.view());
}

std::int32_t binread_begin(std::int32_t unit, bool status_wanted) {
  begin_statement(unit, status_wanted, true);
  return 0;
}

std::int32_t binread_item(void* target, std::size_t length) {
  if (g_stmt.status == 0 && g_stmt.unit == nullptr) start_statement();
  if (g_stmt.status != 0) return g_stmt.status;
  if (int n = get_bytes(*g_stmt.unit, static_cast<char*>(target), length, &g_stmt.placed)) {
    return fail_unit_statement(n);
  }
  return 0;
}

std::int32_t binread_view(void* buffer, std::size_t length, const void** data) {
  *data = buffer;
  if (g_stmt.status == 0 && g_stmt.unit == nullptr) start_statement();
  if (g_stmt.status != 0) return g_stmt.status;
  Unit& u = *g_stmt.unit;
  int n = start_reading(u);
  if (n == 0 && u.pos == u.end) n = refill(u);
  if (n != 0) return fail_unit_statement(n);
  if (u.end - u.pos < length) return binread_item(buffer, length);
  *data = u.block.get() + u.pos;
  u.pos += length;
  g_stmt.placed += length;
  return 0;
}

std::int32_t binread_end() {
  return g_stmt.status;
}

std::size_t binread_placed() {
  return g_stmt.placed;
}

std::int32_t binwrite_begin(std::int32_t unit, bool status_wanted) {
  begin_statement(unit, status_wanted, false);
  return 0;
}

std::int32_t binwrite_item(const void* source, std::size_t length) {
  if (g_stmt.status == 0 && g_stmt.unit == nullptr) start_statement();
  if (g_stmt.status != 0) return g_stmt.status;
  if (int n = put_bytes(*g_stmt.unit, static_cast<const char*>(source), length)) {
    return fail_unit_statement(n);
  }
  return 0;
}

std::int32_t binwrite_lent(const void* source, std::size_t length) {
  if (g_stmt.status == 0 && g_stmt.unit == nullptr) start_statement();
  if (g_stmt.status != 0) return g_stmt.status;
  Unit& u = *g_stmt.unit;
  const char* p = static_cast<const char*>(source);
  if (g_lent.to == &u && g_lent.data + g_lent.len == p) {
    g_lent.len += length;
    // As much as the unit's own block holds goes out now, as that block would when full.
    if (g_lent.len >= kFileBlockSize) {
      if (int n = flush_lent(u)) return fail_unit_statement(n);
    }
    return 0;
  }
  // A new run, from the block of the unit that read it; the bytes pending so far go first.
  const Unit* from = nullptr;
  for (const Unit& r : g_units) {
    const char* block = r.block.get();
    if (r.used && !r.writing && block != nullptr && p >= block && p + length <= block + r.end) {
      from = &r;
    }
  }
  if (from == nullptr || u.block == nullptr) return binwrite_item(source, length);
  if (int n = flush_block(u)) return fail_unit_statement(n);
  g_lent = {&u, from, p, length};
  return 0;
}

std::int32_t binwrite_end() {
  return g_stmt.status;
}

bool is_console_output(std::int32_t unit) {
  if (const Unit* u = find_unit(unit)) return u->device == Device::kConsole;
  return is_fixed_console(unit);
}

void write_text_record(std::int32_t unit, std::string_view record, bool continued) {
  Unit* u = find_unit(unit);
  if (u == nullptr) {
    Name name;
    if (int n = implicit_open(unit, Kind::kFormatted, Status::kUnknown, name)) {
      report_runtime_error(n, StmtKind::kOpen, name.view());
    }
    u = find_unit(unit);
  }
  int n = start_writing(*u);
  if (n == 0) n = put_bytes(*u, record.data(), record.size());
  if (n == 0 && !continued) n = put_bytes(*u, "\r\n", 2);
  if (n != 0) report_runtime_error(n, StmtKind::kWrite, u->unit_name());
}

std::size_t last_component(std::string_view name) {
  return os().last_component(name);
}

std::string_view unit_name(std::int32_t unit) {
  if (const Unit* u = find_unit(unit)) return u->unit_name();
  return is_fixed_console(unit) ? "CON" : "";
}

void close_unit(std::int32_t unit) {
  if (Unit* u = find_unit(unit)) close_unit(*u, false);
}

void close_all_units(bool run_failed) {
  for (Unit& u : g_units) {
    if (u.used) close_unit(u, run_failed);
  }
  console_end_line_for_stop();
  console_close();
}

}  // namespace rt
