#include "runtime/devices.h"

#include "platform/platform.h"

namespace rt {
namespace {

constexpr DeviceName kDevices[] = {
    {"CON", "CON", Device::kConsole}, {"USER", "CON", Device::kConsole},
    {"ERR", "ERR", Device::kErr},     {"NUL", "NUL", Device::kNull},
    {"PRN", "PRN", Device::kNamed},   {"COM1", "COM1", Device::kNamed},
    {"COM2", "COM2", Device::kNamed}, {"COM3", "COM3", Device::kNamed},
    {"COM4", "COM4", Device::kNamed}, {"LPT1", "LPT1", Device::kNamed},
    {"LPT2", "LPT2", Device::kNamed}, {"LPT3", "LPT3", Device::kNamed},
    {"LPT4", "LPT4", Device::kNamed}, {"AUX", "COM1", Device::kNamed},
    {"LINE", "COM1", Device::kNamed},
};

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

const DeviceName* device_of_name(std::string_view name, std::size_t* base_len) {
  *base_len = name.size();
  if (!platform::current().reserves_device_names()) {
    for (const DeviceName& d : kDevices) {
      if (d.device != Device::kNamed && equal_nocase(name, d.name)) return &d;
    }
    return nullptr;
  }
  std::size_t dot = name.rfind('.');
  std::string_view base = name.substr(0, dot);
  if (base.size() != 3 && base.size() != 4) return nullptr;
  if (dot != std::string_view::npos && dot + 1 < name.size()) {
    char first = upper(name[dot + 1]);
    if (first == 'E' || first == 'L' || first == 'U') return nullptr;
  }
  for (const DeviceName& d : kDevices) {
    if (equal_nocase(base, d.name)) {
      *base_len = base.size();
      return &d;
    }
  }
  return nullptr;
}

}  // namespace rt
