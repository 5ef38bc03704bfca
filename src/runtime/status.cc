#include "runtime/status.h"

#include "platform/platform.h"
#include "runtime/errors.h"

namespace rt {
namespace {

bool g_ending = false;

}  // namespace

bool Status::at_end() const {
  return what() == What::kError && (number() == kErrEndOfFile || number() == kErrAtEnd);
}

std::int32_t Status::value() const {
  if (ok()) return 0;
  return at_end() ? -1 : error_value(number());
}

bool interrupt_pending() {
  return !g_ending && platform::current().pending_interrupt() != 0;
}

void begin_ending() {
  g_ending = true;
}

void status_init() {
  g_ending = false;
}

}  // namespace rt
