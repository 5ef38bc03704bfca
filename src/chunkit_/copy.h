// The block copy loop: one copy pass over the input's records, and the end of the run.
#pragma once

#include "runtime/status.h"

namespace chunkit {

// Reads the records the input delivers next, numbered from the first unread one, up to
// `endrec` (`irec` stays at `nextrec` when there are none): decodes, shows and copies each as the
// copy parameters say, takes further skip ranges from the arguments, and stops the run at the end
// of the data or at a read error. Sets `nextrec` to `endrec` + 1 when the pass is done and
// returns ok; returns Status::stop once the run has reached its normal end (the end of the
// data), else the failure that ends it.
rt::Status copy_pass();

// The closing message (" Nothing to do!" or the exit message), then Status::stop.
rt::Status run_end();

}  // namespace chunkit
