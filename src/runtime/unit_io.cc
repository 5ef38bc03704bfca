// Block I/O of file units: a unit's block is filled by one system read and sent by one system
// write, and runs of whole records that another unit read are cloned or written straight from
// where that unit holds them.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "runtime/errors.h"
#include "runtime/unit.h"
#include "runtime/units.h"

namespace rt {
namespace {

using platform::Err;

constexpr std::size_t kPage = 4096;
// A run that is cloned goes out at this length at the latest, so the output grows while a long
// copy runs.
constexpr std::size_t kCloneMax = std::size_t{64} << 20;

// Runs are cloned until the file system first refuses. Until one clone has worked, a run lies
// in one block of the unit that read it; once one has, a run goes on across that file's blocks.
enum class Cloning { kUntried, kWorks, kRefused };
Cloning g_cloning = Cloning::kUntried;

void (*g_watch)() = nullptr;

int write_all(Unit& u, const char* p, std::size_t n) {
  platform::IoResult r = os().write(u.handle, p, n);
  u.file_pos += static_cast<std::int64_t>(r.count);
  return r.err == Err::kOk && r.count == n ? 0 : failed_write(r.err);
}

// Where `from` holds bytes [at, at + n) of its file in its block, or null.
const char* held(const Unit& from, std::int64_t at, std::size_t n) {
  if (from.writing || from.block.empty()) return nullptr;
  const std::int64_t first = from.file_pos - static_cast<std::int64_t>(from.end);
  if (at < first || at + static_cast<std::int64_t>(n) > from.file_pos) return nullptr;
  return from.block.get() + (at - first);
}

// Writes a run whose bytes `from` no longer holds (a clone was refused after runs had gone on
// across blocks): they are read again through u's block, which holds nothing while a run is
// pending, and `from` is put back where it was.
int write_again(Unit& u, const Run& r) {
  const platform::Handle src = r.from->handle;
  int e = 0;
  for (std::size_t done = 0; done < r.len && e == 0; done += kFileBlockSize) {
    const std::size_t n = std::min(r.len - done, kFileBlockSize);
    platform::IoResult got{};
    if (os().seek(src, r.at + static_cast<std::int64_t>(done)) == Err::kOk) {
      got = os().read(src, u.block.get(), n);
    }
    e = got.err == Err::kOk && got.count == n ? write_all(u, u.block.get(), n) : kErrReadFailed;
  }
  if (os().seek(src, r.from->file_pos) != Err::kOk && e == 0) e = kErrReadFailed;
  return e;
}

// Clones the pending run where the file system can; *cloned says whether it did. Where it
// cannot, clones are refused from then on and the run is still pending. Returns 0 or an error
// number.
int clone_run(Unit& u, bool* cloned) {
  *cloned = false;
  const Run& r = u.run;
  // A stream has no storage to share, and a standard handle no known position.
  if (g_cloning == Cloning::kRefused || u.stream || r.from->stream) return 0;
  Err e = os().clone_range(r.from->handle, r.at, u.handle, u.file_pos, r.len);
  if (e == Err::kInvalid) {
    g_cloning = Cloning::kRefused;
    return 0;
  }
  if (e == Err::kOk) {
    g_cloning = Cloning::kWorks;
    *cloned = true;
    u.file_pos += static_cast<std::int64_t>(r.len);
    u.run = {};
    // Writes go on after the clone.
    e = os().seek(u.handle, u.file_pos);
    if (e == Err::kOk) return 0;
  }
  return failed_write(e);
}

// Before the block of `from` takes other bytes: a run it holds that is not cloned becomes the
// pending bytes of the unit that owes it, at the same place in that unit's block (which holds
// nothing while a run is pending), and goes out when that block would.
// A failure is that unit's failed write.
Status hand_over_runs_from(const Unit& from) {
  if (g_cloning == Cloning::kWorks) return {};  // a run then needs only the file
  for (Unit& u : unit_slots()) {
    if (u.run.from != &from) continue;
    bool cloned = false;
    if (const int e = clone_run(u, &cloned))
      return Status::error(e, StmtKind::kWrite, u.unit_name());
    if (cloned) continue;
    const char* p = held(from, u.run.at, u.run.len);
    u.base = static_cast<std::size_t>(p - from.block.get());
    u.pos = u.base + u.run.len;
    std::memcpy(u.block.get() + u.base, p, u.run.len);
    u.run = {};
  }
  return {};
}

// Devices and streams: there is nothing to cut and no position to return to.
bool is_seekable(const Unit& u) {
  return !u.stream && (u.device == Device::kNone || u.device == Device::kNamed);
}

}  // namespace

Block& Block::operator=(Block&& b) noexcept {
  std::swap(raw_, b.raw_);
  std::swap(data_, b.data_);
  return *this;
}

bool Block::allocate() {
  std::free(raw_);
  raw_ = static_cast<char*>(std::malloc(kFileBlockSize + kPage - 1));
  const auto at = reinterpret_cast<std::uintptr_t>(raw_);
  data_ = raw_ == nullptr ? nullptr : raw_ + ((kPage - at % kPage) % kPage);
  return raw_ != nullptr;
}

void io_init() {
  g_cloning = Cloning::kUntried;
  g_watch = nullptr;
}

void watch_blocks(void (*watch)()) {
  g_watch = watch;
}

int failed_write(Err e) {
  return e == Err::kInterrupted ? kInterrupted : write_error(e);
}

int flush_run(Unit& u) {
  if (u.run.from == nullptr) return 0;
  // The write may wait for a slow reader: an interrupt that came first ends the run here, and
  // the end of the run sends the run out.
  if (interrupt_pending()) return kInterrupted;
  bool cloned = false;
  if (const int e = clone_run(u, &cloned); e != 0 || cloned) return e;
  const Run r = std::exchange(u.run, Run{});
  if (const char* p = held(*r.from, r.at, r.len)) return write_all(u, p, r.len);
  return write_again(u, r);
}

int flush_block(Unit& u) {
  if (int e = flush_run(u)) return e;
  if (!u.writing || u.pos == u.base) return 0;
  if (interrupt_pending()) return kInterrupted;
  const std::size_t n = u.pos - u.base;
  const char* from = u.block.get() + u.base;
  u.pos = 0;
  u.base = 0;
  return write_all(u, from, n);
}

int start_writing(Unit& u) {
  if (u.writing) return 0;
  if (u.read_only) return kErrWriteFailed;
  std::int64_t here = u.file_pos - static_cast<std::int64_t>(u.end - u.pos);
  u.writing = true;
  u.pos = 0;
  u.end = 0;
  u.file_pos = here;
  if (!is_seekable(u)) return 0;
  Err e = os().seek(u.handle, here);
  if (e == Err::kOk) e = os().truncate_here(u.handle);
  return e == Err::kOk ? 0 : write_error(e);
}

int put_bytes(Unit& u, const char* p, std::size_t n) {
  if (int e = flush_run(u)) return e;
  char* block = u.block.get();
  while (n > 0) {
    std::size_t take = std::min(n, kFileBlockSize - u.pos);
    std::memcpy(block + u.pos, p, take);
    u.pos += take;
    p += take;
    n -= take;
    if (u.pos == kFileBlockSize) {
      if (int e = flush_block(u)) return e;
    }
  }
  return 0;
}

int write_run(Unit& u, std::int32_t from, std::int64_t at, const char* data, std::size_t n) {
  Run& r = u.run;
  if (r.from != nullptr && r.from->number == from &&
      r.at + static_cast<std::int64_t>(r.len) == at && r.len + n <= kCloneMax) {
    // Bytes that follow a pending run were read in place as it was: that unit's block has not
    // changed since, or clones work and its file is enough.
    r.len += n;
  } else {
    Unit* src = find_unit(from);
    if (src == nullptr || held(*src, at, n) == nullptr) return put_bytes(u, data, n);
    if (int e = flush_block(u)) return e;
    r = {src, at, n};
  }
  // A run goes out as soon as it is as long as a block; once clones work, at kCloneMax.
  return r.len >= (g_cloning == Cloning::kWorks ? kCloneMax : kFileBlockSize) ? flush_run(u) : 0;
}

int write_stretch(Unit& u, Unit& from, std::int64_t at, std::int64_t n) {
  if (int e = flush_block(u)) return e;
  while (n > 0) {
    const std::size_t most = g_cloning == Cloning::kWorks ? kCloneMax : kFileBlockSize;
    const auto len = static_cast<std::size_t>(std::min<std::int64_t>(n, std::int64_t(most)));
    u.run = {&from, at, len};
    if (int e = flush_run(u)) {
      u.run = {};  // a stretch cut short is not owed any more
      return e;
    }
    at += static_cast<std::int64_t>(len);
    n -= static_cast<std::int64_t>(len);
  }
  return 0;
}

int start_reading(Unit& u) {
  if (!u.writing) return 0;
  int e = flush_block(u);
  u.writing = false;
  u.pos = 0;
  u.end = 0;
  return e;
}

Status refill(Unit& u) {
  if (g_watch != nullptr) g_watch();
  RETURN_IF_FAILED(hand_over_runs_from(u));
  // Once per block, and before a read that may wait.
  RETURN_IF_FAILED(check_interrupt());
  platform::IoResult r = os().read(u.handle, u.block.get(), kFileBlockSize);
  // An interrupt is not a read error: the run ends by the signal.
  if (r.err == Err::kInterrupted) return Status::interrupt();
  if (r.err != Err::kOk) return Status::error(kErrReadFailed, StmtKind::kRead, u.unit_name());
  if (r.count == 0) {
    u.at_end = true;
    return Status::error(kErrEndOfFile, StmtKind::kRead, u.unit_name());
  }
  u.pos = 0;
  u.end = r.count;
  u.file_pos += static_cast<std::int64_t>(r.count);
  return {};
}

Status seek_to(Unit& u, std::int64_t at, bool* moved) {
  *moved = false;
  if (u.writing || !is_seekable(u)) return {};
  RETURN_IF_FAILED(hand_over_runs_from(u));
  if (os().seek(u.handle, at) != Err::kOk) return {};
  u.file_pos = at;
  u.pos = 0;
  u.end = 0;
  u.at_end = false;
  *moved = true;
  return {};
}

Status get_bytes(Unit& u, char* p, std::size_t n, std::size_t* placed) {
  if (int e = start_reading(u)) return Status::error(e, StmtKind::kRead, u.unit_name());
  while (n > 0) {
    if (u.pos == u.end) RETURN_IF_FAILED(refill(u));
    std::size_t take = std::min(n, u.end - u.pos);
    std::memcpy(p, u.block.get() + u.pos, take);
    u.pos += take;
    p += take;
    n -= take;
    *placed += take;
  }
  return {};
}

Status send_runs_from(const Unit& from, StmtKind kind) {
  for (Unit& u : unit_slots()) {
    if (u.run.from != &from) continue;
    if (int e = flush_run(u)) return Status::error(e, kind, u.unit_name());
  }
  return {};
}

}  // namespace rt
