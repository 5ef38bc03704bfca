#include "runtime/errors.h"

namespace rt {

int error_number_of(std::int32_t value) {
  int first = 0;
  for (const ErrorRange& r : kErrorRanges) {
    const std::int64_t n = std::int64_t{value} - 6000 - r.offset;
    if (n >= first && n <= r.last) return static_cast<int>(n);
    first = r.last + 1;
  }
  return -1;
}

// One plain line per error the run-time raises.
const char* error_message(int error_number) {
  switch (error_number) {
    case kErrIntOverflow:
      return "integer value out of range";
    case kErrBadChar:
      return "invalid character in integer field";
    case kErrDeviceKind:
      return "device cannot be opened with this kind of access";
    case kErrNotBinary:
      return "unit is not connected for binary transfer";
    case kErrTextForNumber:
      return "text value met by a numeric layout item";
    case kErrNumberForText:
      return "numeric value met by a text layout item";
    case kErrOtherKind:
      return "unit already connected with another kind of access";
    case kErrSecondHash:
      return "second radix sign in integer field";
    case kErrBadRadix:
      return "radix outside 2 to 36";
    case kErrNoMemory:
      return "not enough memory";
    case kErrAtEnd:
      return "read after the end of the file";
    case kErrLineTooLong:
      return "input line too long";
    case kErrInvalidOpen:
      return "invalid file name or open specifier";
    case kErrConnected:
      return "file already connected to another unit";
    case kErrDenied:
      return "access to the file denied";
    case kErrExists:
      return "file already exists";
    case kErrNotFound:
      return "file not found";
    case kErrTooManyFiles:
      return "too many open files";
    case kErrTableFull:
      return "too many units connected";
    case kErrIsFolder:
      return "is a folder";
    case kErrOnce:
      return "can be read only once (a pipe, a FIFO or a terminal), and this is read twice";
    case kErrWriteFailed:
      return "write failed";
    case kErrDiskFull:
      return "write failed: no space left (disk full, quota or file size limit)";
    case kErrReadFailed:
      return "read failed";
    case kErrEndOfFile:
      return "end of file met";
    case kErrLiteralInInput:
      return "literal text in an input layout";
    case kErrBadHex:
      return "invalid character in hexadecimal field";
    case kErrRecordOverflow:
      return "record longer than its variable";
    case kErrListWidth:
      return "list-directed item wider than a line";
    case kErrNoWidth:
      return "width missing in layout";
    case kErrUnclosedText:
      return "unclosed text in layout";
    case kErrBadItem:
      return "invalid character in layout";
    case kErrDigits:
      return "minimum digits larger than width in layout";
    default:
      return "run-time failure";
  }
}

int write_error(platform::Err e) {
  return e == platform::Err::kDiskFull ? kErrDiskFull : kErrWriteFailed;
}

}  // namespace rt
