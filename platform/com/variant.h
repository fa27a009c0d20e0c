// The value type in place of the OLE automation VARIANT: a type tag and a value that owns its
// text (UTF-8) and array elements, so it copies and compares like any C++ value. Arrays are
// one-dimensional with a lower bound of 0; their elements carry the array's element type, or
// any scalar type in a VT_ARRAY | VT_VARIANT array.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/raw_variant.h"

namespace platform::com {

class Variant {
 public:
  Variant() = default;  // VT_EMPTY

  static Variant Null();
  static Variant I1(int8_t v) { return Variant(VT_I1, int64_t{v}); }
  static Variant I2(int16_t v) { return Variant(VT_I2, int64_t{v}); }
  static Variant I4(int32_t v) { return Variant(VT_I4, int64_t{v}); }
  static Variant I8(int64_t v) { return Variant(VT_I8, v); }
  static Variant Int(int32_t v) { return Variant(VT_INT, int64_t{v}); }
  static Variant UI1(uint8_t v) { return Variant(VT_UI1, uint64_t{v}); }
  static Variant UI2(uint16_t v) { return Variant(VT_UI2, uint64_t{v}); }
  static Variant UI4(uint32_t v) { return Variant(VT_UI4, uint64_t{v}); }
  static Variant UI8(uint64_t v) { return Variant(VT_UI8, v); }
  static Variant UInt(uint32_t v) { return Variant(VT_UINT, uint64_t{v}); }
  static Variant R4(float v) { return Variant(VT_R4, double{v}); }
  static Variant R8(double v) { return Variant(VT_R8, v); }
  static Variant Date(double days_since_1899_12_30) { return Variant(VT_DATE, days_since_1899_12_30); }
  static Variant Cy(int64_t value_times_10000) { return Variant(VT_CY, value_times_10000); }
  static Variant Bool(bool v) { return Variant(VT_BOOL, int64_t{v ? -1 : 0}); }
  static Variant Str(std::string utf8) { return Variant(VT_BSTR, std::move(utf8)); }
  static Variant Error(SCODE code) { return Variant(VT_ERROR, int64_t{code}); }
  // elem_vt is the element type (without VT_ARRAY). Every element must have that type
  // (any scalar type for VT_VARIANT); Valid() tells whether it does.
  static Variant Array(VARTYPE elem_vt, std::vector<Variant> elements);

  VARTYPE vt() const { return vt_; }
  bool IsArray() const { return (vt_ & VT_ARRAY) != 0; }
  VARTYPE ElementType() const { return static_cast<VARTYPE>(vt_ & ~VT_ARRAY); }
  // True when the tag is one this type knows and the value fits it (arrays: every element).
  bool Valid() const;

  // The stored value; each accessor serves the types named and gives 0 / "" / {} otherwise.
  int64_t Int() const;    // I1, I2, I4, I8, INT, BOOL (-1 or 0), ERROR, CY (value x 10000)
  uint64_t UInt() const;  // UI1, UI2, UI4, UI8, UINT
  double Real() const;    // R4, R8, DATE
  bool Bool() const { return Int() != 0; }
  const std::string& Str() const;
  const std::vector<Variant>& Elements() const;

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  using Store = std::variant<std::monostate, int64_t, uint64_t, double, std::string, std::vector<Variant>>;
  Variant(VARTYPE vt, Store v) : vt_(vt), v_(std::move(v)) {}
  VARTYPE vt_ = VT_EMPTY;
  Store v_;
};

// True for the scalar types Variant holds (VT_EMPTY and VT_NULL included).
bool IsScalarType(VARTYPE vt);
// True for every tag a Variant may carry: the scalar types and arrays of them or of VT_VARIANT.
bool IsKnownType(VARTYPE vt);

// Accepted for the familiar signature; this implementation has one rule set for all flags.
inline constexpr uint16_t VARIANT_NOVALUEPROP = 0x01;
inline constexpr uint16_t VARIANT_ALPHABOOL = 0x02;

// Converts src to type vt, as the automation conversion does:
// - numbers convert among themselves; fractions round half to even; a value outside the
//   target's range gives DISP_E_OVERFLOW;
// - text converts to a number when it is one ("." as decimal point, blanks around allowed),
//   else DISP_E_TYPEMISMATCH; to BOOL also "True"/"False" in any case;
// - numbers and BOOL convert to text ("." as decimal point; R8 with 15 and R4 with 7
//   significant digits, so the text of a real may read back as a slightly different number;
//   BOOL as "True"/"False"); DATE and ERROR do not (DISP_E_TYPEMISMATCH);
// - VT_EMPTY converts to 0, "" or False; VT_NULL and VT_ERROR only to themselves;
// - arrays convert element by element to arrays (the first failing element's code), never
//   to or from a scalar (DISP_E_TYPEMISMATCH);
// - an unknown type on either side gives DISP_E_BADVARTYPE.
// dest is changed only on success; dest may be &src.
HRESULT VariantChangeType(Variant* dest, const Variant& src, uint16_t wFlags, VARTYPE vt);

// The 16-byte raw form of the exports. Arrays have no raw form here (DISP_E_BADVARTYPE);
// a BSTR is allocated for text and belongs to the record (RawVariantClear frees it).
HRESULT VariantToRaw(const Variant& v, RawVariant* raw);
HRESULT VariantFromRaw(const RawVariant& raw, Variant* v);
void RawVariantClear(RawVariant* raw);

}  // namespace platform::com
