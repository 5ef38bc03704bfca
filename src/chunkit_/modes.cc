#include "chunkit_/modes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "chunkit_/naming.h"
#include "chunkit_/state.h"
#include "chunkit_/when.h"
#include "runtime/console.h"
#include "runtime/devices.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

// One output line, built in place. The buffer is far longer than any line made here: a listing
// line is a fixed set of numbers, digits and words (under 200 bytes), and the longest other line
// is an escaped name (up to four bytes for each of kNameLen) with two numbers. Texts and numbers
// stop kTail bytes before the buffer's end (no line's texts come near it), and no line puts as
// many single characters one after another, so those need no check.
class Line {
 public:
  Line& text(std::string_view s) {
    const std::size_t n = std::min(s.size(), kRoom - std::min(len_, kRoom));
    s.copy(buf_ + len_, n);
    len_ += n;
    return *this;
  }
  Line& text(char c) {
    put(c);
    return *this;
  }
  Line& number(std::int64_t v) {
    auto [end, ec] = std::to_chars(buf_ + len_, buf_ + kRoom, v);
    if (ec == std::errc()) len_ = static_cast<std::size_t>(end - buf_);
    return *this;
  }
  // A number of a line that comes once in a run, or with a report: formatted out of line, so
  // the listing's numbers stay inline in its loop.
  Line& figure(std::int64_t v) {
    const int n = std::snprintf(buf_ + len_, kRoom - std::min(len_, kRoom), "%lld",
                                static_cast<long long>(v));
    if (n > 0) len_ += static_cast<std::size_t>(n);
    return *this;
  }
  // A preface digit as the progress line shows it: one column, "*" for a value above 9.
  Line& digit(std::int32_t d) {
    put(d >= 0 && d <= 9 ? static_cast<char>('0' + d) : '*');
    return *this;
  }
  Line& digits(int from, int to) {
    for (int k = from; k <= to; ++k) digit(chunkit::digit[k - 1]);
    return *this;
  }
  Line& hex(unsigned char b) {
    constexpr char kHex[] = "0123456789ABCDEF";
    put(kHex[b >> 4]);
    put(kHex[b & 0x0F]);
    return *this;
  }
  // Starts a note: "; " between notes.
  Line& note() {
    if (notes_++ > 0) text("; ");
    return *this;
  }
  // Ends the line and writes it on standard output, or on standard error.
  rt::Status end() {
    put('\n');
    return rt::console_put_line({buf_, len_});
  }
  rt::Status end_error() {
    put('\n');
    return rt::console_write_error({buf_, len_});
  }

 private:
  void put(char c) { buf_[len_++] = c; }
  static constexpr std::size_t kRoom = 4 * kNameLen + 256;
  static constexpr std::size_t kTail = 64;
  char buf_[kRoom + kTail];
  std::size_t len_ = 0;
  int notes_ = 0;
};

}  // namespace

rt::Status list_header() {
  return Line().text("record\toffset\tlength\ttype\tdigits\tdate\ttime\tnote\twhen").end();
}

rt::Status list_record(const unsigned char* rec, std::size_t length, std::int32_t data_end) {
  Line line;
  line.number(irec).text('\t');
  line.number((std::int64_t{irec} - 1) * kRecordSize).text('\t');
  line.number(static_cast<std::int64_t>(length)).text('\t');
  line.number(rectype).text('\t');
  line.digits(1, 5).text(' ').digits(6, 11).text('\t');
  if (dated) {
    line.digits(1, 2).text('-').digits(3, 5).text('\t');
    line.digits(6, 7).text(':').digits(8, 9).text(':').digits(10, 11).text('\t');
  } else {
    line.text("\t\t");
  }
  if (dated && ivstat != ivstatt)
    line.note().text("status ").number(ivstat).text(' ').number(ivstatt);
  if (badpref)
    line.note().text("bad preface ").hex(rec[0]).text(' ').hex(rec[1]).text(' ').hex(rec[2]);
  if (data_end > 0) line.note().text("data ends at byte ").number(data_end);
  if (bad_date()) line.note().text("bad date");
  line.text('\t');
  line.text(when_text());
  return line.end();
}

namespace {

// The reports of a record that has one; out of line, as few records have.
[[gnu::noinline]] rt::Status report_record(const unsigned char* rec) {
  if (dated && ivstat != ivstatt) {
    Line line;
    line.text("Chunkit_: record ").figure(irec).text(": status ");
    RETURN_IF_FAILED(line.figure(ivstat).text(' ').figure(ivstatt).end_error());
  }
  if (!badpref) return {};
  Line line;
  line.text("Chunkit_: record ").figure(irec).text(": bad preface ");
  return line.hex(rec[0]).text(' ').hex(rec[1]).text(' ').hex(rec[2]).end_error();
}

}  // namespace

rt::Status batch_reports(const unsigned char* rec) {
  if ((dated && ivstat != ivstatt) || badpref) return report_record(rec);
  return {};
}

rt::Status usage_error(std::string_view what) {
  std::string text = "Chunkit_: ";
  text.append(rt::escaped(what)).append("\nTry 'Chunkit_ --help'.\n");
  RETURN_IF_FAILED(rt::console_write_error(text));
  return rt::Status::usage();
}

rt::Status file_line(std::string_view name, std::int64_t records, std::int64_t bytes,
                     bool to_error) {
  Line line;
  line.text(rt::escaped(name)).text('\t').figure(records).text('\t').figure(bytes);
  return to_error ? line.end_error() : line.end();
}

rt::Status untimed_line(std::int64_t records) {
  Line line;
  line.text("Chunkit_: ").figure(records);
  line.text(records == 1 ? " record has no time and is in no file"
                         : " records have no time and are in no file");
  return line.end_error();
}

rt::Status batch_summary() {
  RETURN_IF_FAILED(rt::close_unit(kOutUnit));
  const std::string_view name = rt::trim({outname, kNameLen});
  std::size_t base_len = 0;
  const rt::DeviceName* device = rt::device_of_name(name, &base_len);
  // A copy on standard output leaves it to the copy.
  return file_line(device != nullptr && device->device == rt::Device::kNull ? "NUL" : name,
                   copied_records, copied_bytes, output_is_standard);
}

}  // namespace chunkit
