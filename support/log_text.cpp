#include "support/log_text.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace support {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string HexN(uint32_t v, int digits) {
  std::string s(size_t(digits), '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) s[size_t(i)] = kHexDigits[v & 0xF];
  return s;
}
}  // namespace

std::string BoolToText(bool b) { return b ? "TRUE " : "FALSE"; }

std::string IntStr(int32_t v) { return std::to_string(v).substr(0, 10); }

std::string IntStr2(int32_t v) {
  std::string s = std::to_string(v);
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  return s.substr(0, 10);
}

std::string RealStr(int decimals, double v) {
  // The C library writes "nan" or "-nan" after the sign bit, which says nothing here.
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  if (decimals < 0) decimals = 0;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return std::string(buf).substr(0, 20);
}

std::string Hex2(uint32_t v) { return HexN(v, 2); }
std::string Hex4(uint32_t v) { return HexN(v, 4); }
std::string Hex6(uint32_t v) { return HexN(v, 6); }

int32_t HexToInt(std::string_view text) {
  int32_t value = 0;
  for (char c : text.substr(0, 10)) {
    char u = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
    int digit = 0;
    for (int i = 0; i < 16; ++i)
      if (kHexDigits[i] == u) digit = i;
    if (__builtin_mul_overflow(value, 16, &value) || __builtin_add_overflow(value, digit, &value))
      throw EIntOverflow();
  }
  return value;
}

std::string DateTimeText(std::chrono::system_clock::time_point t) {
  auto secs_since = std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
  time_t secs = time_t(secs_since);
  tm local{};
  localtime_r(&secs, &local);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return buf;
}

}  // namespace support
