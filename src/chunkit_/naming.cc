#include "chunkit_/naming.h"

#include <cstdint>
#include <string_view>

#include "chunkit_/state.h"
#include "runtime/layout.h"
#include "runtime/stop.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

constexpr int kNumberScan = 9;              // positions searched for the "." or blank
constexpr std::int32_t kLastVersion = 999;  // the largest number the three digits hold

// Error number whose error value is `value`. Values that reach here always come from the
// run-time's own table, so the search finds one.
int error_number_of(std::int32_t value) {
  int n = 0;
  while (n < 219 && rt::error_value(n) != value) ++n;
  return n;
}

std::string_view trimmed(const char* name, int len) {
  int first = 0;
  while (first < len && name[first] == ' ') ++first;
  int last = len;
  while (last > first && name[last - 1] == ' ') --last;
  return {name + first, static_cast<std::size_t>(last - first)};
}

}  // namespace

void open_output() {
  rt::OpenSpec create;
  create.status = "NEW";
  create.form = "binary";
  create.error_return = true;
  for (;;) {
    std::int32_t result = rt::open_unit(kOutUnit, {outname, kNameLen}, create);
    if (result == 0) return;
    ++iversion;

    int p = 0;
    while (p < kNumberScan && outname[p] != '.' && outname[p] != ' ') ++p;
    // No place for a number, or every number tried: no name is left to try, and going on
    // without an output file would lose the copy, so the failed open ends the run.
    if (p == kNumberScan || iversion > kLastVersion) {
      rt::report_runtime_error(error_number_of(result), rt::StmtKind::kOpen,
                               trimmed(outname, kNameLen));
    }
    outname[p] = '.';
    rt::write_begin_internal(outname + p + 1, 3, "(i3.3)");
    rt::write_int4(iversion);
    rt::write_end();
  }
}

}  // namespace chunkit
