#include "chunkit_/params.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "chunkit_/state.h"
#include "runtime/input.h"
#include "runtime/layout.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

constexpr std::string_view kListDirected{};
constexpr std::string_view kRecField = "(i10)";
constexpr std::string_view kByteField = "(i5)";

constexpr std::int32_t kFirstRec = 1;
constexpr std::int32_t kFirstByte = 1;
constexpr std::int32_t kLastByte = kRecordSize;

// Prompts end with "\" so the typed value stays on the prompt's line.
void prompt(std::string_view text) {
  rt::write_begin(rt::kDefaultUnit, "(a\\)");
  rt::write_text(text);
  rt::write_end();
}

void prompt(std::string_view text, std::int32_t value) {
  rt::write_begin(rt::kDefaultUnit, "(a,i5,a\\)");
  rt::write_text(text);
  rt::write_int4(value);
  rt::write_text(" to be copied: ");
  rt::write_end();
}

// The value of the argument just fetched, or of the line typed when it is absent (the caller
// has prompted). An invalid number ends the run. The modes for programs never ask: an absent
// value is 0 there.
std::int32_t read_value(std::string_view layout) {
  std::int32_t value = 0;
  if (argstatus == -1) {
    if (mode != Mode::kCopy) return 0;
    rt::read_begin_console(layout);
  } else {
    rt::read_begin_internal(argbuf, kArgLen, layout);
  }
  rt::read_int4(&value);
  rt::read_end();
  return value;
}

std::int32_t or_default(std::int32_t value, std::int32_t fallback) {
  return value == 0 ? fallback : value;
}

// The number in a stretch of `argbuf`, read as a record number; an empty stretch is 0.
std::int32_t read_stretch(std::string_view stretch) {
  std::int32_t value = 0;
  rt::read_begin_internal(stretch.data(), stretch.size(), kRecField);
  rt::read_int4(&value);
  rt::read_end();
  return value;
}

}  // namespace

void status_line(std::string_view label) {
  rt::write_begin(rt::kDefaultUnit, kListDirected);
  rt::write_text(label);
  rt::write_int2(argstatus);
  rt::write_end();
}

SkipStretches skip_stretches(std::string_view arg) {
  arg = arg.substr(0, kArgLen);
  if (!arg.empty()) arg.remove_prefix(1);  // the letter
  const std::size_t dash = arg.find('-');
  if (dash == std::string_view::npos) return {arg, arg};
  return {arg.substr(0, dash), arg.substr(dash + 1)};
}

void parseskip() {
  const auto kept = static_cast<std::size_t>(std::clamp<int>(argstatus, 0, kArgLen));
  const SkipStretches s = skip_stretches({argbuf, kept});
  skipstart = read_stretch(s.first);
  skipend = read_stretch(s.last);
}

void take_parameters() {
  next_arg(argbuf);
  status_line(" startrec or skipstart status= ");

  if (argstatus != -1 && (argbuf[0] == 's' || argbuf[0] == 'S')) {
    parseskip();
    startrec = kFirstRec;
    startbyte = kFirstByte;
    endrec = kLastRec;
    endbyte = kLastByte;
    rt::write_begin(rt::kDefaultUnit, kListDirected);
    rt::write_text(" Skip recs");
    rt::write_int4(skipstart);
    rt::write_text(" to");
    rt::write_int4(skipend);
    rt::write_end();
    return;
  }

  // Position form: each value from its argument, or typed at its prompt once the arguments
  // have run out; a 0 takes its default before the next prompt shows it.
  if (argstatus == -1) prompt(" Enter the first record to be copied: ");
  startrec = or_default(read_value(kRecField), kFirstRec);

  next_arg(argbuf);
  status_line(" startbyte status=");
  if (argstatus == -1) prompt(" Enter the 1st byte of record", startrec);
  startbyte = or_default(read_value(kByteField), kFirstByte);

  next_arg(argbuf);
  status_line(" endrec status=   ");
  if (argstatus == -1) prompt(" Enter the last record to be copied: ");
  endrec = or_default(read_value(kRecField), kLastRec);

  next_arg(argbuf);
  status_line(" endbyte status=  ");
  if (argstatus == -1) prompt(" Enter the last byte of record", endrec);
  endbyte = or_default(read_value(kByteField), kLastByte);
}

}  // namespace chunkit
