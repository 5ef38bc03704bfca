#include "runtime/units.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "runtime/console.h"
#include "runtime/devices.h"
#include "runtime/errors.h"
#include "runtime/unit.h"

namespace rt {
namespace {

using platform::Err;

Unit g_units[kUnitSlots];

// The binary statement under way. It starts at its first item: the unit is looked up (or
// connected) and checked then.
struct Statement {
  std::int32_t number = 0;
  Unit* unit = nullptr;
  bool reading = false;
  Status status;
  std::size_t placed = 0;  // bytes a read statement has placed
};
Statement g_stmt;

bool is_binary(const Unit& u) {
  return u.kind == Kind::kBinary || u.kind == Kind::kUnformatted;
}

StmtKind stmt_kind() {
  return g_stmt.reading ? StmtKind::kRead : StmtKind::kWrite;
}

Status fail_statement(Status s) {
  g_stmt.status = s;
  return s;
}

Status fail_unit_statement(int n) {
  return fail_statement(Status::error(n, stmt_kind(), g_stmt.unit->unit_name()));
}

void begin_statement(std::int32_t unit, bool reading) {
  g_stmt = Statement{};
  g_stmt.number = unit;
  g_stmt.reading = reading;
}

// The console and standard error take the bytes of a statement at once.
bool is_device_stream(const Unit& u) {
  return u.device == Device::kConsole || u.device == Device::kErr;
}

// Bytes of a write statement on u, through its block, or to the console or standard error.
Status put_statement_bytes(Unit& u, const char* p, std::size_t n) {
  if (u.device == Device::kConsole) return console_put({p, n});
  int e = 0;
  if (u.device == Device::kErr) {
    if (interrupt_pending()) return Status::interrupt();
    platform::IoResult r;
    RETURN_IF_FAILED(console_write_error({p, n}, &r));
    if (r.err != Err::kOk || r.count != n) e = failed_write(r.err);
  } else {
    e = put_bytes(u, p, n);
  }
  return e == 0 ? Status{} : Status::error(e, StmtKind::kWrite, u.unit_name());
}

// A unit about to be written: the runs owed from it go out, and the first write after reading
// cuts the file.
Status begin_writing(Unit& u) {
  if (u.writing) return {};
  RETURN_IF_FAILED(send_runs_from(u, StmtKind::kWrite));
  if (const int n = start_writing(u)) return Status::error(n, StmtKind::kWrite, u.unit_name());
  return {};
}

Status start_statement() {
  const std::int32_t unit = g_stmt.number;
  const bool reading = g_stmt.reading;
  Unit* u = find_unit(unit);
  if (u == nullptr) {
    // The console connections are text devices.
    if (is_fixed_console(unit)) {
      return fail_statement(Status::error(kErrNotBinary, stmt_kind(), "CON"));
    }
    Name name;
    const Status opened = implicit_open(unit, Kind::kUnformatted,
                                        reading ? OpenStatus::kOld : OpenStatus::kUnknown, name);
    if (!opened.ok()) return fail_statement(opened);
    u = find_unit(unit);
  }
  g_stmt.unit = u;
  if (!is_binary(*u)) return fail_unit_statement(kErrNotBinary);
  if (reading && u->at_end) return fail_unit_statement(kErrAtEnd);
  if (!reading) return fail_statement(begin_writing(*u));
  return {};
}

// Starts a statement of one item on the unit.
Status start_one(std::int32_t unit, bool reading) {
  begin_statement(unit, reading);
  return start_statement();
}

}  // namespace

std::span<Unit> unit_slots() {
  return g_units;
}

Unit* g_found[8];

Unit* search_units(std::int32_t unit) {
  for (Unit& u : g_units) {
    if (u.used && u.number == unit) return found_hint(unit) = &u;
  }
  return nullptr;
}

bool is_fixed_console(std::int32_t unit) {
  return unit == 0 || unit == 5 || unit == kConsoleUnit || unit == kDefaultUnit;
}

bool is_std_handle(platform::Handle h) {
  platform::Platform& p = os();
  return h == p.std_handle(platform::StdStream::kIn) ||
         h == p.std_handle(platform::StdStream::kOut) ||
         h == p.std_handle(platform::StdStream::kErr);
}

// Writes out what the unit still holds, closes its handle, deletes a scratch file and frees
// the slot and its block. A failed write-out, or a failed close of a unit being written (a late
// write failure), is returned as a close, after the slot is free; an interrupt that cut the
// write-out short, as an interrupt.
// When the run failed, a file it created that received no byte is deleted too: it is the
// run's own, and an empty file left behind would take the name a corrected run asks for.
Status close_unit(Unit& u, bool run_failed) {
  Status sent = send_runs_from(u, StmtKind::kClose);
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
  u.run = {};
  u.block = Block{};
  if (!sent.ok()) return sent;
  return e == 0 ? Status{} : Status::error(e, StmtKind::kClose, u.unit_name());
}

void units_init() {
  for (Unit& u : g_units) u = Unit{};
  std::fill(std::begin(g_found), std::end(g_found), nullptr);
  g_stmt = Statement{};
  opens_init();
  io_init();
}

void binread_begin(std::int32_t unit) {
  begin_statement(unit, true);
}

Status binread_item(void* target, std::size_t length) {
  if (g_stmt.status.ok() && g_stmt.unit == nullptr) (void)start_statement();
  if (!g_stmt.status.ok()) return g_stmt.status;
  return fail_statement(
      get_bytes(*g_stmt.unit, static_cast<char*>(target), length, &g_stmt.placed));
}

Status binread_end() {
  return g_stmt.status;
}

Status binread_in_place(std::int32_t unit, char* spare, std::size_t n, InPlace* got) {
  Unit* u = find_unit(unit);
  // The common case, bytes the block of a unit that reads holds already, needs no statement
  // set up: nothing in it can fail.
  if (u == nullptr || u->writing || u->end - u->pos < n || !is_binary(*u)) {
    *got = InPlace{spare, 0, 0};
    RETURN_IF_FAILED(start_one(unit, true));
    u = g_stmt.unit;
    Status s;
    if (const int e = start_reading(*u)) s = Status::error(e, StmtKind::kRead, u->unit_name());
    got->at = u->file_pos - static_cast<std::int64_t>(u->end - u->pos);
    if (s.ok() && u->pos == u->end) s = refill(*u);
    // Bytes across the end of the block, or of the file, are copied.
    if (s.ok() && u->end - u->pos < n) s = get_bytes(*u, spare, n, &got->placed);
    if (!s.ok()) return fail_statement(s);
    if (got->placed == n) return {};
  }
  got->at = u->file_pos - static_cast<std::int64_t>(u->end - u->pos);
  got->data = u->block.get() + u->pos;
  got->placed = n;
  u->pos += n;
  return {};
}

Status binread_seek(std::int32_t unit, std::int64_t at, bool* moved) {
  *moved = false;
  Unit* u = find_unit(unit);
  if (u == nullptr || !is_binary(*u)) return {};
  return seek_to(*u, at, moved);
}

void binwrite_begin(std::int32_t unit) {
  begin_statement(unit, false);
}

Status binwrite_item(const void* source, std::size_t length) {
  if (g_stmt.status.ok() && g_stmt.unit == nullptr) (void)start_statement();
  if (!g_stmt.status.ok()) return g_stmt.status;
  return fail_statement(
      put_statement_bytes(*g_stmt.unit, static_cast<const char*>(source), length));
}

Status binwrite_end() {
  return g_stmt.status;
}

Status binwrite_run(std::int32_t unit, std::int32_t from, std::int64_t at, const void* data,
                    std::size_t n) {
  // Bytes that continue the unit's pending run need no statement set up.
  Unit* u = find_unit(unit);
  if (u == nullptr || u->run.from == nullptr || !u->writing) {
    RETURN_IF_FAILED(start_one(unit, false));
    u = g_stmt.unit;
    if (is_device_stream(*u)) {
      return put_statement_bytes(*u, static_cast<const char*>(data), n);
    }
  }
  if (int e = write_run(*u, from, at, static_cast<const char*>(data), n)) {
    return Status::error(e, StmtKind::kWrite, u->unit_name());
  }
  return {};
}

Status binwrite_stretch(std::int32_t unit, std::int32_t from, std::int64_t at, std::int64_t n) {
  RETURN_IF_FAILED(start_one(unit, false));
  if (int e = write_stretch(*g_stmt.unit, *find_unit(from), at, n)) {
    return Status::error(e, StmtKind::kWrite, g_stmt.unit->unit_name());
  }
  return {};
}

bool name_taken(std::string_view name) {
  Name n;
  n.set(name);
  return os().exists(n.text);
}

void remove_file(std::string_view name) {
  Name n;
  n.set(name);
  (void)os().remove(n.text);
}

bool is_console_output(std::int32_t unit) {
  if (const Unit* u = find_unit(unit)) return u->device == Device::kConsole;
  return is_fixed_console(unit);
}

Status write_text_record(std::int32_t unit, std::string_view record, bool continued) {
  Unit* u = find_unit(unit);
  if (u == nullptr) {
    Name name;
    RETURN_IF_FAILED(implicit_open(unit, Kind::kFormatted, OpenStatus::kUnknown, name));
    u = find_unit(unit);
  }
  RETURN_IF_FAILED(begin_writing(*u));
  RETURN_IF_FAILED(put_statement_bytes(*u, record.data(), record.size()));
  if (continued) return {};
  return put_statement_bytes(*u, "\r\n", 2);
}

std::size_t last_component(std::string_view name) {
  return os().last_component(name);
}

std::string_view unit_name(std::int32_t unit) {
  if (const Unit* u = find_unit(unit)) return u->unit_name();
  return is_fixed_console(unit) ? "CON" : "";
}

std::int64_t unit_file_size(std::int32_t unit) {
  const Unit* u = find_unit(unit);
  return u == nullptr || u->stream ? -1 : os().size(u->handle);
}

Status close_unit(std::int32_t unit) {
  if (Unit* u = find_unit(unit)) return close_unit(*u, false);
  return {};
}

std::size_t close_all_units(bool run_failed, Status* failed) {
  std::size_t n = 0;
  for (Unit& u : g_units) {
    if (!u.used) continue;
    const Status s = close_unit(u, run_failed);
    // An interrupt that cut a write-out short ends the run by its signal, without a report.
    if (s.what() != Status::What::kError) continue;
    failed[n++] = s;
    run_failed = true;
  }
  return n;
}

}  // namespace rt
