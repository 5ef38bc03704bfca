// The input's records in file order: a reader that hands out each record as a view and can go
// to a record by its number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/status.h"
#include "runtime/units.h"

namespace chunkit {

inline constexpr int kRecordSize = 4096;

// Record numbers are 32-bit and wrap as two's complement, never overflow.
constexpr std::int32_t plus(std::int32_t v, std::uint32_t d) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) + d);
}

struct Record {
  std::int32_t number = 0;  // 1 for the file's first record
  // ok; the end of the file (at_end) when it ended within the record or before it; else the
  // read's failure, or an interrupt.
  rt::Status status;
  const unsigned char* data = nullptr;  // kRecordSize bytes; those the file did not give are 0xFF
  std::size_t length = 0;               // bytes the file gave: kRecordSize, fewer at its end
  std::int64_t at = 0;                  // where the record begins in the file
};

// Reads the records of a binary unit that reads. It holds a record of its own for those the
// unit's block does not hold whole (the short final record, a record split between two reads
// of a pipe); every other record is a view into the unit's block.
class RecordReader {
 public:
  explicit RecordReader(std::int32_t unit) : unit_(unit) {}

  // The next record. It and its bytes stay valid until the next call of next or go_to, or the
  // unit's next statement.
  const Record& next();
  // Makes record n (from 1) the next one, when it lies ahead: directly where the input can
  // seek, else by reading the records before it. Returns ok, or the status of the record that
  // stopped the way there (the end of the file, a read error, an interrupt).
  rt::Status go_to(std::int32_t n);
  // Makes record n (from 1) the next one, ahead or behind, where the input can seek; *moved is
  // false where it cannot, and the reader stays where it was.
  rt::Status seek(std::int32_t n, bool* moved);
  // The number the next record gets.
  std::int32_t next_number() const { return next_; }

 private:
  std::int32_t unit_;
  std::int32_t next_ = 1;
  Record rec_;
  unsigned char own_[kRecordSize];
};

// Inline: the copy's loop takes every record through it.
inline const Record& RecordReader::next() {
  Record& r = rec_;
  r.number = next_;
  next_ = plus(next_, 1);
  rt::InPlace got;
  r.status = rt::binread_in_place(unit_, reinterpret_cast<char*>(own_), kRecordSize, &got);
  r.length = got.placed;
  r.at = got.at;
  r.data = reinterpret_cast<const unsigned char*>(got.data);
  if (r.length < kRecordSize) {
    std::memset(own_ + r.length, 0xFF, kRecordSize - r.length);
    r.data = own_;
  }
  return r;
}

}  // namespace chunkit
