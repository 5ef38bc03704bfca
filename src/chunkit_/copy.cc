#include "chunkit_/copy.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "chunkit_/modes.h"
#include "chunkit_/params.h"
#include "chunkit_/preface.h"
#include "chunkit_/progress.h"
#include "chunkit_/records.h"
#include "chunkit_/split.h"
#include "chunkit_/state.h"
#include "chunkit_/summary.h"
#include "chunkit_/when.h"
#include "runtime/errors.h"
#include "runtime/layout.h"
#include "runtime/status.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

using namespace std::string_view_literals;

// The progress lines: a blank, a 32-character text, the record number, the type and the
// eleven digits, ending in a carriage return and "\" so the next line overwrites this one.
constexpr std::string_view kDecodingLine =
    "(1x,' Decoding preface:         rec #',i8,' type'                                       "
    ",i3,2x,5i1,1x,6i1,a1,\\)"sv;
constexpr std::string_view kCopyingLine =
    "(1x,' Copying:                  rec #',i8,' type'                                       "
    ",i3,2x,5i1,1x,6i1,a1,\\)"sv;
constexpr std::string_view kExitLayout =
    "(/' -- Exited \"do 100\" loop eof at irec=',i5,                                        "
    "                ' --'/)"sv;
static_assert(kDecodingLine.size() == 111 && kCopyingLine.size() == 111);
static_assert(kExitLayout.size() == 108);
// Given for every record, so they keep their compiled forms at hand.
rt::Layout decoding_line(kDecodingLine);
rt::Layout copying_line(kCopyingLine);

constexpr std::string_view kRecordRule = " -----------------------------------"sv;
constexpr std::string_view kByteRule = " -------------------------------"sv;

// One write statement of a layout with up to two texts and one number.
rt::Status say(std::string_view layout, std::string_view text, std::int32_t value) {
  rt::write_begin(rt::kDefaultUnit, layout);
  if (!text.empty()) rt::write_text(text);
  rt::write_count(value);
  return rt::write_end();
}

rt::Status say_text(std::int32_t unit, std::string_view layout, std::string_view text) {
  rt::write_begin(unit, layout);
  rt::write_text(text);
  return rt::write_end();
}

rt::Status end_of_data_box(std::string_view rule, std::string_view layout, std::string_view text,
                           std::int32_t value) {
  RETURN_IF_FAILED(say_text(rt::kDefaultUnit, "(/15x,a)", rule));
  RETURN_IF_FAILED(say(layout, text, value));
  return say_text(rt::kDefaultUnit, "(15x,a)", rule);
}

// The normal end of a run: a batch copy closes its output and names it first.
rt::Status finish() {
  if (mode == Mode::kBatch) {
    progress_end();
    RETURN_IF_FAILED(batch_summary());
  }
  return rt::Status::stop({});
}

rt::Status end_of_file(std::int32_t shown) {
  RETURN_IF_FAILED(say("(/' -- EOF at irec=',i5,' --'/)", {}, shown));
  return finish();
}

rt::Status progress_line(rt::Layout& layout) {
  rt::write_begin(kConsoleUnit, layout);
  rt::write_count(irec);
  rt::write_int4(rectype);
  rt::write_int4s(digit, std::size(digit));
  rt::write_text("\r");
  return rt::write_end();
}

// The record in hand.
const Record* in_hand = nullptr;

// The positions of the record in hand that the copy writes, from..to clipped to the record:
// from first to last, none when first > last.
struct Part {
  std::int64_t first, last;
};
Part part_in_hand() {
  const std::int32_t from = irec == startrec ? startbyte : 1;
  const std::int32_t to = irec < endrec ? kRecordSize : irec == endrec ? endbyte : 0;
  return {std::max<std::int64_t>(from, 1), std::min<std::int64_t>(to, kRecordSize)};
}

// Writes the part of the record in hand as one write statement; a whole record joins the run
// of whole records written before it. A part without positions writes nothing.
rt::Status write_part(Part p) {
  if (p.first > p.last) return {};
  const auto n = static_cast<std::size_t>(p.last - p.first + 1);
  if (n == kRecordSize) {
    RETURN_IF_FAILED(rt::binwrite_run(kOutUnit, kInUnit, in_hand->at, in_hand->data, n));
  } else {
    rt::binwrite_begin(kOutUnit);
    RETURN_IF_FAILED(rt::binwrite_item(in_hand->data + p.first - 1, n));
    RETURN_IF_FAILED(rt::binwrite_end());
  }
  ++copied_records;
  copied_bytes += static_cast<std::int64_t>(n);
  return {};
}

