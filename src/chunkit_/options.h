// The command line's options, and the checks that the modes for programs make of every argument
// before anything is opened or created.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "chunkit_/mode.h"

namespace chunkit {

enum class Action { kRun, kHelp, kVersion, kUsageError };

struct Invocation {
  Action action = Action::kRun;
  Mode mode = Mode::kCopy;
  std::int32_t taken = 0;  // words the options took: the input name is the next one
  std::string error;       // what is wrong, for kUsageError
  Selection selection;     // --from, --to, --type
  SplitBy split;           // --split BY
};

// Reads the options at the front of args (argument 1 first): --list, --batch, --summary,
// --split BY, --help, -h, --version, --from T, --to T and --type LIST (each once, with a mode for
// programs), --gap SECONDS (with --summary), and -- after which every word is an argument. For
// the modes for programs the arguments after the options are checked: the names (a pattern for
// --split), up to four positions, then skip ranges only, ascending and apart. Any other word
// beginning with -- is no option.
Invocation read_command_line(std::span<const std::string_view> args);

// The records a well-formed skip-range argument (s#, s#-## or s-##, S too) names, as the copy
// reads them; nothing for any other argument.
struct SkipRange {
  std::int32_t first, last;
};
std::optional<SkipRange> skip_range(std::string_view arg);

}  // namespace chunkit
