#include "runtime/stop.h"

#include "platform/platform.h"
#include "runtime/errors.h"

namespace rt {
namespace {

bool ending = false;    // the process end has begun: units are being (or were) closed
int chosen_status = 0;  // 0, or 1 once any report was written
RunEnd hooks;

void put_err(std::string_view s) {
  platform::Platform& p = platform::current();
  (void)p.write(p.std_handle(platform::StdStream::kErr), s.data(), s.size());
}

}  // namespace

void end_init(const RunEnd& run_end) {
  ending = false;
  chosen_status = 0;
  hooks = run_end;
}

void report_runtime_error(int n, StmtKind kind, std::string_view name) {
  // Console output written before the failure comes first.
  if (hooks.flush_console != nullptr) hooks.flush_console();
  char value[6] = "F0000";
  for (int v = error_value(n), i = 4; i >= 1; --i, v /= 10)
    value[i] = static_cast<char>('0' + v % 10);
  put_err("\r\nrun-time error ");
  put_err(value);
  const char* msg = error_message(n);
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
  if (hooks.close_all != nullptr) {
    hooks.close_all(chosen_status != 0 || platform::current().pending_interrupt() != 0);
  }
  if (hooks.flush_console != nullptr) hooks.flush_console();
  if (int sig = platform::current().pending_interrupt()) platform::exit_by_signal(sig);
  platform::exit_process(chosen_status);
}

void check_interrupt() {
  if (ending || platform::current().pending_interrupt() == 0) return;
  // No message: the units are flushed and closed, then the signal ends the process.
  end_process(0);
}

}  // namespace rt
