// The ways a run ends: the run-time error report, the fatal start-up failure, the end by an
// interrupt, and the process end they and the stop operation share. Every end goes through
// `end_process`, which closes everything once (through the hooks the run hands over) before the
// process ends. Every run-time module reports through here; this module knows none of them.
#pragma once

#include <cstdint>
#include <string_view>

namespace rt {

// What the end of a run does above this module, handed over at start: write out the console
// output (before a report, and last of all), and write out and close every unit and standard
// output, deleting the files a failed run created and left empty.
struct RunEnd {
  void (*flush_console)() = nullptr;
  void (*close_all)(bool run_failed) = nullptr;
};
// Forgets any earlier end (tests start many runs in one process) and takes the hooks.
void end_init(const RunEnd& run_end);

// Kind of the statement that failed; it picks the text after the error value in a report.
enum class StmtKind { kClose, kWrite, kOpen, kRead, kGeneral };

// Writes the run-time error report for error_number to standard error and ends the process
// with status 1. `name` is the file name of the unit concerned (unused for kGeneral).
[[noreturn]] void report_runtime_error(int error_number, StmtKind kind, std::string_view name);

// A failure before the program's first statement: CR LF, "runtime error " and text on
// standard error, then exit status 255.
[[noreturn]] void fatal_startup(std::string_view text);

// Closes every unit and ends the process: by the signal when an interrupt arrived, else with
// status 1 when any report was written (also one written while the units were being closed,
// which then goes on with the remaining units), else with status.
[[noreturn]] void end_process(int status);

// Ends the run if an interrupt arrived: units are flushed and closed, then the process ends by
// the signal. Called at every block the run-time hands to or takes from the system.
void check_interrupt();

}  // namespace rt
