#include "chunkit_/records.h"

#include <cstring>

#include "runtime/units.h"

namespace chunkit {

const Record& RecordReader::next() {
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

rt::Status RecordReader::go_to(std::int32_t n) {
  if (n <= next_) return {};
  bool moved = false;
  RETURN_IF_FAILED(rt::binread_seek(unit_, std::int64_t{n - 1} * kRecordSize, &moved));
  if (moved) {
    next_ = n;
    return {};
  }
  while (next_ < n) RETURN_IF_FAILED(next().status);
  return {};
}

}  // namespace chunkit
