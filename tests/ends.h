// How a run inside the test process ended: the fake platform's exits are exceptions.
#pragma once

#include <gtest/gtest.h>

#include <functional>

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

}  // namespace fake
