// Choosing and creating the output file: never an existing file.
#pragma once

#include "runtime/status.h"

namespace chunkit {

// Creates the output file as unit 30 under `outname`, or under `outname` with the extension
// .001, .002, ... in place of its own; rewrites `outname` to the name created. When no name
// can be made, returns the failed open of the name tried last.
rt::Status open_output();

}  // namespace chunkit
