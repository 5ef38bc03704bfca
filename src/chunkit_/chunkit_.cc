#include "chunkit_/chunkit_.h"

#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chunkit_/copy.h"
#include "chunkit_/modes.h"
#include "chunkit_/naming.h"
#include "chunkit_/options.h"
#include "chunkit_/params.h"
#include "chunkit_/split.h"
#include "chunkit_/state.h"
#include "chunkit_/summary.h"
#include "runtime/args.h"
#include "runtime/console.h"
#include "runtime/errors.h"
#include "runtime/layout.h"
#include "runtime/run.h"
#include "runtime/status.h"
#include "runtime/text.h"
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
};
constexpr UsageRow kUsageEnd = {"(2x,74(1h-)/)", {}, {}};

// What --help adds before the closing rule: the modes for programs.
constexpr UsageRow kHelpRows[] = {
    {{}, {}, {}},
    {"(a)", "   FOR PROGRAMS: no questions, no console text, lines ending in LF alone:", {}},
    {"(a)", "    Chunkit_ --list input [positions] [s#-## ...]", {}},
    {"(a)", "        (one tab-separated line for each record a copy writes bytes of:", {}},
    {"(a)", "         record offset length type digits date time note when)", {}},
    {"(a)", "    Chunkit_ --batch input output [positions] [s#-## ...]", {}},
    {"(a)", "        (checks every argument first, copies, then writes one line:", {}},
    {"(a)", "         the name created, the records and the bytes written)", {}},
    {"(a)", "    Chunkit_ --summary input [positions] [s#-## ...]", {}},
    {"(a)", "        (records, types, time covered, gaps and damage; --gap SECONDS)", {}},
    {"(a)", "    Chunkit_ --split BY input pattern [positions] [s#-## ...]", {}},
    {"(a)", "        (a file per day, type or N records: fields %Y %y %j %m %d %t %n;", {}},
    {"(a)", "         all the files or none, then a line for each as --batch writes)", {}},
    {"(a)", "   Positions: startrec startbyte endrec endbyte, missing ones 0. Skip", {}},
    {"(a)", "   ranges ascend. Exit status 2 for a usage error. -- ends the options.", {}},
    {"(a)", "   Options before the input: --from T and --to T keep the records whose", {}},
    {"(a)", "   time is from T and before T (T: YY-DDD, YYYY-DDD or YYYY-MM-DD, then", {}},
    {"(a)", "   THH:MM[:SS] if wanted); --type 2,3 keeps those types.", {}},
    {"(a)", "   An input or output - is standard input or output (the line then goes", {}},
    {"(a)", "   to standard error).", {}},
};

rt::Status usage_rows(std::span<const UsageRow> rows) {
  for (const UsageRow& row : rows) {
    rt::write_begin(rt::kDefaultUnit, row.layout);
    if (!row.first.empty()) rt::write_text(row.first);
    if (!row.second.empty()) rt::write_text(row.second);
    RETURN_IF_FAILED(rt::write_end());
  }
  return {};
}

// The usage text; with the modes for programs when `help` (--help, -h). The run then stops.
rt::Status usage(bool help) {
  RETURN_IF_FAILED(usage_rows(kUsage));
  if (help) RETURN_IF_FAILED(usage_rows(kHelpRows));
  RETURN_IF_FAILED(usage_rows({&kUsageEnd, 1}));
  return rt::Status::stop({});
}

// Set by --version: its line ends in LF alone.
bool g_version = false;

// The arguments as the options see them, argument 1 first.
std::vector<std::string_view> arguments() {
  std::vector<std::string_view> args;
  for (std::int32_t n = 1; n < rt::argcount(); ++n) args.push_back(rt::word(n));
  return args;
}

