// The console: standard input and output as one line-oriented device, and standard error
// behind it. This module alone knows whether the ends are terminals, holds the output buffer and
// decides when it goes to the system (and which progress lines a terminal need not be sent),
// writes the carriage control of console records, keeps the owed line end, and reads the
// console input record. Write statements, read statements and units reach the console only
// here; it stands on the platform. Every call that hands bytes to the system returns its Status:
// a failed write of standard output (kWrite, "CON"), or an interrupt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "runtime/status.h"

namespace rt {

// The longest file name: an open takes no longer one, and a line typed at a terminal for a name
// may hold one character more (a name too long to open is then refused by its open).
inline constexpr std::size_t kNameMax = 259;

// The console's own unit number: formatted output to it is always a console record.
inline constexpr std::int32_t kConsoleUnit = 6;

// Ctrl-Z: the end of console input at the end of a line; a read's number field meeting it ends
// the read as at the end of the file.
inline constexpr char kCtrlZ = 26;

// Tests standard input and output for being terminals and empties the buffers and the line
// state. Called once at start-up.
void console_init();

// True when standard input and standard output are both terminals, so console reads and
// writes share one line state.
bool console_shared();
// True when standard output / standard input is a terminal.
bool stdout_is_terminal();
bool stdin_is_terminal();
bool stderr_is_terminal();
// The monotonic clock in milliseconds.
std::int64_t clock_ms();

// --- output ---

// Raw bytes to standard output, in order, through the console output buffer.
Status console_put(std::string_view bytes);
// From now on the console shows nothing of its own: records, prompts, line ends and the stop
// text are left out, and standard output carries only the program's lines below. For runs whose
// output is read by another program.
void console_mute();
// A line of the program's own output (its line end included), written even when the console is
// muted, through the same buffer as console_put.
Status console_put_line(std::string_view line);
// Hands the buffered console output to the system. At a terminal, lines that later ones in the
// buffer write over in full are left out: the screen ends up as if they had been sent (on a
// terminal 64 or more columns wide). An interrupt that arrived first is returned before the
// write, which may wait.
Status console_flush();
// Flushes and closes standard output, once: a failure that only shows at the close (a file
// system that writes late) fails like a write (kClose). Later console output is dropped.
Status console_close();
// Flushes standard output, then writes bytes to standard error, so both appear in the order
// they were written. Returns the flush's Status; the system's answer for the standard error
// write goes to *result when given.
Status console_write_error(std::string_view bytes, platform::IoResult* result = nullptr);
// A line on standard error that each call rewrites in place, for a terminal: the text (kept
// within 79 columns, so it never wraps) over the one before. console_write_error, and the report
// at the end of the run, clear it first; console_status_clear clears it now.
void console_status(std::string_view text);
void console_status_clear();

// Leaves out of the n bytes at buf every line of printable characters that a terminal would
// show only to cover it at once: one that starts in the first column (after a CR; `before` is
// the byte sent just before buf), is not empty and narrower than 64 columns, and is followed by
// one CR and a line at least as long. Returns how many bytes remain, at the start of buf.
// Sent to a terminal 64 or more columns wide, they leave the screen exactly as all n would.
std::size_t drop_overwritten(char* buf, std::size_t n, char before);

// A console record: its first part starts with the carriage-control character (unless the
// line continues, when the part is written whole), later parts follow as they are, and the end
// leaves its line end owed; `continued` (the record ended with "\" or "$") makes the next
// record join the line.
Status console_record_begin(std::string_view part);
Status console_record_end(bool continued);

// The owed line end, by the three occasions that settle it:
// before the blank-name prompt, which starts a line of its own: the owed line end is written
// and the line state forgotten;
Status console_break_line();
// before a console read: the output is flushed; where both ends are terminals the owed line
// end is written too (unless the last record asked to keep the cursor on its line) and the
// read's own line end then ends the output line;
Status console_settle_for_read();
// at the end of a run: the owed line end is written and still counts as owed.
Status console_end_line_for_stop();

// Whether a record's line end is owed / the next record joins the line (for tests).
bool console_line_owed();
bool console_line_continues();

// --- input ---

// The console input record, one line at a time. peek gives the next character of the current
// line, reading a new one when the record is used up ('\n' ends every line, also the last
// line of the input without one); take moves past it. The end of input (also a Ctrl-Z at the
// end of a line), a failed read, a terminal line longer than its limit and an interrupt fail the
// read: peek then returns minus the error number (kInterrupted for an interrupt), the others
// return it (0: none). A read statement reports them naming "CON".
int console_peek();
int console_take();
// Drops the rest of the current line, its line end included, and at a terminal anything else
// the read delivered.
int console_drop_line();
// Ends a console read: the rest of its line is dropped, and where both ends are terminals the
// typed line end has ended the output line.
int console_read_done();

// Reads one console line (the line end not included), keeping at most cap characters. Sets
// *length to the line's length, characters not kept included. A line typed at a terminal may have
// 130 characters, or 260 when cap is larger than 130 (a file name). The owed line end comes first
// (console_settle_for_read).
Status read_console_line(char* buf, std::size_t cap, std::size_t* length);

}  // namespace rt
