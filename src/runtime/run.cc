#include "runtime/run.h"

#include "platform/platform.h"
#include "runtime/args.h"
#include "runtime/console.h"
#include "runtime/input.h"
#include "runtime/layout.h"
#include "runtime/stop.h"
#include "runtime/units.h"

namespace rt {

void start_runtime(int argc, const char* const* argv) {
  end_init({console_flush, close_all_units});
  if (!platform::current().start_process()) {
    fatal_startup("R6030\r\n- standard handles cannot be opened on the null device\r\n");
  }
  if (!args_init(argc, argv)) fatal_startup("R6008\r\n- not enough space for arguments\r\n");
  layout_init();
  input_init();
  console_init();
  units_init();
}

void stop_program(std::string_view text) {
  console_end_line_for_stop();
  if (text.empty()) {
    console_put("Stop - Program terminated.\r\n");
  } else {
    console_put(text);
    console_put("\r\n");
  }
  end_process(0);
}

}  // namespace rt
