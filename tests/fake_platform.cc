#include "fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/console.h"
#include "runtime/run.h"

namespace fake {

using platform::Access;
using platform::Err;
using platform::Handle;

void start(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"prog"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  if (!rt::start_runtime(static_cast<int>(argv.size()), argv.data()).ok()) std::abort();
}

void start(FakePlatform& fp, std::string input, bool terminal) {
  fp.stdin_data = std::move(input);
  fp.stdin_terminal = terminal;
  fp.stdout_terminal = fp.stdout_terminal || terminal;
  start();
}

std::string flushed(const FakePlatform& fp) {
  (void)rt::console_flush();
  return fp.out;
}

FakePlatform::FakePlatform() {
  platform::install(*this);
}

FakePlatform::~FakePlatform() {
  platform::install(platform::native());
}

int FakePlatform::open_handles() const {
  return static_cast<int>(open_.size());
}

std::string FakePlatform::contents(const std::string& name) const {
  auto it = files.find(name);
  return it == files.end() ? std::string() : it->second->data;
}

void FakePlatform::put(const std::string& name, std::string data) {
  auto f = std::make_shared<File>();
  f->data = std::move(data);
  f->index = next_index_++;
  files[name] = f;
}

std::string FakePlatform::name_of(Handle h) const {
  if (h == 1 || h == 2) return h == 1 ? "<stdout>" : "<stderr>";
  auto it = open_.find(h);
  return it == open_.end() ? "" : it->second.name;
}

bool FakePlatform::open_for(Handle h, Access a) const {
  auto it = open_.find(h);
  return it != open_.end() &&
         it->second.access != (a == Access::kRead ? Access::kWrite : Access::kRead);
}

platform::OpenResult FakePlatform::open_file(const char* name, Access access, bool create) {
  if (*name == '\0') return {platform::kNoHandle, Err::kInvalid};
  Open o{name, nullptr, 0, access};
  if (std::strcmp(name, null_device()) != 0) {
    auto it = files.find(name);
    if (create) {
      if (it != files.end()) return {platform::kNoHandle, Err::kExists};
      put(name, "");
      it = files.find(name);
    } else if (it == files.end()) {
      return {platform::kNoHandle, Err::kNotFound};
    }
    o.file = it->second;
  }
  Handle h = next_handle_++;
  open_[h] = o;
  return {h, Err::kOk};
}

platform::OpenResult FakePlatform::open_existing(const char* name, Access access, platform::Share) {
  return open_file(name, access, false);
}

platform::OpenResult FakePlatform::create_new(const char* name, Access access, platform::Share) {
  return open_file(name, access, true);
}

platform::IoResult FakePlatform::read(Handle h, void* buf, std::size_t n) {
  if (h == 0) {
    ++stdin_reads;
    std::size_t left = stdin_data.size() - stdin_pos_;
    std::size_t take = std::min({n, left, stdin_chunk});
    if (stdin_terminal) {
      auto nl = stdin_data.find('\n', stdin_pos_);
      if (nl != std::string::npos) take = std::min(take, nl + 1 - stdin_pos_);
    }
    std::memcpy(buf, stdin_data.data() + stdin_pos_, take);
    stdin_pos_ += take;
    return {take, Err::kOk};
  }
  if (!open_for(h, Access::kRead)) return {0, Err::kAccessDenied};
  Open& o = open_.at(h);
  if (!o.file) return {0, Err::kOk};
  std::size_t left = o.file->data.size() > o.pos ? o.file->data.size() - o.pos : 0;
  std::size_t take = std::min(n, left);
  std::memcpy(buf, o.file->data.data() + o.pos, take);
  o.pos += take;
  return {take, Err::kOk};
}

platform::IoResult FakePlatform::write(Handle h, const void* buf, std::size_t n) {
  const char* p = static_cast<const char*>(buf);
  if (h == 1 || h == 2) {
    write_calls.push_back({name_of(h), n});
    (h == 1 ? out : err).append(p, n);
    return {n, Err::kOk};
  }
  if (!open_for(h, Access::kWrite)) return {0, Err::kAccessDenied};
  Open& o = open_.at(h);
  write_calls.push_back({o.name, n});
  if (o.file) {
    std::string& d = o.file->data;
    if (d.size() < o.pos + n) d.resize(o.pos + n);
    std::memcpy(d.data() + o.pos, p, n);
    o.pos += n;
  }
  return {n, Err::kOk};
}

Err FakePlatform::seek(Handle h, std::int64_t offset) {
  auto it = open_.find(h);
  if (it == open_.end() || offset < 0) return Err::kIo;
  it->second.pos = static_cast<std::size_t>(offset);
  return Err::kOk;
}

Err FakePlatform::clone_range(Handle src, std::int64_t src_offset, Handle dst,
                              std::int64_t dst_offset, std::size_t length) {
  if (!clones) return Err::kInvalid;
  auto from = open_.find(src);
  auto to = open_.find(dst);
  if (from == open_.end() || to == open_.end() || !from->second.file || !to->second.file) {
    return Err::kInvalid;
  }
  const std::string& s = from->second.file->data;
  std::string& d = to->second.file->data;
  const auto at = static_cast<std::size_t>(src_offset);
  const auto place = static_cast<std::size_t>(dst_offset);
  if (at + length > s.size()) return Err::kInvalid;
  if (d.size() < place + length) d.resize(place + length);
  std::memcpy(d.data() + place, s.data() + at, length);
  return Err::kOk;
}

Err FakePlatform::truncate_here(Handle h) {
  auto it = open_.find(h);
  if (it == open_.end()) return Err::kIo;
  if (it->second.file) it->second.file->data.resize(it->second.pos);
  return Err::kOk;
}

Err FakePlatform::close(Handle h) {
  if (h == 1) return Err::kOk;
  return open_.erase(h) != 0 ? Err::kOk : Err::kIo;
}

Err FakePlatform::remove(const char* name) {
  return files.erase(name) ? Err::kOk : Err::kNotFound;
}

bool FakePlatform::exists(const char* name) {
  return files.count(name) != 0 || std::strcmp(name, null_device()) == 0;
}

std::size_t FakePlatform::last_component(std::string_view path) {
  if (!windows_names) return path.find_last_of('/') + 1;
  std::size_t start = path.find_last_of("\\/") + 1;
  if (start == 0 && path.size() >= 2 && path[1] == ':') start = 2;
  return start;
}

bool FakePlatform::identity(Handle h, platform::FileId* id) {
  auto it = open_.find(h);
  if (it == open_.end() || !it->second.file) return false;
  *id = {1, it->second.file->index};
  return true;
}

Handle FakePlatform::std_handle(platform::StdStream s) {
  return static_cast<Handle>(s);
}

bool FakePlatform::is_terminal(Handle h) {
  return (h == 0 && stdin_terminal) || (h == 1 && stdout_terminal);
}

// A test looks at what the end of the run returns (rt::end_run); nothing ends the test process.
void FakePlatform::exit_process(int) {
  std::abort();
}

void FakePlatform::exit_by_signal(int) {
  std::abort();
}

}  // namespace fake
