// The summary of the records a listing with the same arguments would list (--summary): how many
// of each type, the time they cover, the gaps in it and the steps back of the clock, and what is
// damaged, in tab-separated lines.
//
// It reads the section's records in up to four passes of the same record loop, with fixed
// memory: the first counts everything and keeps the positive steps between consecutive records
// with their own time in a fixed histogram (exact below 2^20 seconds, by 2^20-second bucket
// above); a second pass, only when the median lies inside such a bucket, counts the steps of
// that bucket exactly; then one pass writes the gap lines and one the lines of the clock going
// back, each only when there are any.
#pragma once

#include <cstdint>

#include "runtime/status.h"

namespace chunkit {

// Starts the summary: the first pass comes next. Fails when there is no memory for its
// histograms.
rt::Status summary_begin();

// Takes the record in hand, kept by the selection: the copy would write `bytes` bytes of it, and
// data_end, when not 0, is where it found the end of the data in it.
rt::Status summary_record(std::int64_t bytes, std::int32_t data_end);

// Ends a pass: writes what it can and says whether another pass is to come.
rt::Status summary_pass_done(bool* again);

}  // namespace chunkit
