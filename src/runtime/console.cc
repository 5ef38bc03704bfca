#include "runtime/console.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/errors.h"

namespace rt {
namespace {

constexpr std::size_t kConsoleBufSize = std::size_t{64} << 10;
constexpr std::int64_t kTerminalFlushMs = 50;
// The narrowest terminal whose screen the left-out lines (drop_overwritten) leave unchanged.
constexpr std::size_t kMinColumns = 64;
// A terminal line holds at most this many characters before its line end; a line typed for a
// file name may be as long as the longest name.
constexpr std::size_t kMaxTerminalLine = 130;
constexpr std::size_t kMaxNameLine = kNameMax + 1;

bool g_stdin_terminal = false;
bool g_stdout_terminal = false;
bool g_stderr_terminal = false;
// Columns of the status line on standard error (0: none shown).
std::size_t g_status_len = 0;

// --- output ---

// Line state of the console output record, shared by every console output unit.
struct ConsoleLine {
  bool owed = false;       // a record was shown and its line end is not written yet
  bool continues = false;  // the last record ended with "\" or "$": the next one joins it
};

ConsoleLine g_line;
char g_cbuf[kConsoleBufSize];
std::size_t g_clen = 0;
bool g_console_broken = false;  // standard output failed once: later output is dropped
bool g_console_closed = false;
bool g_muted = false;
std::int64_t g_last_flush = 0;
char g_last_sent = '\0';  // the last byte handed to the system

// Length of the run of printable characters at buf[from], up to n.
std::size_t printable_run(const char* buf, std::size_t from, std::size_t n) {
  std::size_t e = from;
  while (e < n && buf[e] >= ' ' && buf[e] <= '~') ++e;
  return e - from;
}

// --- input ---

// Console input record: the bytes of the latest refill and the read position in them.
struct ConsoleIn {
  char buf[kMaxNameLine + 2];               // the longest line and its CR LF
  std::size_t line_max = kMaxTerminalLine;  // of a terminal line, for the read under way
  std::size_t len = 0;
  std::size_t pos = 0;
  bool line_started = false;  // a character of the current line has been taken
  char prev1 = 0;             // the last two characters taken from the current line
  char prev2 = 0;
};
ConsoleIn con;

// Reads the next piece of console input. Returns 0, or the error number that ends the read.
int refill() {
  platform::Platform& p = platform::current();
  // A terminal line longer than the limit fills the request without its line end.
  const std::size_t want = con.line_max + 2;
  platform::IoResult r = p.read(p.std_handle(platform::StdStream::kIn), con.buf, want);
  if (interrupt_pending() || r.err == platform::Err::kInterrupted) return kInterrupted;
  if (r.err != platform::Err::kOk) return kErrReadFailed;
  con.pos = 0;
  con.len = r.count;
  if (con.len == 0) {
    // A last line without a line end is still a line; nothing more at a line start is the end.
    if (!con.line_started) return kErrEndOfFile;
    con.buf[0] = '\n';
    con.len = 1;
    return 0;
  }
  if (!stdin_is_terminal()) return 0;
  // A terminal delivers one line per read; a short read without LF ends its line there.
  if (con.buf[con.len - 1] != '\n') {
    if (con.len == want) return kErrLineTooLong;
    con.buf[con.len++] = '\n';
  }
  std::size_t chars = con.len - 1;
  if (chars > 0 && con.buf[chars - 1] == '\r') --chars;
  return chars > con.line_max ? kErrLineTooLong : 0;
}

}  // namespace

void console_init() {
  g_line = {};
  g_clen = 0;
  g_console_broken = false;
  g_console_closed = false;
  g_muted = false;
  g_last_flush = 0;
  g_last_sent = '\0';
  con = ConsoleIn{};
  platform::Platform& p = platform::current();
  g_stdin_terminal = p.is_terminal(p.std_handle(platform::StdStream::kIn));
  g_stdout_terminal = p.is_terminal(p.std_handle(platform::StdStream::kOut));
  g_stderr_terminal = p.is_terminal(p.std_handle(platform::StdStream::kErr));
  g_status_len = 0;
}

bool console_shared() {
  return g_stdin_terminal && g_stdout_terminal;
}
bool stdout_is_terminal() {
  return g_stdout_terminal;
}
bool stdin_is_terminal() {
  return g_stdin_terminal;
}
bool stderr_is_terminal() {
  return g_stderr_terminal;
}
std::int64_t clock_ms() {
  return platform::current().now_ms();
}

// --- output ---

// Leaves out of the n bytes at buf every line of printable characters that a terminal would
// show only to cover it at once: one that starts in the first column (after a CR; `before` is
// the byte sent just before buf), is not empty and narrower than kMinColumns, and is followed
// by one CR and a line at least as long. Returns how many bytes remain, at the start of buf.
// Sent to a terminal kMinColumns or more wide, they leave the screen exactly as all n would.
std::size_t drop_overwritten(char* buf, std::size_t n, char before) {
  std::size_t kept = 0;
  std::size_t r = 0;
  std::size_t run = printable_run(buf, 0, n);  // the run at r
  while (r < n) {
    // A run that starts in the first column and is too short to wrap, then a CR, then a run
    // at least as long: the second one covers every character of the first.
    const bool first_column = (kept == 0 ? before : buf[kept - 1]) == '\r';
    if (first_column && run > 0 && run < kMinColumns && r + run < n && buf[r + run] == '\r') {
      const std::size_t next = printable_run(buf, r + run + 1, n);
      if (next >= run) {
        r += run + 1;
        run = next;
        continue;
      }
    }
    // The run is kept, with the byte that ends it.
    const std::size_t keep = run + (r + run < n ? 1 : 0);
    std::memmove(buf + kept, buf + r, keep);
    kept += keep;
    r += keep;
    run = printable_run(buf, r, n);
  }
  return kept;
}

namespace {

// Bytes into the console output buffer, flushing a full buffer on the way.
Status put_buffered(std::string_view bytes) {
  while (!bytes.empty()) {
    if (g_clen == kConsoleBufSize) {
      // At a terminal most of a full buffer is usually progress lines that later ones cover:
      // they are left out, and the rest waits for the next flush while there is room.
      if (stdout_is_terminal()) g_clen = drop_overwritten(g_cbuf, g_clen, g_last_sent);
      if (g_clen > kConsoleBufSize / 2) RETURN_IF_FAILED(console_flush());
    }
    const std::size_t n = std::min(bytes.size(), kConsoleBufSize - g_clen);
    std::memcpy(g_cbuf + g_clen, bytes.data(), n);
    g_clen += n;
    bytes.remove_prefix(n);
  }
  return {};
}

// A terminal sees its output while the run goes on, but at most every kTerminalFlushMs.
Status flush_if_due() {
  if (g_clen > 0 && stdout_is_terminal() &&
      platform::current().now_ms() - g_last_flush >= kTerminalFlushMs) {
    return console_flush();
  }
  return {};
}

}  // namespace

// The carriage control, then the rest of the part, or the part whole when the line continues.
Status console_record_begin(std::string_view part) {
  if (g_line.continues) {
    // Written whole; an empty record shows as a single blank here too.
    return console_put(part.empty() ? std::string_view(" ") : part);
  }
  const char cc = part.empty() ? ' ' : part[0];
  switch (cc) {
    case '0':
      RETURN_IF_FAILED(console_put(g_line.owed ? "\r\n\r\n" : "\r\n"));
      break;
    case '1':
      RETURN_IF_FAILED(console_put("\r\n\f\r \r"));
      break;
    case '+':
      RETURN_IF_FAILED(console_put("\r"));
      break;
    default:
      if (g_line.owed) RETURN_IF_FAILED(console_put("\r\n"));
  }
  if (part.empty()) return {};
  return console_put(part.substr(1));
}

Status console_record_end(bool continued) {
  g_line.owed = true;
  g_line.continues = continued;
  return flush_if_due();
}

Status console_put(std::string_view bytes) {
  return g_muted ? Status{} : put_buffered(bytes);
}

void console_mute() {
  g_muted = true;
}

Status console_put_line(std::string_view line) {
  RETURN_IF_FAILED(put_buffered(line));
  return flush_if_due();
}

Status console_flush() {
  if (g_clen == 0) return {};
  // The write may wait for a slow reader: an interrupt that came first ends the run here.
  RETURN_IF_FAILED(check_interrupt());
  // The buffer is emptied first: output to a broken standard output is dropped from then on.
  std::size_t n = g_clen;
  g_clen = 0;
  if (g_console_broken) return {};
  if (stdout_is_terminal()) n = drop_overwritten(g_cbuf, n, g_last_sent);
  if (n == 0) return {};
  g_last_sent = g_cbuf[n - 1];
  platform::Platform& p = platform::current();
  const platform::IoResult r = p.write(p.std_handle(platform::StdStream::kOut), g_cbuf, n);
  if (stdout_is_terminal()) g_last_flush = p.now_ms();
  if (r.err == platform::Err::kOk && r.count == n) return {};
  g_console_broken = true;
  // An interrupt while the write waited ends the run by the signal, without a report.
  const int e = r.err == platform::Err::kInterrupted ? kInterrupted : write_error(r.err);
  return Status::error(e, StmtKind::kWrite, "CON");
}

Status console_close() {
  const Status flushed = console_flush();
  if (g_console_closed) return flushed;
  g_console_closed = true;
  // A standard output that failed was reported then; its close adds nothing.
  const bool reported = g_console_broken;
  g_console_broken = true;
  platform::Platform& p = platform::current();
  const platform::Err e = p.close(p.std_handle(platform::StdStream::kOut));
  if (!flushed.ok() || e == platform::Err::kOk || reported) return flushed;
  const int n = e == platform::Err::kInterrupted ? kInterrupted : write_error(e);
  return Status::error(n, StmtKind::kClose, "CON");
}

namespace {

constexpr std::size_t kStatusColumns = 79;

// The status line's bytes go out as they are; a failure to show them is no failure of the run.
void put_status(std::string_view bytes) {
  platform::Platform& p = platform::current();
  (void)p.write(p.std_handle(platform::StdStream::kErr), bytes.data(), bytes.size());
}

}  // namespace

void console_status(std::string_view text) {
  char line[1 + kStatusColumns];
  const std::size_t n = std::min(text.size(), kStatusColumns);
  line[0] = '\r';
  text.copy(line + 1, n);
  // Blanks over what is left of a longer line before.
  const std::size_t width = std::max(n, g_status_len);
  std::fill(line + 1 + n, line + 1 + width, ' ');
  put_status({line, 1 + width});
  g_status_len = n;
}

void console_status_clear() {
  if (g_status_len == 0) return;
  char line[2 + kStatusColumns];
  line[0] = '\r';
  std::fill_n(line + 1, g_status_len, ' ');
  line[g_status_len + 1] = '\r';
  put_status({line, g_status_len + 2});
  g_status_len = 0;
}

Status console_write_error(std::string_view bytes, platform::IoResult* result) {
  RETURN_IF_FAILED(console_flush());
  console_status_clear();
  platform::Platform& p = platform::current();
  const platform::IoResult r =
      p.write(p.std_handle(platform::StdStream::kErr), bytes.data(), bytes.size());
  if (result != nullptr) *result = r;
  return {};
}

Status console_break_line() {
  if (!g_line.owed) return {};
  RETURN_IF_FAILED(console_put("\r\n"));
  g_line.owed = false;
  g_line.continues = false;
  return {};
}

Status console_settle_for_read() {
  RETURN_IF_FAILED(console_flush());
  if (!console_shared()) return {};
  if (g_line.owed && !g_line.continues) {
    RETURN_IF_FAILED(console_put("\r\n"));
    RETURN_IF_FAILED(console_flush());
    g_line.owed = false;
  }
  g_line.continues = false;
  return {};
}

Status console_end_line_for_stop() {
  return g_line.owed ? console_put("\r\n") : Status{};
}

bool console_line_owed() {
  return g_line.owed;
}
bool console_line_continues() {
  return g_line.continues;
}

// --- input ---

int console_peek() {
  if (con.pos == con.len) {
    if (const int e = refill()) return -e;
  }
  return static_cast<unsigned char>(con.buf[con.pos]);
}

// Ctrl-Z as the last character before a line end signals the end of input.
int console_take() {
  const char c = con.buf[con.pos++];
  if (c != '\n') {
    con.line_started = true;
    con.prev2 = con.prev1;
    con.prev1 = c;
    return 0;
  }
  if (con.prev1 == kCtrlZ || (con.prev1 == '\r' && con.prev2 == kCtrlZ)) return kErrEndOfFile;
  con.line_started = false;
  con.prev1 = con.prev2 = 0;
  return 0;
}

int console_drop_line() {
  for (;;) {
    const int c = console_peek();
    if (c < 0) return -c;
    if (const int e = console_take()) return e;
    if (c == '\n') break;
  }
  if (stdin_is_terminal()) con.pos = con.len;
  return 0;
}

int console_read_done() {
  if (const int e = console_drop_line()) return e;
  if (console_shared()) g_line.owed = false;
  return 0;
}

Status read_console_line(char* buf, std::size_t cap, std::size_t* length) {
  RETURN_IF_FAILED(console_settle_for_read());
  con.line_max = cap > kMaxTerminalLine ? kMaxNameLine : kMaxTerminalLine;
  std::size_t n = 0;
  int e = 0;
  for (int c = console_peek(); c != '\r' && c != '\n'; c = console_peek(), ++n) {
    if (c < 0 || (e = console_take()) != 0) {
      e = c < 0 ? -c : e;
      break;
    }
    if (n < cap) buf[n] = static_cast<char>(c);
  }
  if (e == 0) e = console_read_done();
  con.line_max = kMaxTerminalLine;
  *length = n;
  return e == 0 ? Status{} : Status::error(e, StmtKind::kRead, "CON");
}

}  // namespace rt
