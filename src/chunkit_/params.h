// Copy parameters: one parameter pass's intake (skip range or four positions, from arguments
// or prompts), and the skip-range parser with the split of a skip-range argument that the
// checks of the modes share.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/status.h"

namespace chunkit {

// The last record a copy reaches when endrec is 0: no file holds as many.
inline constexpr std::int32_t kLastRec = 999999999;

// Writes the status line of the latest fetch: the label, then `argstatus`.
rt::Status status_line(std::string_view label);

// Fetches the next argument and takes the parameters of one pass: the skip-range form
// (`parseskip`, whole file) or the position form (four values from arguments or prompts,
// 0 replaced by its default), with every status line and message.
rt::Status take_parameters();

// Sets `skipstart` and `skipend` from the skip-range argument in `argbuf` (length `argstatus`).
rt::Status parseskip();

// The two number stretches of a skip-range argument (s#, s#-## or s-##): what follows its
// letter up to the first dash, and what follows that dash; without a dash, both are what
// follows the letter. Only the first kArgLen characters count, as the copy keeps no more.
struct SkipStretches {
  std::string_view first, last;
};
SkipStretches skip_stretches(std::string_view arg);

}  // namespace chunkit
