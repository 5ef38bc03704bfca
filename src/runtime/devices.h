// Device names: which names stand for the console, standard error and the null device, and,
// where the system itself reserves them, for the printer and serial devices.
#pragma once

#include <cstddef>
#include <string_view>

namespace rt {

// kNamed devices exist only where the system reserves their names; they are opened like files
// under their canonical name.
enum class Device { kNone, kConsole, kErr, kNull, kNamed };

struct DeviceName {
  const char* name;
  const char* canonical;
  Device device;
  bool reserved;  // a name the system reserves, where it reserves device names
};

// The device a name stands for, or null for a file. The run-time's own names (CON, USER, ERR,
// NUL, and LINE where the system reserves device names) count as the whole name only. Where
// the system reserves device names, it opens its own (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to
// LPT9) under any extension and in any folder: the last component up to its first "." or ":",
// trailing blanks left out. *base_len receives the length of the name up to the end of that
// device name.
const DeviceName* device_of_name(std::string_view name, std::size_t* base_len);

// True when the name stands for a device other than the null device that the system opens (a
// printer or serial device, or the console by the system's own name): no new file can ever be
// made under it, whatever number it is given. Only where the system reserves device names.
bool system_device(std::string_view name);

}  // namespace rt
