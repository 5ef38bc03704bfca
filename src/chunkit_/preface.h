// The preface decoder: record type and preface digits 1 to 11 of the record in hand, from its
// preface words; status disagreements and bad prefaces are reported on unit 20.
#pragma once

namespace chunkit {

// Sets `rectype` and `digit` from `words`; may write to unit 20.
void decode_preface();

}  // namespace chunkit
