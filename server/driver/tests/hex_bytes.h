// Byte strings written as hex in test tables: "60 05 10 10".
#pragma once

#include <string>
#include <string_view>

namespace driver::testing {

inline std::string Bytes(std::string_view hex) {
  std::string out;
  int nibbles = 0, value = 0;
  for (char c : hex) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) continue;
    value = value * 16 + d;
    if (++nibbles == 2) {
      out += char(value);
      nibbles = value = 0;
    }
  }
  return out;
}

inline std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

}  // namespace driver::testing
