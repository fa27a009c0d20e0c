// The 16-byte value record that crosses the server library's exports (request records and
// property values). It keeps the platform's VARIANT layout on 64 bits: a type tag, three
// reserved words, then 8 bytes of value. Strings are BSTRs (bstr.h): UTF-16 text after a
// 32-bit byte count, allocated with malloc so that either side of the exports may free what
// the other allocated. This header needs nothing but the C++ library, so the server library
// can include it without linking anything of the transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace platform::com {

using VARTYPE = uint16_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using VARIANT_BOOL = int16_t;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// The value types of the OLE automation variant that the system uses.
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,  // flag: a one-dimensional array of the type in the low bits
};

struct RawVariant {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int8_t cVal;
    uint8_t bVal;
    int16_t iVal;
    uint16_t uiVal;
    int32_t lVal;
    uint32_t ulVal;
    int32_t intVal;
    uint32_t uintVal;
    int64_t llVal;
    uint64_t ullVal;
    float fltVal;
    double dblVal;
    double date;   // days since 1899-12-30
    int64_t cyVal; // currency: value x 10000
    VARIANT_BOOL boolVal;
    int32_t scode;
    BSTR bstrVal;
  };
};

static_assert(sizeof(RawVariant) == 16, "the exports carry a 16-byte variant");
static_assert(offsetof(RawVariant, dblVal) == 8);

// An empty record (VT_EMPTY, all value bytes 0).
inline void RawVariantInit(RawVariant* v) { std::memset(v, 0, sizeof(RawVariant)); }

// Reads a record from unaligned bytes (a packed request record) and writes one back.
inline RawVariant LoadRawVariant(const void* bytes) {
  RawVariant v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}
inline void StoreRawVariant(void* bytes, const RawVariant& v) { std::memcpy(bytes, &v, sizeof v); }

}  // namespace platform::com
