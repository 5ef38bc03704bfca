// The split of the records a --batch copy would write into pieces, one file each (--split): by
// day, by type, or by a number of consecutive records. A first pass over the records plans every
// piece and its name, and nothing is created until every name is known to be free. The pieces
// are then written one after another, each with the bytes of a --batch copy narrowed to its
// records, and a run that does not make them all removes every one it made.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "chunkit_/mode.h"
#include "runtime/status.h"

namespace chunkit {

// More pieces than this are a usage error.
inline constexpr std::size_t kMostPieces = 10000;

// What is wrong with a pattern for the names of pieces made by `by`; empty when nothing. The
// fields %Y %y %j %m %d (the day) and %t (the type) must be the same for every record of a
// piece; %n (the piece's number) and %% fit every split.
std::string pattern_fault(std::string_view pattern, SplitBy by);

// Starts the plan: the records split_plan takes next are planned into pieces. Fails when there
// is no memory for the plan.
rt::Status split_begin(SplitBy by, std::string_view pattern);

// Whether the pieces are made by day, which needs the records' times.
bool split_by_day();

// Whether the records are being planned (else a piece is being written).
bool split_planning();

// Counts the record in hand, kept by the selection, of which `bytes` would be written, into its
// piece; a usage error past kMostPieces pieces.
rt::Status split_plan(std::int64_t bytes);

// While a piece is written: whether the record in hand is one of its records.
bool split_takes();

// Ends the plan and writes every piece: first the names, each made once and each free (two
// pieces of the same name are a usage error, a name that is taken a failed open), then each
// piece created, written and closed, by clones of the input's storage where its records are
// whole and one after another, else by `pass`, a pass of the records over
// [wanted_first, wanted_last]. Then the manifest: a line for each piece. When anything fails
// or an interrupt arrives before the manifest is out, every piece made is removed.
rt::Status split_write(rt::Status (*pass)());

}  // namespace chunkit
