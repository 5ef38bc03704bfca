// What the two modes for programs write on standard output: the record listing's lines, and
// the batch copy's closing line. Lines end in LF alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/status.h"

namespace chunkit {

// The listing's header line.
rt::Status list_header();

// The line of the record in hand (`irec`, just decoded): `length` bytes of it are in the file,
// and data_end, when not 0, is the last byte of data the copy found in it.
rt::Status list_record(const unsigned char* rec, std::size_t length, std::int32_t data_end);

// The batch copy's reports of the record in hand (`irec`, just decoded), one line each on
// standard error: its two status values when they differ, its preface bytes when they lack
// their dated mark.
rt::Status batch_reports(const unsigned char* rec);

// Closes the output file (its failure is returned as any failed close), then writes the line
// naming the file created, the records written wholly or in part and the bytes written (on
// standard error when the copy went to standard output).
rt::Status batch_summary();

}  // namespace chunkit
