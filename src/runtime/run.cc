#include "runtime/run.h"

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/args.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/input.h"
#include "runtime/layout.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace rt {
namespace {

void put_err(std::string_view s) {
  platform::Platform& p = platform::current();
  (void)p.write(p.std_handle(platform::StdStream::kErr), s.data(), s.size());
}

// The run-time error report of `s` on standard error, in `form`. The console output written
// before the failure comes first; when it cannot be written, that failure is the one reported
// (and an interrupt then ends the run without a report). Returns the exit status.
int report(Status s, Form form) {
  if (const Status flushed = console_flush(); !flushed.ok()) s = flushed;
  if (s.what() != Status::What::kError) return 0;
  char value[6] = "F0000";
  for (int v = error_value(s.number()), i = 4; i >= 1; --i, v /= 10)
    value[i] = static_cast<char>('0' + v % 10);
  const char* msg = error_message(s.number());
  const auto kind = static_cast<int>(s.kind());
  if (form == Form::kLines) {
    // In the order of StmtKind.
    static constexpr std::string_view kVerb[] = {"close ", "write ", "open ", "read ", ""};
    std::string line = "Chunkit_: ";
    if (s.kind() != StmtKind::kGeneral) {
      const std::string_view name = s.name();
      line.append("cannot ").append(kVerb[kind]);
      line.append(name == "CON"   ? "standard output"
                  : name == "ERR" ? "standard error"
                                  : escaped(name));
      line.append(": ");
    }
    line.append(msg).append(" (").append(value).append(")\n");
    put_err(line);
    return 1;
  }
  // Texts by statement kind, in the order of StmtKind.
  static constexpr std::string_view kKindText[] = {": CLOSE(", ": WRITE(", ": OPEN(", ": READ(",
                                                   "\r\n- "};
  put_err("\r\nrun-time error ");
  put_err(value);
  put_err(kKindText[kind]);
  if (s.kind() != StmtKind::kGeneral) {
    put_err(s.name());
    put_err(*msg != '\0' ? ")\r\n- " : ")\r\n");
  }
  put_err(msg);
  put_err("\r\n");
  return 1;
}

// The stop message: the owed line end, then the text and the line end. (The modes for programs
// mute the console, so it shows only a stop text, the version line.)
Status stop_message(std::string_view text, Form form) {
  RETURN_IF_FAILED(console_end_line_for_stop());
  if (text.empty()) return console_put("Stop - Program terminated.\r\n");
  RETURN_IF_FAILED(console_put(text));
  return console_put(form == Form::kLines ? "\n" : "\r\n");
}

}  // namespace

Status start_runtime(int argc, const char* const* argv) {
  status_init();
  if (!platform::current().start_process()) {
    return Status::startup("R6030\r\n- standard handles cannot be opened on the null device\r\n");
  }
  if (!args_init(argc, argv)) {
    return Status::startup("R6008\r\n- not enough space for arguments\r\n");
  }
  layout_init();
  input_init();
  console_init();
  units_init();
  return {};
}

Ending end_run(Status s, Form form) {
  using What = Status::What;
  console_status_clear();
  if (s.what() == What::kStartup) {
    put_err("\r\nruntime error ");
    put_err(s.name());
    return {255, 0};
  }
  int status = 0;
  if (s.ok() || s.what() == What::kStop) {
    const Status stopped = stop_message(s.what() == What::kStop ? s.name() : "", form);
    if (!stopped.ok()) status = report(stopped, form);
  } else if (s.what() == What::kError) {
    status = report(s, form);
  } else if (s.what() == What::kUsage) {
    status = 2;
  }
  // An interrupt during the closing waits for it: every unit is written out first.
  begin_ending();
  platform::Platform& p = platform::current();
  Status failed[kUnitSlots];
  const std::size_t n = close_all_units(status != 0 || p.pending_interrupt() != 0, failed);
  for (std::size_t i = 0; i < n; ++i) status = report(failed[i], form) != 0 ? 1 : status;
  // Then the owed console line end, and standard output is closed.
  Status closed = console_end_line_for_stop();
  const Status shut = console_close();
  if (closed.ok()) closed = shut;
  if (!closed.ok() && report(closed, form) != 0) status = 1;
  return {status, p.pending_interrupt()};
}

void end_by_broken_pipe() {
  platform::current().end_by_broken_pipe();
}

void exit_run(Ending ending) {
  if (ending.signal != 0) platform::exit_by_signal(ending.signal);
  platform::exit_process(ending.status);
}

}  // namespace rt