// Takes the next argument as a further skip range while the records are past the current one.
rt::Status further_skip_range() {
  // Past the last argument there is nothing left to take: the count stays, as every count
  // past it means the same, and never grows with the records (beyond 2^31 of them).
  if (iarg >= nargs) {
    argstatus = -1;
    return {};
  }
  next_arg(argbuf);
  if (argstatus < 1) return {};
  if (argbuf[0] != 's' && argbuf[0] != 'S') {
    return say_text(rt::kDefaultUnit, "(a)", " Don't know what to do!");
  }
  skipstart = 0;
  skipend = 0;
  RETURN_IF_FAILED(parseskip());
  rt::write_begin(rt::kDefaultUnit, "(/a,i5,a,i5)");
  rt::write_text(" Skip recs");
  rt::write_count(skipstart);
  rt::write_text(" to");
  rt::write_count(skipend);
  return rt::write_end();
}

// Shows the record in hand on the console and copies its part.
rt::Status show_and_copy() {
  if (irec < startrec) {
    if (irec == 1) RETURN_IF_FAILED(say_text(kConsoleUnit, "(a1,\\)", "\r"));
    return progress_line(decoding_line);
  }
  if (irec == startrec) {
    rt::write_begin(rt::kDefaultUnit, {});
    RETURN_IF_FAILED(rt::write_end());
    RETURN_IF_FAILED(say_text(kConsoleUnit, "(a1\\)", "\r"));
  }
  RETURN_IF_FAILED(progress_line(copying_line));
  return write_part(part_in_hand());
}

// Whether the run needs the time of each record: to list it, to select by it, or to split by
// its day.
bool tracks_time() {
  return mode == Mode::kList || mode == Mode::kSummary || selection.by_time() ||
         (mode == Mode::kSplit && split_by_day());
}

// Whether the selection keeps the record in hand.
bool kept() {
  if (selection.by_type && !selection.keeps_type(rectype)) return false;
  if (!selection.by_time()) return true;
  return when != kNoTime && (!selection.by_from || when >= selection.from) &&
         (!selection.by_to || when < selection.to);
}

// The modes for programs list, or report and copy, exactly the records of which the copy
// writes a byte and that the selection keeps; data_end is the last byte of data found in the
// record in hand at the end of the file (else 0).
rt::Status list_or_copy(std::int32_t data_end) {
  const Part part = part_in_hand();
  if (part.first > part.last || !kept()) return {};
  if (mode == Mode::kList) return list_record(in_hand->data, in_hand->length, data_end);
  if (mode == Mode::kSummary) return summary_record(part.last - part.first + 1, data_end);
  if (mode == Mode::kSplit) {
    // The decoder's reports come once, from the plan.
    if (split_planning()) {
      RETURN_IF_FAILED(split_plan(part.last - part.first + 1));
      return batch_reports(in_hand->data);
    }
    if (!split_takes()) return {};
    RETURN_IF_FAILED(write_part(part));
    // The piece's pass is over with its last record.
    return irec == wanted_last ? rt::Status::stop({}) : rt::Status{};
  }
  RETURN_IF_FAILED(batch_reports(in_hand->data));
  return write_part(part);
}

// In the modes for programs, the records no copy writes are not read: before each record the
// skip range the copy would take there is taken, and the records before startrec and those
// skipped are passed over, straight to the next record wanted (up to `count` records on); so
// are those before `lowest`, which is startrec or a later one. Where the input can seek they are
// never read.
rt::Status go_to_wanted(std::int64_t* count, std::int32_t lowest) {
  for (;;) {
    if (irec > skipend) RETURN_IF_FAILED(further_skip_range());
    const bool skipped = skipstart <= irec && irec <= skipend;
    if (irec >= lowest && !skipped) break;
    std::int64_t next = 0;
    if (skipped) {
      next = std::int64_t{skipend} + 1;
    } else if (irec > skipend) {
      // Each further record takes a skip range, while there are any.
      next = iarg < nargs ? std::int64_t{irec} + 1 : lowest;
    } else {
      next = std::min(lowest, skipstart);  // the range ahead
    }
    const std::int64_t passed = next - irec;
    *count -= passed;
    if (*count <= 0) return {};
    irec = plus(irec, static_cast<std::uint32_t>(passed));
  }
  if (!tracks_time() || irec <= input.next_number()) return input.go_to(irec);
  // The time the records passed over carry into this one: read back from it where the input
  // can seek, else taken from each record on the way.
  bool moved = false;
  RETURN_IF_FAILED(input.seek(irec, &moved));
  if (moved) return time_before(irec);
  while (input.next_number() < irec) {
    const Record& r = input.next();
    RETURN_IF_FAILED(r.status);
    RETURN_IF_FAILED(decode_preface(r.data));
    note_time();
  }
  return {};
}

}  // namespace

