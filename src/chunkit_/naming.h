// Choosing and creating the output file: never an existing file.
#pragma once

#include "runtime/status.h"

namespace chunkit {

// Creates the output file as unit 30 under `outname`, or under `outname` with the extension
// .001, .002, ... in place of its own; rewrites `outname` to the name created. When no name
// can be made, returns the failed open of the name tried last. A FIFO, device or socket is
// opened as it is. The copy refuses standard output and standard error by any name; the modes
// for programs take "-", and standard output by another name, as standard output (`outname`
// becomes "-").
rt::Status open_output();

// Whether open_output connected standard output.
extern bool output_is_standard;

}  // namespace chunkit
