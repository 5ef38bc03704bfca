// The unit service's own header, shared by its three parts and by nothing else: opening
// (unit_open.cc), block I/O (unit_io.cc), and the unit table with its statements and closing
// (units.cc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/platform.h"
#include "runtime/console.h"
#include "runtime/devices.h"
#include "runtime/status.h"

namespace rt {

// kText is a formatted connection to a device: records go straight through.
enum class Kind { kText, kFormatted, kBinary, kUnformatted };
enum class OpenStatus { kOld, kNew, kScratch, kReplace, kUnknown };

// The name an open works on: at most kNameMax characters without leading and trailing blanks,
// ended by a NUL for the system. A report of a failed open names it.
struct Name {
  char text[kNameMax + 1] = {};
  std::size_t len = 0;

  void set(std::string_view s);
  void cut(std::size_t n) {
    len = n;
    text[n] = '\0';
  }
  std::string_view view() const { return {text, len}; }
};

// A unit's block: kFileBlockSize bytes that begin on a page boundary, so the system moves them
// with whole-page copies. It comes from malloc, which answers a lack of memory with null;
// operator new would throw, and a throw needs memory too.
class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  Block(Block&& b) noexcept : raw_(b.raw_), data_(b.data_) { b.raw_ = b.data_ = nullptr; }
  Block& operator=(Block&& b) noexcept;
  ~Block() { std::free(raw_); }
  // False when there is no memory for it.
  bool allocate();
  char* get() const { return data_; }
  bool empty() const { return data_ == nullptr; }

 private:
  char* raw_ = nullptr;
  char* data_ = nullptr;
};

struct Unit;

// Whole records a writing unit owes its file, as a stretch of another unit's file: bytes
// [at, at + len) of `from`. They go out by a clone of that file's storage, or are written from
// where `from` holds them.
struct Run {
  Unit* from = nullptr;  // null: no run is pending
  std::int64_t at = 0;
  std::size_t len = 0;
};

struct Unit {
  // Reading: the block holds file bytes [file_pos - end, file_pos) and pos is the next one.
  // Writing: the block holds bytes [base, pos) not yet written, which belong at file_pos, after
  // the pending run.
  Block block;  // allocated at the open, released at the close
  std::size_t base = 0;
  std::size_t pos = 0;
  std::size_t end = 0;
  std::int64_t file_pos = 0;
  Run run;
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
  bool stream = false;   // a FIFO, device or socket, or a standard handle: no position, no cut
  char name[kNameMax + 1] = {};

  std::string_view unit_name() const { return {name, name_len}; }
};

inline platform::Platform& os() {
  return platform::current();
}

// --- the unit table (units.cc) ---

std::span<Unit> unit_slots();
// The unit found last for each of a few classes of unit numbers. Statements on a unit come in
// runs, or alternate between a few units, so the table is seldom searched. An entry is only a
// hint: it counts when the slot it names still holds that unit.
extern Unit* g_found[8];
inline Unit*& found_hint(std::int32_t unit) {
  return g_found[static_cast<std::uint32_t>(unit) % 8];
}
// The table searched for a connected unit, or null.
Unit* search_units(std::int32_t unit);
// The connected unit of that number, or null.
inline Unit* find_unit(std::int32_t unit) {
  Unit* hint = found_hint(unit);
  return hint != nullptr && hint->used && hint->number == unit ? hint : search_units(unit);
}
// Units 0, 5 and 6 and the default unit: the console, connected from the start.
bool is_fixed_console(std::int32_t unit);
bool is_std_handle(platform::Handle h);
// Writes out and closes one unit; see units.cc.
Status close_unit(Unit& u, bool run_failed);

// --- opening (unit_open.cc) ---

// Connects an unconnected unit for a statement, by the blank-name rule; the name taken is left
// in `name`.
Status implicit_open(std::int32_t unit, Kind kind, OpenStatus status, Name& name);
// The failure of an open of `name`: the name is kept for the report until the next failed open.
Status open_failure(int n, const Name& name);
// Forgets the access of the last explicit open.
void opens_init();
// The identity of an existing file of the given name, found by opening it briefly.
bool probe_identity(const char* name, platform::FileId* id);

// --- block I/O (unit_io.cc); each returns 0 or an error number (kInterrupted for an interrupt),
// which the statement reports as its own, or a Status where the failure may be another unit's ---

void io_init();
// The error number of a failed write: kInterrupted for a write an interrupt cut short (the
// bytes the system accepted stay).
int failed_write(platform::Err e);
// The first write after reading cuts the file where the reading stopped. The runs owed from the
// unit must have gone out first (send_runs_from).
int start_writing(Unit& u);
// Sends bytes [at, at + n) of from's file to u's file as runs, cloned or read again.
int write_stretch(Unit& u, Unit& from, std::int64_t at, std::int64_t n);
// A unit that was written is read from where the writing stopped.
int start_reading(Unit& u);
// Moves n bytes into the block of a unit that is not the console or standard error, and the
// block to the file whenever it fills.
int put_bytes(Unit& u, const char* p, std::size_t n);
// Sends the pending run and the block's bytes to the file. On failure the bytes not written are
// dropped, so the close at the end of the run does not fail over them a second time.
int flush_block(Unit& u);
// Sends out the pending run only.
int flush_run(Unit& u);
// Reads the next block into a unit whose block is used up: ok, the end of the file or a failed
// read (kRead), an interrupt, or the failed write of a run that had to go out first.
Status refill(Unit& u);
// Owes u's file the n bytes at `at` of the file of unit `from`, after those owed so far: bytes
// that unit holds in its block join the pending run, or start one; others (`data`) are put in
// u's block.
int write_run(Unit& u, std::int32_t from, std::int64_t at, const char* data, std::size_t n);
// Moves a unit that reads to byte `at` of its file; *moved is false where it cannot seek (a
// device, a pipe, a terminal), and it then stays where it was. Fails as refill does for the
// runs that go out first.
Status seek_to(Unit& u, std::int64_t at, bool* moved);
// Before `from` writes or closes: the runs owed from it go out, a failure being the owing
// unit's, as a statement of that kind.
Status send_runs_from(const Unit& from, StmtKind kind);
// Fills p with n bytes; *placed grows by the bytes placed, also when the file ends first.
// Failures as refill's, and a failed write-out of a unit that was written as its read's.
Status get_bytes(Unit& u, char* p, std::size_t n, std::size_t* placed);

}  // namespace rt
