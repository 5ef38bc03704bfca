// The summary of the records a listing with the same arguments would list (--summary): how many
// of each type, the time they cover, the gaps in it and the steps back of the clock, and what is
// damaged, in tab-separated lines.
//
// It reads the section's records in one pass of the record loop as a rule, with fixed memory:
// that pass counts everything, keeps the positive steps between consecutive records with their
// own time (below 2^20 seconds in a histogram, longer ones one by one, or by 2^20-second bucket
// when there are too many) and keeps the longest steps and the first steps back. Further passes
// come only where those do not suffice: one that counts the steps of a bucket exactly when the
// median lies inside it, one that writes the gap lines when more steps are gaps than were kept,
// and one for the steps back likewise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/status.h"

namespace chunkit {

// How many of the longest steps and of the first steps back the first pass keeps (at most
// 65536): with as many or fewer, their lines need no pass of their own. Tests lower it.
extern std::size_t summary_kept;
// How many steps of 12 days or more (2^20 s) the first pass keeps one by one (at most 2^20):
// with more, the median may take a pass of its own. Tests lower it.
extern std::size_t summary_long_kept;

// Starts the summary: the first pass comes next. Fails when there is no memory for its
// histograms.
rt::Status summary_begin();

// Takes the record in hand, kept by the selection: the copy would write `bytes` bytes of it, and
// data_end, when not 0, is where it found the end of the data in it.
rt::Status summary_record(std::int64_t bytes, std::int32_t data_end);

// Ends a pass: writes what it can and says whether another pass is to come.
rt::Status summary_pass_done(bool* again);

}  // namespace chunkit
