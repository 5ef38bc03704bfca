// The main routine of the tool: from the command line to the stop.
#pragma once

#include "runtime/run.h"
#include "runtime/status.h"

namespace chunkit {

// Runs the tool on the run-time already started. Returns how the run came out, for the end of
// the run: ok or Status::stop for the normal end (with the version line as its stop text),
// Status::usage, or the failure that ended it.
rt::Status chunkit_main();

// The form of the run's end: lines for programs in the modes for programs and for --version,
// else the console's.
rt::Form ending_form();

}  // namespace chunkit
