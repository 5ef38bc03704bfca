// Opening a unit: the specifiers of an open, the blank-name rule, device names, file identity
// (a file is connected to one unit at a time), the access fall-backs, and the open itself.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/platform.h"
#include "runtime/args.h"
#include "runtime/console.h"
#include "runtime/devices.h"
#include "runtime/errors.h"
#include "runtime/text.h"
#include "runtime/unit.h"
#include "runtime/units.h"

namespace rt {
namespace {

using platform::Access;
using platform::Err;

constexpr std::int32_t kMaxUnit = 32767;
constexpr std::size_t kPromptLineMax = 260;

// Whether the last explicit open named an access mode; implicit opens then try read-write only.
bool g_access_named = false;

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
    case Err::kIsFolder:
      return kErrIsFolder;
    case Err::kOk:
    case Err::kInvalid:
    case Err::kIo:
    case Err::kInterrupted:
      break;
  }
  return kErrInvalidOpen;
}

// The blank-name rule: the next command-line word, else the console prompt until a non-blank
// line is typed.
Status take_blank_name(std::int32_t unit, Name& name) {
  std::string_view word;
  bool have_word = take_next_name(&word);
  if (have_word) name.set(word);
  if (!have_word) RETURN_IF_FAILED(console_break_line());
  while (name.len == 0) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, unit).ptr;
    RETURN_IF_FAILED(console_put("File name missing or blank - please enter file name\r\nUNIT "));
    RETURN_IF_FAILED(console_put({digits, static_cast<std::size_t>(end - digits)}));
    RETURN_IF_FAILED(console_put("? "));
    RETURN_IF_FAILED(console_flush());
    char typed[kPromptLineMax];
    std::size_t n = 0;
    RETURN_IF_FAILED(read_console_line(typed, sizeof typed, &n));
    name.set({typed, std::min(n, sizeof typed)});
  }
  return {};
}

// The name of the last open that failed, which its report names.
Name g_failed_name;

