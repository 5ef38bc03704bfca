// The frame of a run: its start, and the ways it ends (the stop operation, the run-time error
// report, the fatal start-up failure, the end by an interrupt). Every end goes through
// `end_process`, which closes every unit once before the process ends.
#pragma once

#include <cstdint>
#include <string_view>

namespace rt {

// Starts the run-time on the installed platform: the process preparation and the word table
// (fatal start-up failures when they fail), the console connections, the empty unit table, the
// console records.
// Resets every piece of run-time state, so tests can start many runs in one process.
void start_runtime(int argc, const char* const* argv);

// Kind of the statement that failed; it picks the text after the error value in a report.
enum class StmtKind { kClose, kWrite, kOpen, kRead, kGeneral };

// Writes the owed console line end, then "Stop - Program terminated." (or the given text) and
// CR LF, and ends the process with status 0.
[[noreturn]] void stop_program(std::string_view text = {});

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
