// What a statement, an open or a piece of the run came to: ok, or what ends the run. A failure
// is a value that each caller hands up unchanged to the top of the run, where the end of the run
// (run.h) turns it into its report and exit status. Nothing below the top ends the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rt {

// Kind of the statement that failed; it picks the text after the error value in a report.
enum class StmtKind : std::uint8_t { kClose, kWrite, kOpen, kRead, kGeneral };

// Not a run-time error: an interrupt cut the operation short. Module-internal error numbers
// carry it up to the statement, whose Status is then an interrupt.
inline constexpr int kInterrupted = 255;

class [[nodiscard]] Status {
 public:
  enum class What : std::uint8_t {
    kOk,         // the run goes on; at the top, the normal end
    kError,      // a run-time error: number, statement kind and the name concerned
    kInterrupt,  // an interrupt arrived: the run ends by its signal
    kUsage,      // a command line the tool refused, its message written: exit status 2
    kStop,       // the normal end with a stop text of its own (name())
    kStartup,    // the run-time could not start: the failure's text (name())
  };

  constexpr Status() = default;
  // kInterrupted makes an interrupt. The name must outlive the run: a unit's name, the tool's
  // name buffers, a fixed text, or a name the unit service keeps for a failed open.
  static constexpr Status error(int number, StmtKind kind, std::string_view name) {
    if (number == kInterrupted) return interrupt();
    return Status(What::kError, name, static_cast<std::uint8_t>(number), kind);
  }
  static constexpr Status interrupt() { return Status(What::kInterrupt, {}); }
  static constexpr Status usage() { return Status(What::kUsage, {}); }
  static constexpr Status stop(std::string_view text) { return Status(What::kStop, text); }
  static constexpr Status startup(std::string_view text) { return Status(What::kStartup, text); }

  constexpr bool ok() const { return (code_ & 0xFF) == 0; }
  constexpr What what() const { return static_cast<What>(code_ & 0xFF); }
  constexpr int number() const { return static_cast<int>((code_ >> 8) & 0xFF); }
  constexpr StmtKind kind() const { return static_cast<StmtKind>((code_ >> 16) & 0xFF); }
  constexpr std::string_view name() const { return {name_, static_cast<std::size_t>(code_ >> 32)}; }
  // A read that met the end of the file (or of console input).
  bool at_end() const;
  // What a statement that asked for its status receives: 0, -1 at the end of the file, or the
  // error value.
  std::int32_t value() const;

 private:
  constexpr Status(What w, std::string_view name, std::uint8_t number = 0,
                   StmtKind kind = StmtKind::kGeneral)
      : name_(name.data()),
        code_(static_cast<std::uint64_t>(w) | std::uint64_t{number} << 8 |
              std::uint64_t{static_cast<std::uint8_t>(kind)} << 16 |
              std::uint64_t{name.size()} << 32) {}
  // Two words, so that a Status travels in two registers and ok() is one test: what it is,
  // the error number and the statement kind in the low bytes of `code_`, the name's length in
  // its high half.
  const char* name_ = nullptr;
  std::uint64_t code_ = 0;
};

// Sends a failure up: `RETURN_IF_FAILED(expr);` returns expr's Status from the caller unless
// it is ok.
#define RETURN_IF_FAILED(expr)                         \
  do {                                                 \
    if (::rt::Status s_ = (expr); !s_.ok()) return s_; \
  } while (false)

// True when an interrupt arrived and the run is not ending yet. Looked at once per block of a
// file and before each wait for the console; the end of the run writes every unit out first.
bool interrupt_pending();
inline Status check_interrupt() {
  return interrupt_pending() ? Status::interrupt() : Status{};
}
// From now on interrupts wait for the end of the run, which ends by their signal.
void begin_ending();
// Forgets an earlier end (tests start many runs in one process).
void status_init();

}  // namespace rt
