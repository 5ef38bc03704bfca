// Arbitrary console output in arbitrary flushes at a terminal: after every flush the screen of
// what was sent must be the screen of everything written, on terminals 64 and 80 columns wide.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/run.h"
#include "screen.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fake::FakePlatform fp;
  fp.stdout_terminal = true;
  fake::start();
  screen::Screen sent64(64), sent80(80), all64(64), all80(80);
  std::size_t seen = 0;  // bytes of fp.out already on the sent screens
  // A 0xFF byte ends a flush; the bytes between are written as they are.
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  std::size_t from = 0;
  while (from <= in.size()) {
    std::size_t end = in.find('\xff', from);
    if (end == std::string_view::npos) end = in.size();
    const std::string_view chunk = in.substr(from, end - from);
    (void)rt::console_put(chunk);
    (void)rt::console_flush();
    all64.put(chunk);
    all80.put(chunk);
    const std::string_view fresh = std::string_view(fp.out).substr(seen);
    sent64.put(fresh);
    sent80.put(fresh);
    seen = fp.out.size();
    if (!(sent64 == all64) || !(sent80 == all80)) std::abort();
    from = end + 1;
  }
  return 0;
}
