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

#include "platform/platform.h"
#include "runtime/status.h"

namespace rt {

// Block size of file units: one system call per block, never per item.
inline constexpr std::size_t kFileBlockSize = std::size_t{1} << 20;
// Slots of the unit table: at most this many units are connected at once.
inline constexpr int kUnitSlots = 61;
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
  // Connects a binary unit to this standard handle, standard input to read or standard output
  // to write, under the name given, instead of opening a file.
  std::optional<platform::StdStream> standard;
};

// Connects `unit` to the named file. A failure (kOpen, naming the name tried) leaves no unit
// and no partly made file; a caller that wants the error value takes it from the Status
// (Status::value), others hand it up.
Status open_unit(std::int32_t unit, std::string_view name, const OpenSpec& given);

// Binary read statement: begin, one call per item, end. Each call returns the statement's
// status so far: ok, the end of the file (Status::at_end), an error or an interrupt; once it is
// not ok the statement is over and later calls return the same status.
void binread_begin(std::int32_t unit);
Status binread_item(void* target, std::size_t length);
Status binread_end();

// Where the bytes of a read in place are.
struct InPlace {
  const char* data = nullptr;  // the unit's block, or the spare buffer
  std::size_t placed = 0;      // bytes the file gave: fewer than asked at its end
  std::int64_t at = 0;         // where the first of them is in the file
};
// A binary read statement of one item of n bytes, with the status of binread_item. Where the
// unit's block holds the n bytes whole they are not copied: got->data points at them there, and
// they stay valid until the unit's next statement. Otherwise they are placed in `spare`.
Status binread_in_place(std::int32_t unit, char* spare, std::size_t n, InPlace* got);

// Moves a binary unit that reads to byte `at` of its file. *moved is false where the file cannot
// seek (a device, a pipe, a FIFO, a terminal): the unit then stays where it was. Fails only
// for the runs of whole records owed from it, which go out first.
Status binread_seek(std::int32_t unit, std::int64_t at, bool* moved);

// Binary write statement. The first write after a statement that was not a write cuts the
// file at the current position. Bytes collect in the unit's block and reach the file when the
// block is full or the unit is closed. Statuses as for the read statement.
void binwrite_begin(std::int32_t unit);
Status binwrite_item(const void* source, std::size_t length);
Status binwrite_end();

// A binary write statement of one item: n bytes that unit `from` read in
// place at `at` of its file (`data` is where they are). Where that unit still holds them, they
// are owed as a run and not copied: items of this kind that follow each other in the file join
// one run, which goes out by a clone of the file's storage where the file system can, else by
// one write from the reading unit's block. A run goes out before anything else is written to
// the unit, before the reading unit's block changes (while clones work: at 64 MiB), and when
// either unit closes. Otherwise the item is written as binwrite_item writes it.
Status binwrite_run(std::int32_t unit, std::int32_t from, std::int64_t at, const void* data,
                    std::size_t n);

// Writes bytes [at, at + n) of the file of unit `from` (connected to a regular file that it
// reads) to `unit`, whether or not `from` has read them: by clones of the file's storage where
// the file system can, else read again through the writing unit's block, 1 MiB at a time;
// `from` stays where it was. An interrupt is looked at before each clone or block.
Status binwrite_stretch(std::int32_t unit, std::int32_t from, std::int64_t at, std::int64_t n);

// The size of the file connected to a unit; -1 for a stream or a unit not connected.
std::int64_t unit_file_size(std::int32_t unit);

// Called before each block that a unit reads from its file (at most once a block, never per
// record), for a sign of life during a long copy; null for none.
void watch_blocks(void (*watch)());

// True when formatted output to `unit` goes to the console output record (units 0 and 6, the
// default unit, and any unit connected to "CON").
bool is_console_output(std::int32_t unit);

// Writes one finished text record to a unit that is not the console: the record unchanged,
// then CR LF unless `continued`. An unconnected unit is connected first by the implicit open
// (blank-name rule).
Status write_text_record(std::int32_t unit, std::string_view record, bool continued);

// Whether the name is an existing FIFO, character device or socket, which an open takes as it
// is: a stream, with nothing to cut and no position to go to.
bool names_stream(std::string_view name);

// Whether anything has the name: a file, a folder, a device, a link (also one that leads
// nowhere).
bool name_taken(std::string_view name);

// Removes the file of that name.
void remove_file(std::string_view name);

// Whether the name is another name of the file the standard handle `s` is open on (never the
// null device, which any number of names may share).
bool names_standard(std::string_view name, platform::StdStream s);

// Where the last component of a file name begins: just after its last folder separator.
std::size_t last_component(std::string_view name);

// Name of a unit's connection for reports ("CON" for the console).
std::string_view unit_name(std::int32_t unit);

// Writes out and closes one unit, if it is connected. A unit that fails to write out its block,
// or whose close fails after it was written, fails as a close; the unit is closed either way.
Status close_unit(std::int32_t unit);

// Writes out and closes every unit in slot order, and puts the failures (kClose) in `failed`
// (room for kUnitSlots), in order; returns how many. An interrupt that cuts a write-out short
// is not a failure. When `run_failed`, and after a failure, a file the run created that has
// received no byte is deleted as its unit closes.
std::size_t close_all_units(bool run_failed, Status* failed);

}  // namespace rt
