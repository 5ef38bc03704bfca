// What the two modes for programs write on standard output: the record listing's lines, and
// the batch copy's closing line. Lines end in LF alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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

// A command line the modes for programs cannot take: what is wrong (escaped) and where to look,
// on standard error, and Status::usage (exit status 2).
rt::Status usage_error(std::string_view what);

// The line that names a file made, with the records written to it wholly or in part and its
// bytes: on standard output, or on standard error when `to_error`.
rt::Status file_line(std::string_view name, std::int64_t records, std::int64_t bytes,
                     bool to_error = false);

// Says on standard error how many records of a split by day have no time.
rt::Status untimed_line(std::int64_t records);

// Closes the output file (its failure is returned as any failed close), then writes the line
// naming the file created, the records written wholly or in part and the bytes written (on
// standard error when the copy went to standard output).
rt::Status batch_summary();

}  // namespace chunkit