rt::Status copy_pass() {
  RETURN_IF_FAILED(
      say_text(rt::kDefaultUnit, {}, "   startrec,  startbyte,     endrec,    endbyte"));
  rt::write_begin(rt::kDefaultUnit, {});
  for (std::int32_t v : {startrec, startbyte, endrec, endbyte}) rt::write_int4(v);
  RETURN_IF_FAILED(rt::write_end());

  // Rounds number their records as the file delivers them. After a pass without rounds,
  // `nextrec` (`endrec` + 1 of that pass) may lag behind the records already read.
  const std::int32_t first = std::max(input.next_number(), nextrec);
  std::int64_t count = std::int64_t{endrec} - first + 1;
  irec = count > 0 ? first : nextrec;
  if (mode == Mode::kBatch) progress_begin();
  const bool programs = mode != Mode::kCopy;
  const bool tracking = tracks_time();
  const std::int32_t lowest = std::max(startrec, wanted_first);
  for (; count > 0; --count, irec = plus(irec, 1)) {
    // Most records are wanted as they come: nothing to pass over, no skip range to take.
    if (programs && !(irec >= lowest && (irec < skipstart || (irec > skipend && iarg >= nargs)))) {
      const rt::Status reached = go_to_wanted(&count, lowest);
      if (count <= 0) break;
      // An end of the file on the way is met again by the read below.
      if (!reached.at_end()) RETURN_IF_FAILED(reached);
    }
    in_hand = &input.next();
    const rt::Status& status = in_hand->status;
    std::int32_t data_end = 0;
    if (!status.ok() && !status.at_end()) {
      if (status.what() != rt::Status::What::kError) return status;
      RETURN_IF_FAILED(say("(/' -- parity error at irec=',i5,' --')", {}, irec));
      return rt::Status::error(rt::kErrReadFailed, rt::StmtKind::kRead, rt::unit_name(kInUnit));
    }
    if (status.at_end()) {
      ieof = 1;
      // The last byte that is not 0xFF: none after those the file gave.
      auto lastbyte = static_cast<std::int32_t>(in_hand->length);
      while (lastbyte > 0 && in_hand->data[lastbyte - 1] == 0xFF) --lastbyte;
      if (lastbyte == 0) return end_of_file(plus(irec, ~0u));
      if (irec < endrec) {
        RETURN_IF_FAILED(
            end_of_data_box(kRecordRule, "(15x,a,i7)", " Found end of data at record ", irec));
        endrec = irec;
      }
      if (lastbyte < endbyte) {
        RETURN_IF_FAILED(
            end_of_data_box(kByteRule, "(15x,a,i5)", " Found end of data at byte ", lastbyte));
        endbyte = lastbyte;
        data_end = lastbyte;
      }
    }
    RETURN_IF_FAILED(decode_preface(in_hand->data));
    if (programs) {
      if (tracking) note_time();
      RETURN_IF_FAILED(list_or_copy(data_end));
    } else {
      if (irec > skipend) RETURN_IF_FAILED(further_skip_range());
      if (!(skipstart <= irec && irec <= skipend)) RETURN_IF_FAILED(show_and_copy());
    }
    if (ieof == 1) return end_of_file(irec);
  }
  nextrec = plus(endrec, 1);
  return {};
}

rt::Status run_end() {
  if (irec == 0) {
    RETURN_IF_FAILED(say_text(rt::kDefaultUnit, "(/20x,a/)", " Nothing to do!"));
  } else {
    RETURN_IF_FAILED(say(kExitLayout, {}, irec));
  }
  return finish();
}

}  // namespace chunkit
