#include "platform/com/variant.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/com/bstr.h"

namespace platform::com {

namespace {

const std::string kEmptyString;
const std::vector<Variant> kNoElements;

bool IsSignedType(VARTYPE vt) {
  return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT;
}
bool IsUnsignedType(VARTYPE vt) {
  return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
}
bool IsRealType(VARTYPE vt) { return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE; }

struct Range {
  int64_t min;
  uint64_t max;
};

Range RangeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1: return {INT8_MIN, INT8_MAX};
    case VT_I2: return {INT16_MIN, INT16_MAX};
    case VT_I4:
    case VT_INT: return {INT32_MIN, INT32_MAX};
    case VT_I8: return {INT64_MIN, INT64_MAX};
    case VT_UI1: return {0, UINT8_MAX};
    case VT_UI2: return {0, UINT16_MAX};
    case VT_UI4:
    case VT_UINT: return {0, UINT32_MAX};
    default: return {0, UINT64_MAX};  // VT_UI8
  }
}

// A scalar number on its way between two types.
struct Num {
  enum Kind { kSigned, kUnsigned, kReal } kind = kSigned;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

HRESULT ParseNumber(const std::string& text, Num* out) {
  std::string t = Trim(text);
  if (t.empty()) return DISP_E_TYPEMISMATCH;
  const char* b = t.data();
  const char* e = b + t.size();
  if (*b == '+') ++b;  // from_chars takes no plus sign
  if (b == e) return DISP_E_TYPEMISMATCH;
  int64_t i;
  auto ri = std::from_chars(b, e, i);
  if (ri.ec == std::errc() && ri.ptr == e) {
    out->kind = Num::kSigned, out->i = i;
    return S_OK;
  }
  uint64_t u;
  auto ru = std::from_chars(b, e, u);
  if (ru.ec == std::errc() && ru.ptr == e) {
    out->kind = Num::kUnsigned, out->u = u;
    return S_OK;
  }
  double d;
  auto rd = std::from_chars(b, e, d);
  if (rd.ptr != e) return DISP_E_TYPEMISMATCH;
  if (rd.ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
  if (rd.ec != std::errc()) return DISP_E_TYPEMISMATCH;
  if (!std::isfinite(d)) return DISP_E_TYPEMISMATCH;  // "inf" and "nan" are not numbers here
  out->kind = Num::kReal, out->d = d;
  return S_OK;
}

// A scalar as a number; text is parsed.
HRESULT ToNum(const Variant& v, Num* n) {
  VARTYPE vt = v.vt();
  if (vt == VT_EMPTY) {
    *n = Num{};
    return S_OK;
  }
  if (IsSignedType(vt) || vt == VT_BOOL) {
    n->kind = Num::kSigned, n->i = v.Int();
    return S_OK;
  }
  if (IsUnsignedType(vt)) {
    n->kind = Num::kUnsigned, n->u = v.UInt();
    return S_OK;
  }
  if (IsRealType(vt)) {
    n->kind = Num::kReal, n->d = v.Real();
    return S_OK;
  }
  if (vt == VT_CY) {
    if (v.Int() % 10000 == 0) {
      n->kind = Num::kSigned, n->i = v.Int() / 10000;
    } else {
      n->kind = Num::kReal, n->d = static_cast<double>(v.Int()) / 10000.0;
    }
    return S_OK;
  }
  if (vt == VT_BSTR) return ParseNumber(v.Str(), n);
  return DISP_E_TYPEMISMATCH;  // VT_NULL, VT_ERROR
}

double NumToDouble(const Num& n) {
  switch (n.kind) {
    case Num::kSigned: return static_cast<double>(n.i);
    case Num::kUnsigned: return static_cast<double>(n.u);
    default: return n.d;
  }
}

HRESULT NumToInteger(const Num& n, VARTYPE vt, Variant* out) {
  Range r = RangeOf(vt);
  bool is_signed = IsSignedType(vt);
  int64_t si = 0;
  uint64_t ui = 0;
  bool negative = false;
  switch (n.kind) {
    case Num::kSigned:
      negative = n.i < 0;
      si = n.i;
      ui = static_cast<uint64_t>(n.i);
      break;
    case Num::kUnsigned:
      if (n.u > static_cast<uint64_t>(INT64_MAX) && is_signed) return DISP_E_OVERFLOW;
      si = static_cast<int64_t>(n.u);
      ui = n.u;
      break;
    case Num::kReal: {
      if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
      double d = std::nearbyint(n.d);  // round half to even
      if (d < -9223372036854775808.0 || d >= 18446744073709551616.0) return DISP_E_OVERFLOW;
      negative = d < 0;
      if (negative) {
        si = static_cast<int64_t>(d);
        ui = static_cast<uint64_t>(si);
      } else if (d >= 9223372036854775808.0) {
        if (is_signed) return DISP_E_OVERFLOW;
        ui = static_cast<uint64_t>(d);
        si = static_cast<int64_t>(ui);
      } else {
        si = static_cast<int64_t>(d);
        ui = static_cast<uint64_t>(si);
      }
      break;
    }
  }
  if (is_signed) {
    if (si < r.min || (si >= 0 && static_cast<uint64_t>(si) > r.max)) return DISP_E_OVERFLOW;
    switch (vt) {
      case VT_I1: *out = Variant::I1(static_cast<int8_t>(si)); break;
      case VT_I2: *out = Variant::I2(static_cast<int16_t>(si)); break;
      case VT_I4: *out = Variant::I4(static_cast<int32_t>(si)); break;
      case VT_INT: *out = Variant::Int(static_cast<int32_t>(si)); break;
      default: *out = Variant::I8(si); break;
    }
    return S_OK;
  }
  if (negative || ui > r.max) return DISP_E_OVERFLOW;
  switch (vt) {
    case VT_UI1: *out = Variant::UI1(static_cast<uint8_t>(ui)); break;
    case VT_UI2: *out = Variant::UI2(static_cast<uint16_t>(ui)); break;
    case VT_UI4: *out = Variant::UI4(static_cast<uint32_t>(ui)); break;
    case VT_UINT: *out = Variant::UInt(static_cast<uint32_t>(ui)); break;
    default: *out = Variant::UI8(ui); break;
  }
  return S_OK;
}

// A real as users read it: 15 significant digits for a double, 7 for a float, no trailing
// zeros, the exponent form only for very large and very small numbers. So a scaled 23.7 that
// the double holds as 23.700000000000003 reads "23.7"; the digits dropped are the noise of the
// binary fraction, not of the value.
template <class T>
std::string RealText(T v) {
  constexpr int kDigits = sizeof(T) == sizeof(float) ? 7 : 15;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, kDigits);
  std::string s(buf, r.ptr);
  for (char& c : s) {
    if (c == 'e') c = 'E';
  }
  return s;
}

std::string CyText(int64_t cy) {
  bool neg = cy < 0;
  uint64_t mag = neg ? 0 - static_cast<uint64_t>(cy) : static_cast<uint64_t>(cy);
  std::string s = std::to_string(mag / 10000);
  if (uint64_t frac = mag % 10000) {
    std::string f = std::to_string(frac);
    f = std::string(4 - f.size(), '0') + f;
    while (f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return neg ? "-" + s : s;
}

HRESULT ToText(const Variant& v, Variant* out) {
  VARTYPE vt = v.vt();
  std::string s;
  if (vt == VT_EMPTY) {
    s = "";
  } else if (vt == VT_BSTR) {
    s = v.Str();
  } else if (vt == VT_BOOL) {
    s = v.Bool() ? "True" : "False";
  } else if (IsSignedType(vt)) {
    s = std::to_string(v.Int());
  } else if (IsUnsignedType(vt)) {
    s = std::to_string(v.UInt());
  } else if (vt == VT_R4) {
    s = RealText(static_cast<float>(v.Real()));
  } else if (vt == VT_R8) {
    s = RealText(v.Real());
  } else if (vt == VT_CY) {
    s = CyText(v.Int());
  } else {
    return DISP_E_TYPEMISMATCH;  // VT_NULL, VT_ERROR, VT_DATE
  }
  *out = Variant::Str(std::move(s));
  return S_OK;
}

HRESULT ScalarChange(const Variant& src, VARTYPE vt, Variant* out) {
  VARTYPE from = src.vt();
  if (from == vt) {
    *out = src;
    return S_OK;
  }
  if (vt == VT_EMPTY) {
    *out = Variant();
    return S_OK;
  }
  if (from == VT_NULL || from == VT_ERROR || vt == VT_NULL || vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
  if (vt == VT_BSTR) return ToText(src, out);
  if (vt == VT_BOOL && from == VT_BSTR) {
    std::string t = Trim(src.Str());
    if (EqualsIgnoreCase(t, "true")) {
      *out = Variant::Bool(true);
      return S_OK;
    }
    if (EqualsIgnoreCase(t, "false")) {
      *out = Variant::Bool(false);
      return S_OK;
    }
  }
  if (from == VT_BSTR && vt == VT_DATE) return DISP_E_TYPEMISMATCH;
  if (from == VT_BOOL && IsUnsignedType(vt)) {
    // True is all bits set, in whatever width.
    Num all_ones{Num::kUnsigned, 0, src.Bool() ? RangeOf(vt).max : 0, 0};
    return NumToInteger(all_ones, vt, out);
  }
  Num n;
  if (HRESULT hr = ToNum(src, &n); FAILED(hr)) return hr;
  if (vt == VT_BOOL) {
    bool b = n.kind == Num::kSigned ? n.i != 0 : n.kind == Num::kUnsigned ? n.u != 0 : n.d != 0;
    *out = Variant::Bool(b);
    return S_OK;
  }
  if (IsSignedType(vt) || IsUnsignedType(vt)) return NumToInteger(n, vt, out);
  double d = NumToDouble(n);
  if (vt == VT_R4) {
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
    *out = Variant::R4(static_cast<float>(d));
    return S_OK;
  }
  if (vt == VT_R8) {
    *out = Variant::R8(d);
    return S_OK;
  }
  if (vt == VT_DATE) {
    *out = Variant::Date(d);
    return S_OK;
  }
  if (vt == VT_CY) {
    if (n.kind == Num::kSigned) {
      if (n.i > INT64_MAX / 10000 || n.i < INT64_MIN / 10000) return DISP_E_OVERFLOW;
      *out = Variant::Cy(n.i * 10000);
      return S_OK;
    }
    double scaled = std::nearbyint(d * 10000.0);
    if (!std::isfinite(scaled) || scaled < -9223372036854775808.0 || scaled >= 9223372036854775808.0) {
      return DISP_E_OVERFLOW;
    }
    *out = Variant::Cy(static_cast<int64_t>(scaled));
    return S_OK;
  }
  return DISP_E_BADVARTYPE;
}

}  // namespace

Variant Variant::Null() { return Variant(VT_NULL, std::monostate{}); }

Variant Variant::Array(VARTYPE elem_vt, std::vector<Variant> elements) {
  return Variant(static_cast<VARTYPE>(VT_ARRAY | elem_vt), std::move(elements));
}

int64_t Variant::Int() const {
  const int64_t* p = std::get_if<int64_t>(&v_);
  return p ? *p : 0;
}
uint64_t Variant::UInt() const {
  const uint64_t* p = std::get_if<uint64_t>(&v_);
  return p ? *p : 0;
}
double Variant::Real() const {
  const double* p = std::get_if<double>(&v_);
  return p ? *p : 0.0;
}
const std::string& Variant::Str() const {
  const std::string* p = std::get_if<std::string>(&v_);
  return p ? *p : kEmptyString;
}
const std::vector<Variant>& Variant::Elements() const {
  const std::vector<Variant>* p = std::get_if<std::vector<Variant>>(&v_);
  return p ? *p : kNoElements;
}

bool Variant::Valid() const {
  if (!IsKnownType(vt_)) return false;
  if (!IsArray()) {
    if (vt_ == VT_BSTR) return std::holds_alternative<std::string>(v_);
    if (vt_ == VT_EMPTY || vt_ == VT_NULL) return std::holds_alternative<std::monostate>(v_);
    if (IsUnsignedType(vt_)) {
      return std::holds_alternative<uint64_t>(v_) && UInt() <= RangeOf(vt_).max;
    }
    if (IsRealType(vt_)) {
      if (!std::holds_alternative<double>(v_)) return false;
      return vt_ != VT_R4 || !std::isfinite(Real()) || std::fabs(Real()) <= FLT_MAX;
    }
    if (!std::holds_alternative<int64_t>(v_)) return false;
    if (IsSignedType(vt_)) {
      Range r = RangeOf(vt_);
      return Int() >= r.min && (Int() < 0 || static_cast<uint64_t>(Int()) <= r.max);
    }
    if (vt_ == VT_BOOL) return Int() == 0 || Int() == -1;
    if (vt_ == VT_ERROR) return Int() >= INT32_MIN && Int() <= INT32_MAX;
    return true;  // VT_CY
  }
  if (!std::holds_alternative<std::vector<Variant>>(v_)) return false;
  VARTYPE elem = ElementType();
  for (const Variant& e : Elements()) {
    if (e.IsArray() || !e.Valid()) return false;
    if (elem != VT_VARIANT && e.vt() != elem) return false;
  }
  return true;
}

bool IsScalarType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_BSTR: case VT_ERROR: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2:
    case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsKnownType(VARTYPE vt) {
  if (!(vt & VT_ARRAY)) return IsScalarType(vt);
  VARTYPE elem = static_cast<VARTYPE>(vt & ~VT_ARRAY);
  return elem == VT_VARIANT || (IsScalarType(elem) && elem != VT_EMPTY && elem != VT_NULL);
}

HRESULT VariantChangeType(Variant* dest, const Variant& src, uint16_t /*wFlags*/, VARTYPE vt) {
  if (!dest) return E_POINTER;
  if (!IsKnownType(vt) || !src.Valid()) return DISP_E_BADVARTYPE;
  Variant out;
  if ((vt & VT_ARRAY) || src.IsArray()) {
    if (!(vt & VT_ARRAY) || !src.IsArray()) return DISP_E_TYPEMISMATCH;
    VARTYPE elem = static_cast<VARTYPE>(vt & ~VT_ARRAY);
    std::vector<Variant> elems;
    elems.reserve(src.Elements().size());
    for (const Variant& e : src.Elements()) {
      Variant converted;
      if (elem == VT_VARIANT) {
        converted = e;
      } else if (HRESULT hr = ScalarChange(e, elem, &converted); FAILED(hr)) {
        return hr;
      }
      elems.push_back(std::move(converted));
    }
    out = Variant::Array(elem, std::move(elems));
  } else if (HRESULT hr = ScalarChange(src, vt, &out); FAILED(hr)) {
    return hr;
  }
  *dest = std::move(out);
  return S_OK;
}

HRESULT VariantToRaw(const Variant& v, RawVariant* raw) {
  if (!raw) return E_POINTER;
  if (v.IsArray() || !v.Valid()) return DISP_E_BADVARTYPE;
  RawVariant r;
  RawVariantInit(&r);
  r.vt = v.vt();
  switch (v.vt()) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_I1: r.cVal = static_cast<int8_t>(v.Int()); break;
    case VT_I2: r.iVal = static_cast<int16_t>(v.Int()); break;
    case VT_I4: case VT_INT: r.lVal = static_cast<int32_t>(v.Int()); break;
    case VT_I8: case VT_CY: r.llVal = v.Int(); break;
    case VT_UI1: r.bVal = static_cast<uint8_t>(v.UInt()); break;
    case VT_UI2: r.uiVal = static_cast<uint16_t>(v.UInt()); break;
    case VT_UI4: case VT_UINT: r.ulVal = static_cast<uint32_t>(v.UInt()); break;
    case VT_UI8: r.ullVal = v.UInt(); break;
    case VT_R4: r.fltVal = static_cast<float>(v.Real()); break;
    case VT_R8: case VT_DATE: r.dblVal = v.Real(); break;
    case VT_BOOL: r.boolVal = v.Bool() ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_ERROR: r.scode = static_cast<int32_t>(v.Int()); break;
    case VT_BSTR:
      r.bstrVal = Utf8ToBstr(v.Str());
      if (!r.bstrVal) return E_OUTOFMEMORY;
      break;
    default: return DISP_E_BADVARTYPE;
  }
  *raw = r;
  return S_OK;
}

HRESULT VariantFromRaw(const RawVariant& r, Variant* v) {
  if (!v) return E_POINTER;
  switch (r.vt) {
    case VT_EMPTY: *v = Variant(); break;
    case VT_NULL: *v = Variant::Null(); break;
    case VT_I1: *v = Variant::I1(r.cVal); break;
    case VT_I2: *v = Variant::I2(r.iVal); break;
    case VT_I4: *v = Variant::I4(r.lVal); break;
    case VT_INT: *v = Variant::Int(r.intVal); break;
    case VT_I8: *v = Variant::I8(r.llVal); break;
    case VT_CY: *v = Variant::Cy(r.cyVal); break;
    case VT_UI1: *v = Variant::UI1(r.bVal); break;
    case VT_UI2: *v = Variant::UI2(r.uiVal); break;
    case VT_UI4: *v = Variant::UI4(r.ulVal); break;
    case VT_UINT: *v = Variant::UInt(r.uintVal); break;
    case VT_UI8: *v = Variant::UI8(r.ullVal); break;
    case VT_R4: *v = Variant::R4(r.fltVal); break;
    case VT_R8: *v = Variant::R8(r.dblVal); break;
    case VT_DATE: *v = Variant::Date(r.date); break;
    case VT_BOOL: *v = Variant::Bool(r.boolVal != 0); break;
    case VT_ERROR: *v = Variant::Error(r.scode); break;
    case VT_BSTR: *v = Variant::Str(BstrToUtf8(r.bstrVal)); break;
    default: return DISP_E_BADVARTYPE;
  }
  return S_OK;
}

void RawVariantClear(RawVariant* raw) {
  if (!raw) return;
  if (raw->vt == VT_BSTR) SysFreeString(raw->bstrVal);
  RawVariantInit(raw);
}

}  // namespace platform::com
