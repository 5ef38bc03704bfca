#include "platform/platform.h"

#include <cstdlib>

namespace platform {
namespace {
Platform* installed = nullptr;
}  // namespace

Platform& current() {
  return installed != nullptr ? *installed : native();
}

void install(Platform& p) {
  installed = &p;
}

void exit_process(int status) {
  current().exit_process(status);
  std::abort();  // a platform's exit never returns
}

void exit_by_signal(int signal) {
  current().exit_by_signal(signal);
  std::abort();
}

}  // namespace platform
