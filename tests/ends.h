// How a run inside the test process ended: the fake platform's exits are exceptions.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fake_platform.h"

namespace fake {

// Runs body, which must end the run. Returns the exit status, or minus the signal that ended it.
inline int status_of_end(const std::function<void()>& body) {
  try {
    body();
  } catch (const Exit& e) {
    return e.signal != 0 ? -e.signal : e.status;
  }
  ADD_FAILURE() << "the run did not end";
  return -999;
}

// Runs a statement. Returns the error value of the report that ended the run, or 0 when the run
// went on.
template <class F>
int error_of(const FakePlatform& fp, F statement) {
  try {
    statement();
  } catch (const Exit& e) {
    EXPECT_EQ(e.status, 1);
    auto at = fp.err.find("run-time error F");
    return at == std::string::npos ? -1 : std::stoi(fp.err.substr(at + 16, 4));
  }
  return 0;
}

}  // namespace fake
