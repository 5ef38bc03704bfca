// Arbitrary console output in arbitrary flushes at a terminal: after every flush the screen of
// what was sent must be the screen of everything written, on terminals 64 and 80 columns wide.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fake_platform.h"
#include "runtime/layout.h"
#include "runtime/stop.h"
#include "screen.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fake::FakePlatform fp;
  fp.stdout_terminal = true;
  const char* argv[] = {"fuzz"};
  rt::start_runtime(1, argv);
  // A 0xFF byte ends a flush; the bytes between are written as they are.
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string all;
  std::size_t from = 0;
  while (from <= in.size()) {
    std::size_t end = in.find('\xff', from);
    if (end == std::string_view::npos) end = in.size();
    rt::console_put(in.substr(from, end - from));
    all += in.substr(from, end - from);
    rt::console_flush();
    for (std::size_t width : {64u, 80u}) {
      if (screen::shown(fp.out, width) != screen::shown(all, width)) std::abort();
    }
    from = end + 1;
  }
  return 0;
}
