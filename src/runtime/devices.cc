#include "runtime/devices.h"

#include "platform/platform.h"
#include "runtime/text.h"

namespace rt {
namespace {

constexpr DeviceName kDevices[] = {
    {"CON", "CON", Device::kConsole, true},  {"USER", "CON", Device::kConsole, false},
    {"ERR", "ERR", Device::kErr, false},     {"NUL", "NUL", Device::kNull, true},
    {"PRN", "PRN", Device::kNamed, true},    {"AUX", "COM1", Device::kNamed, true},
    {"LINE", "COM1", Device::kNamed, false}, {"COM1", "COM1", Device::kNamed, true},
    {"COM2", "COM2", Device::kNamed, true},  {"COM3", "COM3", Device::kNamed, true},
    {"COM4", "COM4", Device::kNamed, true},  {"COM5", "COM5", Device::kNamed, true},
    {"COM6", "COM6", Device::kNamed, true},  {"COM7", "COM7", Device::kNamed, true},
    {"COM8", "COM8", Device::kNamed, true},  {"COM9", "COM9", Device::kNamed, true},
    {"LPT1", "LPT1", Device::kNamed, true},  {"LPT2", "LPT2", Device::kNamed, true},
    {"LPT3", "LPT3", Device::kNamed, true},  {"LPT4", "LPT4", Device::kNamed, true},
    {"LPT5", "LPT5", Device::kNamed, true},  {"LPT6", "LPT6", Device::kNamed, true},
    {"LPT7", "LPT7", Device::kNamed, true},  {"LPT8", "LPT8", Device::kNamed, true},
    {"LPT9", "LPT9", Device::kNamed, true},
};

}  // namespace

const DeviceName* device_of_name(std::string_view name, std::size_t* base_len) {
  *base_len = name.size();
  platform::Platform& p = platform::current();
  const bool system_names = p.reserves_device_names();
  for (const DeviceName& d : kDevices) {
    if ((system_names || d.device != Device::kNamed) && equal_nocase(name, d.name)) return &d;
  }
  if (!system_names) return nullptr;
  const std::size_t start = p.last_component(name);
  std::string_view base = name.substr(start);
  base = base.substr(0, base.find_first_of(".:"));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (const DeviceName& d : kDevices) {
    if (d.reserved && equal_nocase(base, d.name)) {
      *base_len = start + base.size();
      return &d;
    }
  }
  return nullptr;
}

bool system_device(std::string_view name) {
  std::size_t base_len = 0;
  const DeviceName* d = device_of_name(name, &base_len);
  return d != nullptr && platform::current().reserves_device_names() &&
         (d->device == Device::kNamed || (d->reserved && d->device != Device::kNull));
}

}  // namespace rt
