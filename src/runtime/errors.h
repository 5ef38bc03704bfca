// The run-time's errors: every error number named once, its error value (what a statement that
// asked for a status receives and what a report prints), its one-line message, and the error
// number of a failed write.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace rt {

// Numeric fields, read and written.
inline constexpr int kErrIntOverflow = 4;  // integer value out of range
inline constexpr int kErrBadChar = 5;      // invalid character in an integer field
inline constexpr int kErrSecondHash = 28;  // second radix sign in an integer field
inline constexpr int kErrBadRadix = 29;    // radix outside 2 to 36
inline constexpr int kErrBadHex = 82;      // invalid character in a hexadecimal field
// Layouts and the values they meet.
inline constexpr int kErrTextForNumber = 16;   // a text met by an I or Z item
inline constexpr int kErrNumberForText = 18;   // a number met by an A item
inline constexpr int kErrLiteralInInput = 81;  // literal text in an input layout
inline constexpr int kErrRecordOverflow = 89;  // a record longer than its room
inline constexpr int kErrListWidth = 91;       // list-directed item wider than a line
inline constexpr int kErrNoWidth = 97;         // width or digit count missing
inline constexpr int kErrUnclosedText = 105;   // unclosed literal
inline constexpr int kErrBadItem = 106;        // no layout item, or a layout beyond its limits
inline constexpr int kErrDigits = 107;         // minimum digits above the width
// Units, opens and transfers.
inline constexpr int kErrDeviceKind = 13;    // a device opened with an unsuitable kind
inline constexpr int kErrNotBinary = 15;     // a binary transfer on a unit of another kind
inline constexpr int kErrOtherKind = 20;     // a connected unit reopened with another kind
inline constexpr int kErrUnitRange = 40;     // a unit number outside -32767..32767
inline constexpr int kErrNoMemory = 41;      // no memory for a unit's block
inline constexpr int kErrAtEnd = 51;         // a read after the end of the file
inline constexpr int kErrLineTooLong = 53;   // a terminal line longer than its limit
inline constexpr int kErrInvalidOpen = 58;   // a name or specifier the open cannot take
inline constexpr int kErrConnected = 59;     // the file is connected to another unit
inline constexpr int kErrDenied = 60;        // access denied
inline constexpr int kErrExists = 61;        // the file exists
inline constexpr int kErrNotFound = 62;      // the file does not exist
inline constexpr int kErrTooManyFiles = 63;  // the process has no handle left
inline constexpr int kErrTableFull = 64;     // every unit slot is taken
inline constexpr int kErrIsFolder = 65;      // the name is a folder
inline constexpr int kErrOnce = 66;          // an input that can be read only once
inline constexpr int kErrWriteFailed = 67;   // a write failed
inline constexpr int kErrDiskFull = 68;      // no room: disk full, quota, file size limit
inline constexpr int kErrReadFailed = 72;    // a read failed
inline constexpr int kErrEndOfFile = 73;     // the end of the file (or of console input)

// Report numbers by ranges of error numbers: up to `last`, report number = error number +
// `offset`. The error value is 6000 plus the report number.
struct ErrorRange {
  int last, offset;
};
inline constexpr ErrorRange kErrorRanges[] = {{10, 96},   {25, 189}, {45, 274}, {71, 354},
                                              {88, 428},  {91, 511}, {93, 608}, {96, 876},
                                              {116, 883}, {219, 585}};

// Error value of a run-time error number (0..219).
constexpr std::int32_t error_value(int error_number) {
  for (const ErrorRange& r : kErrorRanges) {
    if (error_number <= r.last) return 6000 + error_number + r.offset;
  }
  return 6000 + error_number + 585;
}

// The error number whose error value is `value`; -1 when no error has that value.
int error_number_of(std::int32_t value);

// The error's message: one line of plain text.
const char* error_message(int error_number);

// The error number of a failed write: "disk full" only when the system said there is no room;
// every other failure is a failed write.
int write_error(platform::Err e);

}  // namespace rt