// True when any position of `inname`, trailing blanks included, holds c.
bool namehas(char c) {
  return std::memchr(inname, c, kNameLen) != nullptr;
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
rt::Status refuse_long_name(std::size_t length, const char* name) {
  if (length <= static_cast<std::size_t>(kNameLen)) return {};
  return rt::Status::error(rt::kErrInvalidOpen, rt::StmtKind::kOpen, rt::trim({name, kNameLen}));
}

// Takes the output name (from its argument, or typed at the prompt), creates the output file
// and echoes the two names.
rt::Status open_and_echo_output() {
  next_arg(outname);
  RETURN_IF_FAILED(status_line(" output status=   "));
  std::size_t outlen = static_cast<std::size_t>(argstatus);
  if (argstatus == -1) {
    rt::write_begin(rt::kDefaultUnit, "(a\\)");
    rt::write_text("  Enter file name to copy to: ");
    RETURN_IF_FAILED(rt::write_end());
    RETURN_IF_FAILED(rt::read_console_line(outname, kNameLen, &outlen));
    if (outlen < kNameLen) std::memset(outname + outlen, ' ', kNameLen - outlen);
  }
  RETURN_IF_FAILED(refuse_long_name(outlen, outname));
  RETURN_IF_FAILED(open_output());

  char in_echo[kNameLen + 1];
  char out_echo[kNameLen + 1];
  rt::write_begin(rt::kDefaultUnit, "(3a)");
  rt::write_text("  Input,output=");
  rt::write_text(echo_name(inname, in_echo));
  rt::write_text(echo_name(outname, out_echo));
  return rt::write_end();
}

// The passes of the copy over the records the parameters choose, to the normal end of the run
// (Status::stop).
rt::Status passes() {
  while (iarg < nargs || irec == -1) {
    RETURN_IF_FAILED(take_parameters());
    RETURN_IF_FAILED(copy_pass());
  }
  return run_end();
}

// The argument after which the passes of a summary or a split take theirs.
std::int32_t g_first_arg = 0;

// A pass over the records the arguments choose, from the start of the input and the first
// argument after the names again. A summary or a split reads its input more than once: one that
// cannot go back to its start is refused.
rt::Status pass_again() {
  restart_passes(g_first_arg);
  bool moved = false;
  RETURN_IF_FAILED(input.seek(1, &moved));
  if (!moved) {
    return rt::Status::error(rt::kErrOnce, rt::StmtKind::kRead, rt::trim({inname, kNameLen}));
  }
  const rt::Status s = passes();
  return s.what() == rt::Status::What::kStop ? rt::Status{} : s;
}

rt::Status summarise() {
  g_first_arg = iarg;
  RETURN_IF_FAILED(summary_begin());
  for (bool again = true; again;) {
    RETURN_IF_FAILED(pass_again());
    RETURN_IF_FAILED(summary_pass_done(&again));
  }
  return rt::Status::stop({});
}

// The split: the pattern is the argument after the input; one pass plans the pieces.
rt::Status split(SplitBy by) {
  next_arg(outname);
  g_first_arg = iarg;
  RETURN_IF_FAILED(split_begin(by, rt::trim({outname, kNameLen})));
  RETURN_IF_FAILED(pass_again());
  return split_write(pass_again);
}

}  // namespace

rt::Status chunkit_main() {
  reset_state();
  g_version = false;
  RETURN_IF_FAILED(rt::open_unit(kConsoleUnit, "CON", {}));
  // Decoder reports go to standard error; the tool never opens unit 20 on a file.
  RETURN_IF_FAILED(rt::open_unit(kReportUnit, "ERR", {}));
  nargs = rt::argcount() - 1;

  next_arg(inname);
  if (argstatus == -1 || namehas('?')) return usage(false);
  const Invocation inv = read_command_line(arguments());
  switch (inv.action) {
    case Action::kHelp:
      return usage(true);
    case Action::kVersion:
      // The version line is the stop text, in place of the stop message.
      g_version = true;
      return rt::Status::stop("Chunkit_ " CHUNKIT_VERSION);
    case Action::kUsageError:
      return usage_error(inv.error);
    case Action::kRun:
      break;
  }
  mode = inv.mode;
  selection = inv.selection;
  if (mode != Mode::kCopy) {
    rt::console_mute();
    rt::end_by_broken_pipe();
  }
  if (inv.taken > 0) {
    // The input name is the word after the options; "--" alone asks for the usage text.
    iarg = inv.taken;
    next_arg(inname);
    if (argstatus == -1) return usage(false);
  }
  RETURN_IF_FAILED(status_line(" input status=    "));
  RETURN_IF_FAILED(refuse_long_name(static_cast<std::size_t>(argstatus), inname));
  rt::OpenSpec input;
  input.status = "OLD";
  input.form = "binary";
  input.access = "read";
  // In the modes for programs "-" is standard input, read forward.
  if (mode != Mode::kCopy && rt::trim({inname, kNameLen}) == "-") {
    input.standard = platform::StdStream::kIn;
  }
  RETURN_IF_FAILED(rt::open_unit(kInUnit, {inname, kNameLen}, input));
  if (mode == Mode::kSummary) return summarise();
  if (mode == Mode::kSplit) return split(inv.split);
  if (mode == Mode::kList) {
    RETURN_IF_FAILED(list_header());
  } else {
    RETURN_IF_FAILED(open_and_echo_output());
  }
  return passes();
}

rt::Form ending_form() {
  return mode != Mode::kCopy || g_version ? rt::Form::kLines : rt::Form::kConsole;
}

}  // namespace chunkit
