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
rt::Status prompt(std::string_view text) {
  rt::write_begin(rt::kDefaultUnit, "(a\\)");
  rt::write_text(text);
  return rt::write_end();
}

rt::Status prompt(std::string_view text, std::int32_t value) {
  rt::write_begin(rt::kDefaultUnit, "(a,i5,a\\)");
  rt::write_text(text);
  rt::write_int4(value);
  rt::write_text(" to be copied: ");
  return rt::write_end();
}

// The value of the argument just fetched, or of the line typed when it is absent (the caller
// has prompted); 0 replaced by `fallback`. The modes for programs never ask: an absent value is
// 0 there.
rt::Status read_value(std::string_view layout, std::int32_t fallback, std::int32_t* value) {
  *value = 0;
  if (argstatus == -1) {
    if (mode != Mode::kCopy) {
      *value = fallback;
      return {};
    }
    rt::read_begin_console(layout);
  } else {
    rt::read_begin_internal(argbuf, kArgLen, layout);
  }
  rt::read_int4(value);
  RETURN_IF_FAILED(rt::read_end());
  if (*value == 0) *value = fallback;
  return {};
}

// The number in a stretch of `argbuf`, read as a record number; an empty stretch is 0.
rt::Status read_stretch(std::string_view stretch, std::int32_t* value) {
  *value = 0;
  rt::read_begin_internal(stretch.data(), stretch.size(), kRecField);
  rt::read_int4(value);
  return rt::read_end();
}

// One value of the position form: its status line, then its prompt once the arguments have run
// out.
template <class Prompt>
rt::Status position(std::string_view label, Prompt ask, std::string_view layout,
                    std::int32_t fallback, std::int32_t* value) {
  next_arg(argbuf);
  RETURN_IF_FAILED(status_line(label));
  if (argstatus == -1) RETURN_IF_FAILED(ask());
  return read_value(layout, fallback, value);
}

}  // namespace

rt::Status status_line(std::string_view label) {
  rt::write_begin(rt::kDefaultUnit, kListDirected);
  rt::write_text(label);
  rt::write_int2(argstatus);
  return rt::write_end();
}

SkipStretches skip_stretches(std::string_view arg) {
  arg = arg.substr(0, kArgLen);
  if (!arg.empty()) arg.remove_prefix(1);  // the letter
  const std::size_t dash = arg.find('-');
  if (dash == std::string_view::npos) return {arg, arg};
  return {arg.substr(0, dash), arg.substr(dash + 1)};
}

rt::Status parseskip() {
  const auto kept = static_cast<std::size_t>(std::clamp<int>(argstatus, 0, kArgLen));
  const SkipStretches s = skip_stretches({argbuf, kept});
  RETURN_IF_FAILED(read_stretch(s.first, &skipstart));
  return read_stretch(s.last, &skipend);
}

rt::Status take_parameters() {
  next_arg(argbuf);
  RETURN_IF_FAILED(status_line(" startrec or skipstart status= "));

  if (argstatus != -1 && (argbuf[0] == 's' || argbuf[0] == 'S')) {
    RETURN_IF_FAILED(parseskip());
    startrec = kFirstRec;
    startbyte = kFirstByte;
    endrec = kLastRec;
    endbyte = kLastByte;
    rt::write_begin(rt::kDefaultUnit, kListDirected);
    rt::write_text(" Skip recs");
    rt::write_int4(skipstart);
    rt::write_text(" to");
    rt::write_int4(skipend);
    return rt::write_end();
  }

  // Position form: each value from its argument, or typed at its prompt once the arguments
  // have run out; a 0 takes its default before the next prompt shows it.
  if (argstatus == -1) RETURN_IF_FAILED(prompt(" Enter the first record to be copied: "));
  RETURN_IF_FAILED(read_value(kRecField, kFirstRec, &startrec));
  RETURN_IF_FAILED(position(
      " startbyte status=", [] { return prompt(" Enter the 1st byte of record", startrec); },
      kByteField, kFirstByte, &startbyte));
  RETURN_IF_FAILED(position(
      " endrec status=   ", [] { return prompt(" Enter the last record to be copied: "); },
      kRecField, kLastRec, &endrec));
  return position(
      " endbyte status=  ", [] { return prompt(" Enter the last byte of record", endrec); },
      kByteField, kLastByte, &endbyte);
}

}  // namespace chunkit
