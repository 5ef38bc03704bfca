// How a run inside the test process ended: a piece of the tool returns its Status, and the end
// of the run writes what it writes and says how the process would end.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "runtime/console.h"
#include "runtime/run.h"
#include "runtime/status.h"
#include "runtime/units.h"

namespace fake {

// Ends the run with what a piece of it returned. Returns the exit status, or minus the signal
// that ends it.
inline int status_of_end(rt::Status s) {
  const rt::Ending e = rt::end_run(s);
  return e.signal != 0 ? -e.signal : e.status;
}
template <class F>
int status_of_end(F body) {
  return status_of_end(rt::Status(body()));
}

// Runs a statement. Returns the error value of the report that ended the run, or 0 when the run
// went on.
template <class F>
int error_of(const FakePlatform& fp, F statement) {
  const rt::Status s = statement();
  if (s.ok()) return 0;
  EXPECT_EQ(status_of_end(s), 1);
  auto at = fp.err.find("run-time error F");
  return at == std::string::npos ? -1 : std::stoi(fp.err.substr(at + 16, 4));
}

// Writes out and closes every unit and standard output as the end of a run does, without its
// message or reports. Returns how many units failed to close.
inline std::size_t close_all() {
  rt::Status failed[rt::kUnitSlots];
  const std::size_t n = rt::close_all_units(false, failed);
  (void)rt::console_end_line_for_stop();
  (void)rt::console_close();
  return n;
}

}  // namespace fake
