// Arbitrary layouts and values through the write statements: into a character variable of
// exact size, to the console, and list-directed. Every statement must end, either normally or
// with a failure that the end of the run reports, without touching memory outside its target.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/layout.h"
#include "runtime/run.h"
#include "runtime/units.h"

namespace {

class Reader {
 public:
  Reader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  std::uint8_t byte() { return n_ > 0 ? (--n_, *p_++) : 0; }
  std::string_view take(std::size_t n) {
    n = n < n_ ? n : n_;
    std::string_view s(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    n_ -= n;
    return s;
  }
  std::string_view rest() { return take(n_); }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::uint8_t mode = in.byte();
  const std::size_t var_len = in.byte();
  const int nvalues = in.byte() % 40;  // sometimes more than a statement holds

  fake::FakePlatform fp;
  fp.stdout_terminal = (mode & 4) != 0;
  {
    fake::start();
    std::unique_ptr<char[]> var(new char[var_len]);
    // Values are read before the layout, which takes the rest of the input.
    struct Val {
      std::uint8_t kind;
      std::int32_t num;
      std::string_view text;
    } vals[40];
    for (int k = 0; k < nvalues; ++k) {
      Val& v = vals[k];
      v.kind = in.byte() % 3;
      if (v.kind == 2) {
        v.text = in.take(in.byte());
      } else {
        std::uint32_t u = 0;
        for (int b = 0; b < 4; ++b) u = u << 8 | in.byte();
        v.num = static_cast<std::int32_t>(u);
      }
    }
    const std::string_view layout = (mode & 3) == 2 ? std::string_view() : in.rest();
    if ((mode & 3) == 0) {
      rt::write_begin_internal(var.get(), var_len, layout);
    } else {
      rt::write_begin((mode & 8) != 0 ? 6 : rt::kDefaultUnit, layout);
    }
    for (int k = 0; k < nvalues; ++k) {
      const Val& v = vals[k];
      if (v.kind == 0) rt::write_int4(v.num);
      if (v.kind == 1) rt::write_int2(static_cast<std::int16_t>(v.num));
      if (v.kind == 2) rt::write_text(v.text);
    }
    rt::Status s = rt::write_end();
    if (s.ok()) s = rt::console_flush();
    (void)rt::end_run(s);
  }
  return 0;
}
