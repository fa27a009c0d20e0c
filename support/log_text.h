// Number-to-text helpers that the units use to build their log texts.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace support {

// Raised where the system's arithmetic detects an overflow (HexToInt, the repeat counter).
class EIntOverflow : public std::overflow_error {
 public:
  EIntOverflow() : std::overflow_error("Integer overflow") {}
};

std::string BoolToText(bool b);          // "TRUE " or "FALSE"
std::string IntStr(int32_t v);           // decimal, at most 10 characters
std::string IntStr2(int32_t v);          // width 2, leading blank as "0" ("07")
std::string RealStr(int decimals, double v);  // fixed point, at most 20 characters; "NAN", "INF", "-INF"
std::string Hex2(uint32_t v);
std::string Hex4(uint32_t v);
std::string Hex6(uint32_t v);
// First 10 characters, case-insensitive; a non-hex character counts as 0.
// Throws EIntOverflow when the value reaches 2^31.
int32_t HexToInt(std::string_view text);

// "dd.mm.yyyy hh:nn:ss" of t in local time: the one date-time layout of the system's files.
std::string DateTimeText(std::chrono::system_clock::time_point t);

}  // namespace support
