#include "runtime/stop.h"

#include <cstring>

#include "platform/platform.h"
#include "runtime/args.h"
#include "runtime/console.h"
#include "runtime/input.h"
#include "runtime/layout.h"
#include "runtime/units.h"

namespace rt {
namespace {

bool ending = false;    // the process end has begun: units are being (or were) closed
int chosen_status = 0;  // 0, or 1 once any report was written

// One plain line per error the run-time raises.
const char* message(int n) {
  switch (n) {
    case 4:
      return "integer value out of range";
    case 5:
      return "invalid character in integer field";
    case 13:
      return "device cannot be opened with this kind of access";
    case 15:
      return "unit is not connected for binary transfer";
    case 16:
      return "text value met by a numeric layout item";
    case 18:
      return "numeric value met by a text layout item";
    case 20:
      return "unit already connected with another kind of access";
    case 28:
      return "second radix sign in integer field";
    case 29:
      return "radix outside 2 to 36";
    case 41:
      return "not enough memory";
    case 51:
      return "read after the end of the file";
    case 53:
      return "input line too long";
    case 58:
      return "invalid file name or open specifier";
    case 59:
      return "file already connected to another unit";
    case 60:
      return "access to the file denied";
    case 61:
      return "file already exists";
    case 62:
      return "file not found";
    case 63:
      return "too many open files";
    case 64:
      return "too many units connected";
    case 67:
      return "write failed";
    case 68:
      return "write failed: no space left (disk full, quota or file size limit)";
    case 72:
      return "read failed";
    case 73:
      return "end of file met";
    case 81:
      return "literal text in an input layout";
    case 82:
      return "invalid character in hexadecimal field";
    case 89:
      return "record longer than its variable";
    case 91:
      return "list-directed item wider than a line";
    case 97:
      return "width missing in layout";
    case 105:
      return "unclosed text in layout";
    case 106:
      return "invalid character in layout";
    case 107:
      return "minimum digits larger than width in layout";
    default:
      return "run-time failure";
  }
}

void put_err(std::string_view s) {
  platform::Platform& p = platform::current();
  (void)p.write(p.std_handle(platform::StdStream::kErr), s.data(), s.size());
}

}  // namespace

void start_runtime(int argc, const char* const* argv) {
  ending = false;
  chosen_status = 0;
  if (!platform::current().start_process()) {
    fatal_startup("R6030\r\n- standard handles cannot be opened on the null device\r\n");
  }
  if (!args_init(argc, argv)) fatal_startup("R6008\r\n- not enough space for arguments\r\n");
  layout_init();
  input_init();
  console_init();
  units_init();
}

std::int32_t error_value(int n) {
  struct Range {
    int last, offset;
  };
  static constexpr Range kRanges[] = {{10, 96},  {25, 189}, {45, 274}, {71, 354},  {88, 428},
                                      {91, 511}, {93, 608}, {96, 876}, {116, 883}, {219, 585}};
  for (const Range& r : kRanges) {
    if (n <= r.last) return 6000 + n + r.offset;
  }
  return 6000 + n + 585;
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

void report_runtime_error(int n, StmtKind kind, std::string_view name) {
  // Console output written before the failure comes first.
  console_flush();
  char value[6] = "F0000";
  for (int v = error_value(n), i = 4; i >= 1; --i, v /= 10)
    value[i] = static_cast<char>('0' + v % 10);
  put_err("\r\nrun-time error ");
  put_err(value);
  const char* msg = message(n);
  // Texts by statement kind, in the order of StmtKind.
  static constexpr std::string_view kKindText[] = {": CLOSE(", ": WRITE(", ": OPEN(", ": READ(",
                                                   "\r\n- "};
  put_err(kKindText[static_cast<int>(kind)]);
  if (kind != StmtKind::kGeneral) {
    put_err(name);
    put_err(*msg != '\0' ? ")\r\n- " : ")\r\n");
  }
  put_err(msg);
  put_err("\r\n");
  end_process(1);
}

void fatal_startup(std::string_view text) {
  put_err("\r\nruntime error ");
  put_err(text);
  platform::exit_process(255);
}

// A report while the units are being closed comes back here: the closing goes on with the
// units still connected (the failed one is already free), and any report makes the status 1.
// An interrupt that arrived at any time, even during the closing, ends the process by its
// signal once everything is written.
void end_process(int status) {
  ending = true;
  if (status > chosen_status) chosen_status = status;
  close_all_units(chosen_status != 0 || platform::current().pending_interrupt() != 0);
  console_flush();
  if (int sig = platform::current().pending_interrupt()) platform::exit_by_signal(sig);
  platform::exit_process(chosen_status);
}

void check_interrupt() {
  if (ending || platform::current().pending_interrupt() == 0) return;
  // No message: the units are flushed and closed, then the signal ends the process.
  end_process(0);
}

}  // namespace rt
