// GUID: the 128-bit identifier of classes (CLSID), interfaces (IID) and component categories
// (CATID), and its registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform::com {

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  std::array<uint8_t, 8> Data4{};

  friend bool operator==(const GUID&, const GUID&) = default;
  friend auto operator<=>(const GUID&, const GUID&) = default;
};

using IID = GUID;
using CLSID = GUID;
using CATID = GUID;

inline constexpr GUID GUID_NULL{};

// Upper-case registry form with braces.
std::string GuidToString(const GUID& guid);
// Accepts the registry form, hexadecimal digits in either case; nothing else (no missing
// braces, blanks or extra characters).
std::optional<GUID> GuidFromString(const std::string& text);

// 16 bytes in the platform's memory order (Data1..3 little-endian), for the wire.
std::array<uint8_t, 16> GuidToBytes(const GUID& guid);
std::optional<GUID> GuidFromBytes(const std::string& bytes);

// A new random GUID (version 4) from the kernel's random source, so fit for session tokens;
// throws std::system_error when the kernel gives no random bytes.
GUID NewGuid();

}  // namespace platform::com

template <>
struct std::hash<platform::com::GUID> {
  size_t operator()(const platform::com::GUID& g) const noexcept {
    uint64_t tail = 0;
    for (uint8_t b : g.Data4) tail = tail << 8 | b;
    return std::hash<uint64_t>()((uint64_t{g.Data1} << 32 | uint64_t{g.Data2} << 16 | g.Data3) ^ tail);
  }
};
