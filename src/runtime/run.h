// The run: the start of the run-time, and the one end of every run. This is the top of the
// run-time: it starts every module in order, and at the end it writes out and closes what they
// hold, writes the stop message or the report, and ends the process.
#pragma once

#include "runtime/status.h"

namespace rt {

// Starts the run-time on the installed platform: the process preparation and the word table,
// the layouts, the read statements, the console and its terminal test, the empty unit table.
// Resets every piece of run-time state, so tests can start many runs in one process. Returns a
// start-up failure when the process cannot be prepared or the words have no room.
Status start_runtime(int argc, const char* const* argv);

// The form of the end's messages: the console's (CR LF, the run-time error report over three
// lines), or lines for programs (LF alone; a report is one line on standard error).
enum class Form { kConsole, kLines };

// How the process is to end: its exit status, or the signal that ends it (0: none).
struct Ending {
  int status = 0;
  int signal = 0;
};

// The end of the run, by what the run came to. Runs once per run:
// - a run-time error: the console output so far, then the report on standard error; in lines
//   for programs "Chunkit_: cannot open NAME: message (F6416)" (the name escaped);
// - the normal end (ok, or a stop text): the owed console line end, then the stop message
//   ("Stop - Program terminated." or the stop text) and CR LF (LF alone in lines for programs);
// - a usage error: nothing more (its message is written);
// - a start-up failure: its report, and nothing is closed.
// Then every unit is written out and closed in slot order; a failure while closing is
// remembered and reported once the units are closed, and makes the status 1. When the run
// failed or was interrupted, an output file it created and left without a byte is removed.
// Then the owed console line end, and standard output is closed. An interrupt that arrived at
// any time ends the process by its signal once everything is written.
Ending end_run(Status status, Form form = Form::kConsole);

// From now on a pipe whose reader has gone (standard output closed by `head`, say) ends the
// run as the signal SIGPIPE would, quietly, as the shell's own tools end; the units are closed
// first. Where the system has no such signal, or it was ignored at start, the write fails.
void end_by_broken_pipe();

// Ends the process as `ending` says.
[[noreturn]] void exit_run(Ending ending);

}  // namespace rt
