// The main routine of the tool: from the command line to the stop.
#pragma once

namespace chunkit {

// Runs the tool on the run-time already started; every path ends the process.
[[noreturn]] void chunkit_main();

}  // namespace chunkit
