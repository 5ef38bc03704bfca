#include "chunkit_/copy.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "chunkit_/modes.h"
#include "chunkit_/params.h"
#include "chunkit_/preface.h"
#include "chunkit_/records.h"
#include "chunkit_/state.h"
#include "runtime/errors.h"
#include "runtime/layout.h"
#include "runtime/run.h"
#include "runtime/stop.h"
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
void say(std::string_view layout, std::string_view text, std::int32_t value) {
  rt::write_begin(rt::kDefaultUnit, layout);
  if (!text.empty()) rt::write_text(text);
  rt::write_count(value);
  rt::write_end();
}

void say_text(std::int32_t unit, std::string_view layout, std::string_view text) {
  rt::write_begin(unit, layout);
  rt::write_text(text);
  rt::write_end();
}

void end_of_data_box(std::string_view rule, std::string_view layout, std::string_view text,
                     std::int32_t value) {
  say_text(rt::kDefaultUnit, "(/15x,a)", rule);
  say(layout, text, value);
  say_text(rt::kDefaultUnit, "(15x,a)", rule);
}

// The normal end of a run; a batch copy closes its output and names it first.
[[noreturn]] void finish() {
  if (mode == Mode::kBatch) batch_summary();
  rt::stop_program();
}

[[noreturn]] void end_of_file(std::int32_t shown) {
  say("(/' -- EOF at irec=',i5,' --'/)", {}, shown);
  finish();
}

void progress_line(rt::Layout& layout) {
  rt::write_begin(kConsoleUnit, layout);
  rt::write_count(irec);
  rt::write_int4(rectype);
  rt::write_int4s(digit, std::size(digit));
  rt::write_text("\r");
  rt::write_end();
}

// The record in hand.
const Record* in_hand = nullptr;

// Writes positions from..to of the record in hand (clipped to the record) as one write
// statement; a whole record joins the run of whole records written before it.
void write_range(std::int32_t from, std::int32_t to) {
  std::int64_t first = std::max<std::int64_t>(from, 1);
  std::int64_t last = std::min<std::int64_t>(to, kRecordSize);
  // A range without positions writes nothing.
  if (first > last) return;
  const auto n = static_cast<std::size_t>(last - first + 1);
  if (n == kRecordSize) {
    rt::binwrite_run(kOutUnit, kInUnit, in_hand->at, in_hand->data, n);
  } else {
    rt::binwrite_begin(kOutUnit, false);
    rt::binwrite_item(in_hand->data + first - 1, n);
    rt::binwrite_end();
  }
  ++copied_records;
  copied_bytes += static_cast<std::int64_t>(n);
}

// Takes the next argument as a further skip range while the records are past the current one.
void further_skip_range() {
  // Past the last argument there is nothing left to take: the count stays, as every count
  // past it means the same, and never grows with the records (beyond 2^31 of them).
  if (iarg >= nargs) {
    argstatus = -1;
    return;
  }
  next_arg(argbuf);
  if (argstatus < 1) return;
  if (argbuf[0] == 's' || argbuf[0] == 'S') {
    skipstart = 0;
    skipend = 0;
    parseskip();
    rt::write_begin(rt::kDefaultUnit, "(/a,i5,a,i5)");
    rt::write_text(" Skip recs");
    rt::write_count(skipstart);
    rt::write_text(" to");
    rt::write_count(skipend);
    rt::write_end();
  } else {
    say_text(rt::kDefaultUnit, "(a)", " Don't know what to do!");
  }
}

// Shows the record in hand and copies its part, or lists it; data_end is the last byte of data
// found in it at the end of the file (else 0).
void show_and_write(std::int32_t data_end) {
  if (irec < startrec) {
    if (irec == 1) say_text(kConsoleUnit, "(a1,\\)", "\r");
    progress_line(decoding_line);
    return;
  }
  if (irec == startrec) {
    rt::write_begin(rt::kDefaultUnit, {});
    rt::write_end();
    say_text(kConsoleUnit, "(a1\\)", "\r");
  }
  if (mode == Mode::kList) {
    list_record(in_hand->data, in_hand->length, data_end);
    return;
  }
  progress_line(copying_line);
  const std::int32_t from = irec == startrec ? startbyte : 1;
  if (irec < endrec) write_range(from, kRecordSize);
  if (irec == endrec) write_range(from, endbyte);
}

}  // namespace

void copy_pass() {
  say_text(rt::kDefaultUnit, {}, "   startrec,  startbyte,     endrec,    endbyte");
  rt::write_begin(rt::kDefaultUnit, {});
  for (std::int32_t v : {startrec, startbyte, endrec, endbyte}) rt::write_int4(v);
  rt::write_end();

  // Rounds number their records as the file delivers them. After a pass without rounds,
  // `nextrec` (`endrec` + 1 of that pass) may lag behind the records already read.
  const std::int32_t first = std::max(input.next_number(), nextrec);
  std::int64_t count = std::int64_t{endrec} - first + 1;
  irec = count > 0 ? first : nextrec;
  for (; count > 0; --count, irec = plus(irec, 1)) {
    in_hand = &input.next();
    const std::int32_t status = in_hand->status;
    std::int32_t data_end = 0;
    if (status > 0) {
      say("(/' -- parity error at irec=',i5,' --')", {}, irec);
      rt::report_runtime_error(rt::kErrReadFailed, rt::StmtKind::kRead, rt::unit_name(kInUnit));
    }
    if (status == -1) {
      ieof = 1;
      // The last byte that is not 0xFF: none after those the file gave.
      auto lastbyte = static_cast<std::int32_t>(in_hand->length);
      while (lastbyte > 0 && in_hand->data[lastbyte - 1] == 0xFF) --lastbyte;
      if (lastbyte == 0) end_of_file(plus(irec, ~0u));
      if (irec < endrec) {
        end_of_data_box(kRecordRule, "(15x,a,i7)", " Found end of data at record ", irec);
        endrec = irec;
      }
      if (lastbyte < endbyte) {
        end_of_data_box(kByteRule, "(15x,a,i5)", " Found end of data at byte ", lastbyte);
        endbyte = lastbyte;
        data_end = lastbyte;
      }
    }
    decode_preface(in_hand->data);
    if (irec > skipend) further_skip_range();
    if (!(skipstart <= irec && irec <= skipend)) show_and_write(data_end);
    if (ieof == 1) end_of_file(irec);
  }
  nextrec = plus(endrec, 1);
}

void run_end() {
  if (irec == 0) {
    say_text(rt::kDefaultUnit, "(/20x,a/)", " Nothing to do!");
  } else {
    say(kExitLayout, {}, irec);
  }
  finish();
}

}  // namespace chunkit
