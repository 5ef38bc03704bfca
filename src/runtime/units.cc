#include "runtime/units.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "runtime/console.h"
#include "runtime/devices.h"
#include "runtime/errors.h"
#include "runtime/stop.h"
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
  bool status_wanted = false;
  bool reading = false;
  std::int32_t status = 0;
  std::size_t placed = 0;  // bytes a read statement has placed
};
Statement g_stmt;

bool is_binary(const Unit& u) {
  return u.kind == Kind::kBinary || u.kind == Kind::kUnformatted;
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
  if (!is_binary(*u)) return fail_unit_statement(kErrNotBinary);
  if (reading && u->at_end) return fail_unit_statement(kErrAtEnd);
  if (!reading) {
    if (int n = start_writing(*u)) return fail_unit_statement(n);
  }
  return 0;
}

// Starts a statement of one item on the unit.
std::int32_t start_one(std::int32_t unit, bool status_wanted, bool reading) {
  begin_statement(unit, status_wanted, reading);
  return start_statement();
}

}  // namespace

std::span<Unit> unit_slots() {
  return g_units;
}

namespace {
// The unit found last for each of a few classes of unit numbers. Statements on a unit come in
// runs, or alternate between a few units, so the table is seldom searched. An entry is only a
// hint: it counts when the slot it names still holds that unit.
Unit* g_found[8];
}  // namespace

Unit* find_unit(std::int32_t unit) {
  Unit*& hint = g_found[static_cast<std::uint32_t>(unit) % std::size(g_found)];
  if (hint != nullptr && hint->used && hint->number == unit) return hint;
  for (Unit& u : g_units) {
    if (u.used && u.number == unit) return hint = &u;
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
// write failure), ends the run with a report of the close, made after the slot is free.
// When the run failed, a file it created that received no byte is deleted too: it is the
// run's own, and an empty file left behind would take the name a corrected run asks for.
void close_unit(Unit& u, bool run_failed) {
  send_runs_from(u, StmtKind::kClose);
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
  if (e != 0) report_runtime_error(e, StmtKind::kClose, u.unit_name());
}

void units_init() {
  for (Unit& u : g_units) u = Unit{};
  std::fill(std::begin(g_found), std::end(g_found), nullptr);
  g_stmt = Statement{};
  opens_init();
  io_init();
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

std::int32_t binread_end() {
  return g_stmt.status;
}

std::int32_t binread_in_place(std::int32_t unit, char* spare, std::size_t n, InPlace* got) {
  Unit* u = find_unit(unit);
  // The common case, bytes the block of a unit that reads holds already, needs no statement
  // set up: nothing in it can fail.
  if (u == nullptr || u->writing || u->end - u->pos < n || !is_binary(*u)) {
    *got = InPlace{spare, 0, 0};
    if (const std::int32_t s = start_one(unit, true, true)) return s;
    u = g_stmt.unit;
    int e = start_reading(*u);
    got->at = u->file_pos - static_cast<std::int64_t>(u->end - u->pos);
    if (e == 0 && u->pos == u->end) e = refill(*u);
    // Bytes across the end of the block, or of the file, are copied.
    if (e == 0 && u->end - u->pos < n) e = get_bytes(*u, spare, n, &got->placed);
    if (e != 0) return fail_unit_statement(e);
    if (got->placed == n) return 0;
  }
  got->at = u->file_pos - static_cast<std::int64_t>(u->end - u->pos);
  got->data = u->block.get() + u->pos;
  got->placed = n;
  u->pos += n;
  return 0;
}

bool binread_seek(std::int32_t unit, std::int64_t at) {
  Unit* u = find_unit(unit);
  return u != nullptr && is_binary(*u) && seek_to(*u, at);
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

std::int32_t binwrite_end() {
  return g_stmt.status;
}

void binwrite_run(std::int32_t unit, std::int32_t from, std::int64_t at, const void* data,
                  std::size_t n) {
  // Bytes that continue the unit's pending run need no statement set up.
  Unit* u = find_unit(unit);
  if (u != nullptr && u->run.from != nullptr && u->writing) {
    begin_statement(unit, false, false);
    g_stmt.unit = u;
  } else {
    start_one(unit, false, false);
    u = g_stmt.unit;
  }
  if (int e = write_run(*u, from, at, static_cast<const char*>(data), n)) fail_unit_statement(e);
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