struct OpenRequest {
  OpenStatus status = OpenStatus::kUnknown;
  Kind kind = Kind::kFormatted;
  Access access = Access::kReadWrite;
  bool fall_back = true;  // no access named: read-write, then read, then write
  platform::Share share = platform::Share::kDenyNone;
  std::optional<platform::StdStream> standard;
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
  for (Unit& u : unit_slots()) {
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
platform::OpenResult open_by_status(const char* name, OpenStatus status, Access access,
                                    platform::Share share, bool* created) {
  *created = false;
  if (status == OpenStatus::kOld || status == OpenStatus::kUnknown) {
    platform::OpenResult r = os().open_existing(name, access, share);
    if (status == OpenStatus::kOld || r.err != Err::kNotFound) return r;
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
// connection: a device's canonical form.
Status connect(std::int32_t unit, OpenRequest req, Name& name) {
  const auto fail = [&name](int n) { return open_failure(n, name); };
  // A target connected already: the unit keeps its connection, or the open fails.
  const auto connected_status = [&fail](Connected c) {
    const int n = connected_result(c);
    return n == 0 ? Status{} : fail(n);
  };
  if (equal_nocase(name.view(), "USER")) name.set("CON");
  if (std::memchr(name.text, '\0', name.len) != nullptr) return fail(kErrInvalidOpen);

  Target t;
  std::size_t base_len = 0;
  if (const DeviceName* d = device_of_name(name.view(), &base_len)) {
    name.cut(base_len);
    if (req.kind == Kind::kUnformatted) return fail(kErrDeviceKind);
    req.kind = req.kind == Kind::kFormatted ? Kind::kText : Kind::kBinary;
    req.status = OpenStatus::kOld;
    t.device = d->device;
    t.canonical = d->canonical;
    if (t.device == Device::kConsole) name.set("CON");
    // The fixed console units hold the console, so no other unit may take it.
    if (t.device == Device::kConsole && !is_fixed_console(unit)) return fail(kErrConnected);
    if (const Connected c = connection(t, unit, req.kind); c != Connected::kNo) {
      return connected_status(c);
    }
  } else if (req.status == OpenStatus::kReplace) {
    // A file connected to a unit is never deleted from under it.
    if (probe_identity(name.text, &t.id)) {
      t.has_id = true;
      if (const Connected c = connection(t, unit, req.kind); c != Connected::kNo) {
        return connected_status(c);
      }
    }
    (void)os().remove(name.text);
  }

  platform::Handle h = platform::kNoHandle;
  bool created = false;
  bool stream = false;
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
      if (req.standard) {
        h = os().std_handle(*req.standard);
        stream = true;
        access = *req.standard == platform::StdStream::kIn ? Access::kRead : Access::kWrite;
        break;
      }
      if (t.device == Device::kNone) stream = names_stream(name.view());
      if (t.device == Device::kNull) os_name = os().null_device();
      if (t.device == Device::kNamed) os_name = t.canonical;
      platform::OpenResult r = open_with_fall_backs(os_name, req, &created, &access);
      // An open that waited (a FIFO without a writer) and was interrupted ends the run.
      if (r.err == Err::kInterrupted) return Status::interrupt();
      if (r.err != Err::kOk) return fail(open_error(r.err));
      h = r.handle;
      if (t.device == Device::kNone) {
        t.has_id = os().identity(h, &t.id);
        // Another name of a file that is connected already: the new handle is not needed.
        if (const Connected c = connection(t, unit, req.kind); c != Connected::kNo) {
          discard(h, created, os_name);
          return connected_status(c);
        }
      }
      break;
    }
  }

  if (Unit* old = find_unit(unit)) {
    if (const Status closed = close_unit(*old, false); !closed.ok()) {
      if (!is_std_handle(h)) discard(h, created, os_name);
      return closed;
    }
  }
  Unit* slot = nullptr;
  for (Unit& u : unit_slots()) {
    if (!u.used) {
      slot = &u;
      break;
    }
  }
  if (slot == nullptr) {
    if (!is_std_handle(h)) discard(h, created, os_name);
    return fail(kErrTableFull);
  }
  // Text records to the console and to standard error go straight on; every other connection
  // moves its bytes through a block of its own while it is connected.
  Block block;
  if (req.kind != Kind::kText || (t.device != Device::kConsole && t.device != Device::kErr)) {
    if (!block.allocate()) {
      discard(h, created, os_name);
      return fail(kErrNoMemory);
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
  // A file just made, and a stream opened to write, have nothing to cut.
  u.writing = created || (stream && access == Access::kWrite);
  u.stream = stream;
  u.scratch = req.status == OpenStatus::kScratch;
  u.read_only = access == Access::kRead;
  u.created = created;
  u.block = std::move(block);
  return {};
}

}  // namespace

void Name::set(std::string_view s) {
  s = trim(s.substr(0, std::min(s.size(), kNameMax)));
  std::copy(s.begin(), s.end(), text);
  cut(s.size());
}

void opens_init() {
  g_access_named = false;
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

bool names_stream(std::string_view name) {
  Name n;
  n.set(name);
  platform::NameInfo info;
  return os().look_up(n.text, &info) && info.stream;
}

bool names_standard(std::string_view name, platform::StdStream s) {
  Name n;
  n.set(name);
  platform::NameInfo info, null;
  platform::FileId id;
  if (!os().look_up(n.text, &info) || !os().identity(os().std_handle(s), &id)) return false;
  return info.id == id && !(os().look_up(os().null_device(), &null) && null.id == id);
}

Status open_failure(int n, const Name& name) {
  g_failed_name.set(name.view());
  return Status::error(n, StmtKind::kOpen, g_failed_name.view());
}

Status implicit_open(std::int32_t unit, Kind kind, OpenStatus status, Name& name) {
  RETURN_IF_FAILED(take_blank_name(unit, name));
  OpenRequest req;
  req.status = status;
  req.kind = kind;
  req.fall_back = !g_access_named;
  return connect(unit, req, name);
}

Status open_unit(std::int32_t unit, std::string_view name, const OpenSpec& given) {
  Name opened;
  opened.set(name);
  if (unit < -kMaxUnit || unit > kMaxUnit) return open_failure(kErrUnitRange, opened);
  g_access_named = given.access.has_value();
  OpenRequest req;
  int n = 0;
  if (given.status) {
    constexpr OpenStatus kStatus[] = {OpenStatus::kOld, OpenStatus::kNew, OpenStatus::kScratch,
                                      OpenStatus::kReplace, OpenStatus::kUnknown};
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

  req.standard = given.standard;
  if (n != 0) return open_failure(n, opened);
  if (opened.len == 0) RETURN_IF_FAILED(take_blank_name(unit, opened));
  return connect(unit, req, opened);
}

}  // namespace rt
