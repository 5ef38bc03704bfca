#include "chunkit_/options.h"

#include <cstddef>
#include <utility>

#include "chunkit_/params.h"
#include "chunkit_/split.h"
#include "chunkit_/state.h"
#include "chunkit_/when.h"
#include "runtime/console.h"
#include "runtime/input.h"

namespace chunkit {
namespace {

// The widths in which the copy reads its numbers: record numbers and skip ranges, bytes.
constexpr std::size_t kRecWidth = 10;
constexpr std::size_t kByteWidth = 5;
constexpr std::size_t kPositions = 4;

bool looks_like_skip(std::string_view arg) {
  return !arg.empty() && (arg[0] == 's' || arg[0] == 'S');
}

Invocation fail(std::string what, std::string_view arg = {}) {
  Invocation inv;
  inv.action = Action::kUsageError;
  inv.error = std::move(what);
  inv.error.append(arg);
  return inv;
}

// A name must be given, not blank, and short enough for an open to take it whole: `missing`
// says it is not given, `named` what the name is.
std::string name_fault(std::string_view missing, std::string_view named,
                       std::span<const std::string_view> rest, std::size_t index) {
  if (index >= rest.size()) return std::string(missing);
  const std::string_view name = rest[index];
  if (name.find_first_not_of(' ') == std::string_view::npos) {
    return std::string(named).append(" is blank");
  }
  if (name.size() > rt::kNameMax) {
    return std::string(named)
        .append(" is longer than ")
        .append(std::to_string(rt::kNameMax))
        .append(" characters: ")
        .append(name);
  }
  return {};
}

// The checks of --list and --summary (one name), --batch (two names) and --split (the input and
// a pattern) on the words after the options.
Invocation check_mode_arguments(Invocation inv, std::span<const std::string_view> rest) {
  const bool split = inv.mode == Mode::kSplit;
  const std::size_t names = inv.mode == Mode::kBatch || split ? 2 : 1;
  const std::string_view missing = split ? "no pattern given" : "no output file given";
  for (std::size_t i = 0; i < names; ++i) {
    std::string fault = i == 0 ? name_fault("no input file given", "input name", rest, i)
                               : name_fault(missing, split ? "pattern" : "output name", rest, i);
    if (!fault.empty()) return fail(std::move(fault));
  }
  // An output name that reads as a position or a skip range is most likely a forgotten one.
  if (names == 2 && (rt::whole_number(rest[1], kRecWidth) || skip_range(rest[1]))) {
    return fail(std::string(missing) + ": " + std::string(rest[1]) +
                " reads as a position or a skip range (write ./" + std::string(rest[1]) +
                " for a file of that name)");
  }
  if (split) {
    if (rest[1] == "-") return fail("--split: the pieces are files, not standard output");
    std::string fault = pattern_fault(rest[1], inv.split);
    if (!fault.empty()) return fail(std::move(fault));
  }
  rest = rest.subspan(names);
  // The copy reads only the first kArgLen characters of an argument.
  for (const std::string_view arg : rest) {
    if (arg.size() > static_cast<std::size_t>(kArgLen)) {
      return fail("argument longer than " + std::to_string(kArgLen) + " characters: ", arg);
    }
  }

  std::size_t positions = 0;
  std::int32_t endrec = kLastRec;
  if (!rest.empty() && !looks_like_skip(rest[0])) {
    for (; positions < kPositions && positions < rest.size(); ++positions) {
      const std::size_t width = positions % 2 == 0 ? kRecWidth : kByteWidth;
      if (const std::optional<std::int32_t> v = rt::whole_number(rest[positions], width)) {
        if (positions == 2 && *v != 0) endrec = *v;
        continue;
      }
      const std::string which =
          std::string("position ").append(1, static_cast<char>('1' + positions));
      if (rest[positions].empty()) return fail(which + " is empty");
      return fail(which + " is not a number: ", rest[positions]);
    }
  }
  std::int64_t last_skipped = INT64_MIN;
  for (std::size_t i = positions; i < rest.size(); ++i) {
    const std::string_view arg = rest[i];
    if (!looks_like_skip(arg)) {
      return fail(positions == kPositions ? "only skip ranges may follow the four positions: "
                                          : "only skip ranges may follow a skip range: ",
                  arg);
    }
    const std::optional<SkipRange> r = skip_range(arg);
    if (!r) return fail("skip range is not s#, s#-## or s-##: ", arg);
    if (r->first > r->last) return fail("skip range ends before it starts: ", arg);
    if (r->first <= last_skipped) {
      return fail("skip ranges must ascend without overlapping: ", arg);
    }
    // The copy takes the next skip range at the first record past the current one (the first
    // after positions at record 1); one it never reaches before endrec would start a further
    // pass over the rest of the file.
    const bool reached = i == positions ? positions == 0 || endrec >= 1 : last_skipped < endrec;
    if (!reached) {
      return fail("skip range lies past the last record to copy (" + std::to_string(endrec) + "): ",
                  arg);
    }
    last_skipped = r->last;
  }
  return inv;
}

}  // namespace

std::optional<SkipRange> skip_range(std::string_view arg) {
  if (!looks_like_skip(arg)) return std::nullopt;
  const SkipStretches s = skip_stretches(arg);
  // Nothing before the dash (s-##) starts the range at 0; the last record is always given.
  std::optional<std::int32_t> first = 0;
  if (!s.first.empty()) first = rt::whole_number(s.first, kRecWidth);
  const std::optional<std::int32_t> last = rt::whole_number(s.last, kRecWidth);
  if (!first || !last) return std::nullopt;
  return SkipRange{*first, *last};
}

namespace {

// Decimal digits, at least one and at most `most`, and nothing else, as a number.
std::optional<std::int64_t> digits_only(std::string_view text, std::size_t most) {
  if (text.empty() || text.size() > most ||
      text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  std::int64_t v = 0;
  for (const char c : text) v = v * 10 + (c - '0');
  return v;
}

// The value of --type: whole numbers joined by commas.
bool read_types(std::string_view list, Selection* sel) {
  sel->by_type = true;
  for (std::size_t at = 0;;) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    std::string_view item = list.substr(at, comma - at);
    const bool negative = item.starts_with('-');
    if (negative) item.remove_prefix(1);
    const std::optional<std::int64_t> magnitude = digits_only(item, 9);
    if (!magnitude) return false;
    const std::int64_t v = negative ? -*magnitude : *magnitude;
    if (v >= Selection::kLowestType && v < Selection::kLowestType + Selection::kTypes)
      sel->types.set(static_cast<std::size_t>(v - Selection::kLowestType));
    if (comma == list.size()) return true;
    at = comma + 1;
  }
}

// Takes the value of --from, --to or --type, args[*i + 1]; empty when it is fine.
std::string read_selection(std::span<const std::string_view> args, std::size_t* i, Selection* sel) {
  const std::string_view option = args[*i];
  const std::string name(option);
  const bool from = option == "--from";
  if (from ? sel->by_from : option == "--to" ? sel->by_to : sel->by_type)
    return name + ": given twice";
  if (*i + 1 >= args.size()) return name + ": no value given";
  const std::string_view value = args[++*i];
  if (option == "--type") {
    return read_types(value, sel) ? std::string{}
                                  : name + ": not a list of types: " + std::string(value);
  }
  const std::optional<std::int64_t> t = parse_time(value);
  if (!t) return name + ": not a date and time: " + std::string(value);
  (from ? sel->by_from : sel->by_to) = true;
  (from ? sel->from : sel->to) = *t;
  return {};
}

}  // namespace

Invocation read_command_line(std::span<const std::string_view> args) {
  Invocation inv;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--from" || a == "--to" || a == "--type") {
      std::string fault = read_selection(args, &i, &inv.selection);
      if (!fault.empty()) return fail(std::move(fault));
      continue;
    }
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--help" || a == "-h") {
      inv.action = Action::kHelp;
      return inv;
    }
    if (a == "--version") {
      inv.action = Action::kVersion;
      return inv;
    }
    if (a == "--list" || a == "--batch" || a == "--summary" || a == "--split") {
      const Mode mode = a == "--list"      ? Mode::kList
                        : a == "--batch"   ? Mode::kBatch
                        : a == "--summary" ? Mode::kSummary
                                           : Mode::kSplit;
      if (mode == Mode::kSplit || inv.mode == Mode::kSplit) {
        if (inv.mode == mode) return fail("--split: given twice");
        if (inv.mode != Mode::kCopy) return fail("--split excludes --list, --batch and --summary");
      }
      if (inv.mode != Mode::kCopy && inv.mode != mode) {
        return fail(mode == Mode::kSummary || inv.mode == Mode::kSummary
                        ? "--summary excludes --list and --batch"
                        : "--list and --batch exclude each other");
      }
      inv.mode = mode;
      if (mode == Mode::kSplit) {
        if (i + 1 >= args.size()) return fail("--split: no value given");
        const std::string_view by = args[++i];
        const std::optional<std::int64_t> count = digits_only(by, 9);
        if (by == "day" || by == "type") {
          inv.split.key = by == "day" ? SplitBy::Key::kDay : SplitBy::Key::kType;
        } else if (count && *count >= 1) {
          inv.split = {SplitBy::Key::kCount, *count};
        } else {
          return fail("--split: not day, type or a whole number from 1: ", by);
        }
      }
      continue;
    }
    if (a == "--gap") {
      if (inv.selection.gap != 0) return fail("--gap: given twice");
      if (i + 1 >= args.size()) return fail("--gap: no value given");
      const std::string_view v = args[++i];
      const std::optional<std::int64_t> s = digits_only(v, 10);
      if (!s || *s < 1) return fail("--gap: not a whole number of seconds from 1: ", v);
      inv.selection.gap = *s;
      continue;
    }
    if (a.starts_with("--")) return fail("unknown option: ", a);
    break;
  }
  inv.taken = static_cast<std::int32_t>(i);
  if (inv.selection.gap != 0 && inv.mode != Mode::kSummary) return fail("--gap needs --summary");
  if (inv.mode == Mode::kCopy) {
    if (inv.selection.any())
      return fail("--from, --to and --type need --list, --batch, --summary or --split");
    return inv;
  }
  return check_mode_arguments(std::move(inv), args.subspan(i));
}

}  // namespace chunkit
