// Byte strings written as hex text ("02 10 03") for the simulator's byte tables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>

namespace radiosim::testing {

inline std::string Hex(std::string_view text) {
  std::string bytes;
  std::istringstream in{std::string(text)};
  for (std::string b; in >> b;) bytes += char(std::stoi(b, nullptr, 16));
  return bytes;
}

inline std::string ToHex(std::string_view bytes) {
  std::string s;
  for (char c : bytes) {
    char b[4];
    std::snprintf(b, sizeof b, s.empty() ? "%02X" : " %02X", unsigned(uint8_t(c)));
    s += b;
  }
  return s;
}

}  // namespace radiosim::testing
