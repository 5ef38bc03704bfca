#include "chunkit_/chunkit_.h"

#include <cstring>
#include <string_view>

#include "chunkit_/copy.h"
#include "chunkit_/naming.h"
#include "chunkit_/params.h"
#include "chunkit_/state.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/layout.h"
#include "runtime/run.h"
#include "runtime/stop.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

using namespace std::string_view_literals;

// One usage row: a layout and up to two texts. Row 10 carries the byte 0xF0 unchanged.
struct UsageRow {
  std::string_view layout;  // null data: list-directed
  std::string_view first, second;
};

constexpr UsageRow kUsage[] = {
    {"(/2x,74(1h-))", {}, {}},
    {"(2a)", "  COPIES SECTIONS OF THE INPUT FILE TO THE", " OUTPUT FILE. Command-line format:"},
    {"(2a)", "    Chunkit_ input output s#         ", "  (skip rec #,        copy the rest)"},
    {"(2a)", "      or", {}},
    {"(2a)", "    Chunkit_ input output s#-##      ", "  (skip recs # to ##, copy the rest)"},
    {"(2a)", "      or", {}},
    {"(2a)", "    Chunkit_ input output s#-## s@-@@", "  (skip recs # to ## & @ to @@; @>##)"},
    {"(2a)", "      or", {}},
    {"(2a)", "    Chunkit_ input output startrec ", "startbyte endrec endbyte "},
    {"(2a)", "        (copy from record,byte to record,", "byte: each record \xF0 a 4-k block)"},
    {{}, {}, {}},
    {"(2a)", "   ZEROES (0) CAN BE USED FOR DEFAULT ", "PARAMETERS (first/last rec/byte)"},
    {{}, {}, {}},
    {"(2a)", "   IF OUTPUT FILE EXISTS, A NEW OUTPUT ", "FILE IS STARTED WITH EXTENSION"},
    {"(2a)", "      .001, .002, .003 ...  (instead of ", "the requested extension if any)"},
    {"(2x,74(1h-)/)", {}, {}},
};

[[noreturn]] void usage() {
  for (const UsageRow& row : kUsage) {
    rt::write_begin(rt::kDefaultUnit, row.layout);
    if (!row.first.empty()) rt::write_text(row.first);
    if (!row.second.empty()) rt::write_text(row.second);
    rt::write_end();
  }
  rt::stop_program();
}

// True when any position of `inname`, trailing blanks included, holds c.
bool namehas(char c) {
  return std::memchr(inname, c, kNameLen) != nullptr;
}

// True when argument 1 is exactly word: its full length, not only the characters kept.
bool arg1_is(std::string_view word) {
  return argstatus == static_cast<int>(word.size()) &&
         std::memcmp(inname, word.data(), word.size()) == 0;
}

// A name without its trailing blanks but followed by exactly one blank.
std::string_view echo_name(const char* name, char (&buf)[kNameLen + 1]) {
  std::size_t n = kNameLen;
  while (n > 0 && name[n - 1] == ' ') --n;
  std::memcpy(buf, name, n);
  buf[n] = ' ';
  return {buf, n + 1};
}

// A name longer than an open takes is never cut down to another name: the run ends with the
// report of its open before anything is opened or created.
void refuse_long_name(std::size_t length, const char* name) {
  if (length <= static_cast<std::size_t>(kNameLen)) return;
  rt::report_runtime_error(rt::kErrInvalidOpen, rt::StmtKind::kOpen, trimmed(name, kNameLen));
}

}  // namespace

void chunkit_main() {
  reset_state();
  rt::open_unit(kConsoleUnit, "CON", {});
  // Decoder reports go to standard error; the tool never opens unit 20 on a file.
  rt::open_unit(kReportUnit, "ERR", {});
  nargs = rt::argcount() - 1;

  next_arg(inname);
  if (argstatus == -1 || namehas('?') || arg1_is("--help") || arg1_is("-h")) usage();
  // The version line is the stop text, in place of the stop message; units close as always.
  if (arg1_is("--version")) rt::stop_program("Chunkit_ " CHUNKIT_VERSION);
  status_line(" input status=    ");
  refuse_long_name(static_cast<std::size_t>(argstatus), inname);
  rt::OpenSpec input;
  input.status = "OLD";
  input.form = "binary";
  input.access = "read";
  rt::open_unit(kInUnit, {inname, kNameLen}, input);

  next_arg(outname);
  status_line(" output status=   ");
  std::size_t outlen = static_cast<std::size_t>(argstatus);
  if (argstatus == -1) {
    rt::write_begin(rt::kDefaultUnit, "(a\\)");
    rt::write_text("  Enter file name to copy to: ");
    rt::write_end();
    outlen = rt::read_console_line(outname, kNameLen);
    if (outlen < kNameLen) std::memset(outname + outlen, ' ', kNameLen - outlen);
  }
  refuse_long_name(outlen, outname);
  open_output();

  char in_echo[kNameLen + 1];
  char out_echo[kNameLen + 1];
  rt::write_begin(rt::kDefaultUnit, "(3a)");
  rt::write_text("  Input,output=");
  rt::write_text(echo_name(inname, in_echo));
  rt::write_text(echo_name(outname, out_echo));
  rt::write_end();

  while (iarg < nargs || irec == -1) {
    take_parameters();
    copy_pass();
  }
  run_end();
}

}  // namespace chunkit
