#include "chunkit_/records.h"

namespace chunkit {

rt::Status RecordReader::seek(std::int32_t n, bool* moved) {
  RETURN_IF_FAILED(rt::binread_seek(unit_, std::int64_t{n - 1} * kRecordSize, moved));
  if (*moved) next_ = n;
  return {};
}

rt::Status RecordReader::go_to(std::int32_t n) {
  if (n <= next_) return {};
  bool moved = false;
  RETURN_IF_FAILED(seek(n, &moved));
  if (moved) return {};
  while (next_ < n) RETURN_IF_FAILED(next().status);
  return {};
}

}  // namespace chunkit
