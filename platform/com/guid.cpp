#include "platform/com/guid.h"

#include <cstdio>

#include "platform/kernel_random.h"

namespace platform::com {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads n hexadecimal digits at text[pos].
std::optional<uint64_t> Hex(const std::string& text, size_t pos, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) {
    int d = HexDigit(text[pos + i]);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  return v;
}

}  // namespace

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return buf;
}

std::optional<GUID> GuidFromString(const std::string& text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-') {
    return std::nullopt;
  }
  GUID g;
  auto d1 = Hex(text, 1, 8), d2 = Hex(text, 10, 4), d3 = Hex(text, 15, 4);
  if (!d1 || !d2 || !d3) return std::nullopt;
  g.Data1 = static_cast<uint32_t>(*d1);
  g.Data2 = static_cast<uint16_t>(*d2);
  g.Data3 = static_cast<uint16_t>(*d3);
  const size_t byte_pos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    auto b = Hex(text, byte_pos[i], 2);
    if (!b) return std::nullopt;
    g.Data4[i] = static_cast<uint8_t>(*b);
  }
  return g;
}

std::array<uint8_t, 16> GuidToBytes(const GUID& g) {
  std::array<uint8_t, 16> b{};
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(g.Data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) b[4 + i] = static_cast<uint8_t>(g.Data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) b[6 + i] = static_cast<uint8_t>(g.Data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) b[8 + i] = g.Data4[i];
  return b;
}

std::optional<GUID> GuidFromBytes(const std::string& bytes) {
  if (bytes.size() != 16) return std::nullopt;
  auto u = [&](int i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
  GUID g;
  g.Data1 = u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24;
  g.Data2 = static_cast<uint16_t>(u(4) | u(5) << 8);
  g.Data3 = static_cast<uint16_t>(u(6) | u(7) << 8);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(u(8 + i));
  return g;
}

GUID NewGuid() {
  std::array<uint8_t, 16> bytes;
  KernelRandom(bytes);
  bytes[7] = static_cast<uint8_t>((bytes[7] & 0x0F) | 0x40);  // version 4 (high nibble of Data3)
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 1
  return *GuidFromBytes(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace platform::com
