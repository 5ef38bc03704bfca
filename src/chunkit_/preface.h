// The preface decoder: record type and preface digits 1 to 11 of the record in hand, from the
// first bytes of its preface; status disagreements and bad prefaces are reported on unit 20.
#pragma once

#include "runtime/status.h"

namespace chunkit {

// Sets `rectype`, `digit` and what the preface holds (`dated`, `ivstat`, `ivstatt`, `badpref`)
// from the record's bytes, reading only those its preface uses (at most the first 48); may write
// to unit 20, except while listing, whose lines carry the findings instead. Returns the failure
// of such a report; the record is decoded either way.
rt::Status decode_preface(const unsigned char* rec);

}  // namespace chunkit
