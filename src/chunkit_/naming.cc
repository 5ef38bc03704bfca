#include "chunkit_/naming.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "chunkit_/state.h"
#include "runtime/devices.h"
#include "runtime/errors.h"
#include "runtime/layout.h"
#include "runtime/text.h"
#include "runtime/units.h"

namespace chunkit {
namespace {

constexpr int kNumberScan = 9;              // positions searched for the "." or blank
constexpr std::int32_t kLastVersion = 999;  // the largest number the three digits hold

}  // namespace

bool output_is_standard = false;

rt::Status open_output() {
  using platform::StdStream;
  output_is_standard = false;
  const std::string_view given = rt::trim({outname, kNameLen});
  // The console text goes to standard output and the reports to standard error: in the copy, an
  // output that is either of them by any name is refused before anything is created. The modes
  // for programs take "-", and standard output by any other name, as standard output.
  if (mode == Mode::kCopy) {
    if (rt::names_standard(given, StdStream::kOut) || rt::names_standard(given, StdStream::kErr))
      return rt::Status::error(rt::kErrConnected, rt::StmtKind::kOpen, given);
  } else if (given == "-" || rt::names_standard(given, StdStream::kOut)) {
    output_is_standard = true;
    std::memset(outname, ' ', kNameLen);
    outname[0] = '-';
    rt::OpenSpec standard;
    standard.form = "binary";
    standard.standard = StdStream::kOut;
    return rt::open_unit(kOutUnit, "-", standard);
  }
  // A FIFO, a device or a socket is written into as it is, never numbered: nothing there can
  // be overwritten.
  if (rt::names_stream(given)) {
    rt::OpenSpec into;
    into.status = "OLD";
    into.form = "binary";
    into.access = "write";
    return rt::open_unit(kOutUnit, {outname, kNameLen}, into);
  }
  rt::OpenSpec create;
  create.status = "NEW";
  create.form = "binary";
  for (;;) {
    // A name the system opens as a device (other than the null device) would send the copy
    // there, under any number: it is refused before anything is opened.
    const std::string_view name = rt::trim({outname, kNameLen});
    if (rt::system_device(name)) {
      return rt::Status::error(rt::kErrDeviceKind, rt::StmtKind::kOpen, name);
    }
    const rt::Status opened = rt::open_unit(kOutUnit, {outname, kNameLen}, create);
    if (opened.ok()) return {};
    // Only a name that is taken leads to the next number. Any other failure (no such folder, no
    // right to create, no room, a name the system rejects, an interrupt) would fail the same
    // way for every number, so it ends the run at once, naming the name just tried.
    if (opened.what() != rt::Status::What::kError) return opened;
    const int error = opened.number();
    const rt::Status failed = rt::Status::error(error, rt::StmtKind::kOpen, name);
    if (error != rt::kErrExists && error != rt::kErrConnected) return failed;
    ++iversion;

    // The positions searched are those of the name's last component, so the number never
    // lands in the name of a folder.
    const int first = static_cast<int>(rt::last_component({outname, kNameLen}));
    int p = first;
    while (p < first + kNumberScan && p < kNameLen && outname[p] != '.' && outname[p] != ' ') {
      ++p;
    }
    // No place for a number (or no room for its digits at the end of the longest name), or
    // every number tried: no name is left to try, and going on without an output file would
    // lose the copy, so the failed open ends the run.
    if (p == first + kNumberScan || p + 3 >= kNameLen || iversion > kLastVersion) return failed;
    outname[p] = '.';
    rt::write_begin_internal(outname + p + 1, 3, "(i3.3)");
    rt::write_int4(iversion);
    RETURN_IF_FAILED(rt::write_end());
  }
}

}  // namespace chunkit
