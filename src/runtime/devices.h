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
};

// Names compare without regard to the case of their letters.
bool equal_nocase(std::string_view a, std::string_view b);

// The device a name stands for, or null for a file. Where the system reserves the device names,
// a name with an extension may be a device too: *base_len receives the length of the name
// without it.
const DeviceName* device_of_name(std::string_view name, std::size_t* base_len);

}  // namespace rt
