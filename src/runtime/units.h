// Numbered units: the unit table, the fixed console connections, open (names, statuses, the
// blank-name rule, each unit's block while it is connected), binary (byte-stream) read and
// write statements, text records on units that are not the console, and the closing of every
// unit at the end of the process. Console bytes go to the console module; device names are
// the devices module's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace rt {

// Block size of file units: one system call per block, never per item.
inline constexpr std::size_t kFileBlockSize = std::size_t{1} << 20;
// Unit number of the default console unit ("*"); outside the range an open accepts.
inline constexpr std::int32_t kDefaultUnit = INT32_MIN;

// Sets up the console connections and an empty unit table.
void units_init();

// Specifiers of an open. An absent specifier is std::nullopt; values match their keywords
// case-insensitively with trailing blanks ignored.
struct OpenSpec {
  std::optional<std::string_view> status;  // OLD, NEW, SCRATCH, REPLACE, UNKNOWN
  std::optional<std::string_view> form;    // FORMATTED, UNFORMATTED, BINARY
  std::optional<std::string_view> access;  // READ, WRITE, READWRITE
  std::optional<std::string_view> share;   // DENYNONE, COMPAT, DENYRD, DENYWR, DENYRW
  bool error_return = false;
};

// Connects `unit` to the named file. Returns 0 on success. On failure returns the error value
// when given.error_return is set (no message, no unit, no partly made file); otherwise writes
// the run-time error report and ends the process.
std::int32_t open_unit(std::int32_t unit, std::string_view name, const OpenSpec& given);

// Binary read statement: begin, one call per item, end. Each call returns the statement's
// status so far: 0, -1 at the end of the file, or an error value; once it is not 0 the
// statement is over and later calls return the same status. Without a status wanted, -1 and
// errors end the run with a report.
std::int32_t binread_begin(std::int32_t unit, bool status_wanted);
std::int32_t binread_item(void* target, std::size_t length);
std::int32_t binread_end();

// Where the bytes of a read in place are.
struct InPlace {
  const char* data = nullptr;  // the unit's block, or the spare buffer
  std::size_t placed = 0;      // bytes the file gave: fewer than asked at its end
  std::int64_t at = 0;         // where the first of them is in the file
};
// A binary read statement of one item of n bytes with its status wanted (0, -1 at the end of
// the file, or an error value). Where the unit's block holds the n bytes whole they are not
// copied: got->data points at them there, and they stay valid until the unit's next statement.
// Otherwise they are placed in `spare`.
std::int32_t binread_in_place(std::int32_t unit, char* spare, std::size_t n, InPlace* got);

// Moves a binary unit that reads to byte `at` of its file. False where the file cannot seek (a
// device, a pipe, a FIFO, a terminal): the unit then stays where it was.
bool binread_seek(std::int32_t unit, std::int64_t at);

// Binary write statement. The first write after a statement that was not a write cuts the
// file at the current position. Bytes collect in the unit's block and reach the file when the
// block is full or the unit is closed.
std::int32_t binwrite_begin(std::int32_t unit, bool status_wanted);
std::int32_t binwrite_item(const void* source, std::size_t length);
std::int32_t binwrite_end();

// A binary write statement without a status, of one item: n bytes that unit `from` read in
// place at `at` of its file (`data` is where they are). Where that unit still holds them, they
// are owed as a run and not copied: items of this kind that follow each other in the file join
// one run, which goes out by a clone of the file's storage where the file system can, else by
// one write from the reading unit's block. A run goes out before anything else is written to
// the unit, before the reading unit's block changes (while clones work: at 64 MiB), and when
// either unit closes. Otherwise the item is written as binwrite_item writes it.
void binwrite_run(std::int32_t unit, std::int32_t from, std::int64_t at, const void* data,
                  std::size_t n);

// True when formatted output to `unit` goes to the console output record (units 0 and 6, the
// default unit, and any unit connected to "CON").
bool is_console_output(std::int32_t unit);

// Writes one finished text record to a unit that is not the console: the record unchanged,
// then CR LF unless `continued`. An unconnected unit is connected first by the implicit open
// (blank-name rule). Failures end the run with a report.
void write_text_record(std::int32_t unit, std::string_view record, bool continued);

// Where the last component of a file name begins: just after its last folder separator.
std::size_t last_component(std::string_view name);

// Name of a unit's connection for reports ("CON" for the console).
std::string_view unit_name(std::int32_t unit);

// Writes out and closes one unit, if it is connected; a failure is reported as at the end of
// the run.
void close_unit(std::int32_t unit);

// Writes out and closes every unit in slot order, then the owed console line end, and closes
// standard output. A unit that fails to write out its block, or whose close fails after it was
// written, is reported (statement kind close) through the normal report; the process end then
// closes the units that remain and ends with status 1. When `run_failed`, a file the run created
// that has received no byte is deleted as its unit closes.
void close_all_units(bool run_failed);

}  // namespace rt
