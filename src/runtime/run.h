// The run: the start of the run-time, and the stop operation, its normal end. This is the top
// of the run-time: it starts every module in order and hands the end of a run what it must
// close.
#pragma once

#include <string_view>

namespace rt {

// Starts the run-time on the installed platform: the process preparation and the word table
// (fatal start-up failures when they fail), the layouts, the read statements, the console and
// its terminal test, the empty unit table. Resets every piece of run-time state, so tests can
// start many runs in one process.
void start_runtime(int argc, const char* const* argv);

// Writes the owed console line end, then "Stop - Program terminated." (or the given text) and
// CR LF, and ends the process with status 0.
[[noreturn]] void stop_program(std::string_view text = {});

}  // namespace rt
