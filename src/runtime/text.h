// Text as the run-time and the tool compare it: ASCII letters folded to one case.
#pragma once

namespace rt {

// The letter in upper / lower case; a byte that is no ASCII letter stays as it is.
constexpr char to_upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char to_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace rt
