// Arbitrary text through the read statements: internal reads with each of the tool's input
// layouts, then console reads of the same text as standard input until the run ends. The first
// byte chooses terminal or redirected handles and the size of the pieces stdin delivers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/input.h"
#include "runtime/run.h"

namespace {

constexpr std::string_view kLayouts[] = {"(a)", "(i10)", "(i5)", "(z3)", "(5i1)", "(6i1)"};

char text_target[80];
std::int32_t int_targets[6];

// Adds the targets the tool gives each layout: a name for "(a)", one digit per "i1".
void add_targets(std::size_t layout) {
  if (layout == 0) {
    rt::read_text(text_target, sizeof text_target);
    return;
  }
  std::size_t n = layout == 4 ? 5 : layout == 5 ? 6 : 1;
  for (std::size_t i = 0; i < n; ++i) rt::read_int4(&int_targets[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  fake::FakePlatform fp;
  fp.stdin_data = text;
  fp.stdin_terminal = (data[0] & 1) != 0;
  fp.stdout_terminal = (data[0] & 2) != 0;
  fp.stdin_chunk = 1 + (data[0] >> 2);

  for (std::size_t l = 0; l < std::size(kLayouts); ++l) {
    fake::start();
    rt::read_begin_internal(text.data(), text.size(), kLayouts[l]);
    add_targets(l);
    (void)rt::end_run(rt::read_end());
  }

  fake::start();
  // Every statement takes at least one line, so the input runs out.
  rt::Status s;
  for (std::size_t i = 0; i <= text.size() && s.ok(); ++i) {
    std::size_t l = i % (std::size(kLayouts) + 1);
    if (l == std::size(kLayouts)) {
      char line[260];
      std::size_t n = 0;
      s = rt::read_console_line(line, sizeof line, &n);
      continue;
    }
    rt::read_begin_console(kLayouts[l]);
    add_targets(l);
    s = rt::read_end();
  }
  if (s.ok()) __builtin_trap();  // the end of input was not reported
  (void)rt::end_run(s);
  return 0;
}
