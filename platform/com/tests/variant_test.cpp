#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/com/bstr.h"

namespace platform::com {
namespace {

struct Conversion {
  const char* label;
  Variant src;
  VARTYPE to;
  HRESULT hr;
  Variant expected;  // checked only on success
};

TEST(VariantChangeTypeTest, FollowsTheAutomationRules) {
  const Conversion rows[] = {
      {"I4 to R8", Variant::I4(-7), VT_R8, S_OK, Variant::R8(-7)},
      {"R8 to I4 rounds half to even (2.5)", Variant::R8(2.5), VT_I4, S_OK, Variant::I4(2)},
      {"R8 to I4 rounds half to even (3.5)", Variant::R8(3.5), VT_I4, S_OK, Variant::I4(4)},
      {"R8 to I4 rounds -2.5 to -2", Variant::R8(-2.5), VT_I4, S_OK, Variant::I4(-2)},
      {"R8 to I2 past the range", Variant::R8(40000), VT_I2, DISP_E_OVERFLOW, {}},
      {"I4 to UI1 negative", Variant::I4(-1), VT_UI1, DISP_E_OVERFLOW, {}},
      {"I4 to I1 at the edge", Variant::I4(-128), VT_I1, S_OK, Variant::I1(-128)},
      {"I4 to I1 one past the edge", Variant::I4(128), VT_I1, DISP_E_OVERFLOW, {}},
      {"UI8 max to I8", Variant::UI8(UINT64_MAX), VT_I8, DISP_E_OVERFLOW, {}},
      {"UI8 max to UI8 via text", Variant::Str("18446744073709551615"), VT_UI8, S_OK, Variant::UI8(UINT64_MAX)},
      {"R8 NaN to I4", Variant::R8(std::nan("")), VT_I4, DISP_E_OVERFLOW, {}},
      {"R8 huge to R4", Variant::R8(1e300), VT_R4, DISP_E_OVERFLOW, {}},
      {"R8 to R4", Variant::R8(0.5), VT_R4, S_OK, Variant::R4(0.5f)},
      {"BOOL true to I2", Variant::Bool(true), VT_I2, S_OK, Variant::I2(-1)},
      {"BOOL true to UI2 sets every bit", Variant::Bool(true), VT_UI2, S_OK, Variant::UI2(0xFFFF)},
      {"I4 5 to BOOL", Variant::I4(5), VT_BOOL, S_OK, Variant::Bool(true)},
      {"R8 0 to BOOL", Variant::R8(0), VT_BOOL, S_OK, Variant::Bool(false)},
      {"text with blanks to I4", Variant::Str(" 42 "), VT_I4, S_OK, Variant::I4(42)},
      {"text with a plus to I4", Variant::Str("+42"), VT_I4, S_OK, Variant::I4(42)},
      {"text fraction to I4 rounds", Variant::Str("12.5"), VT_I4, S_OK, Variant::I4(12)},
      {"text with decimal point to R8", Variant::Str("3.25"), VT_R8, S_OK, Variant::R8(3.25)},
      {"text with decimal comma", Variant::Str("3,25"), VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"text exponent to R8", Variant::Str("1.5E3"), VT_R8, S_OK, Variant::R8(1500)},
      {"word to I4", Variant::Str("abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"empty text to I4", Variant::Str(""), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"text inf to R8", Variant::Str("inf"), VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"text too big for I2", Variant::Str("70000"), VT_I2, DISP_E_OVERFLOW, {}},
      {"text past double range", Variant::Str("1e999"), VT_R8, DISP_E_OVERFLOW, {}},
      {"text TRUE to BOOL", Variant::Str("TRUE"), VT_BOOL, S_OK, Variant::Bool(true)},
      {"text false to BOOL", Variant::Str("false"), VT_BOOL, S_OK, Variant::Bool(false)},
      {"text 0 to BOOL", Variant::Str("0"), VT_BOOL, S_OK, Variant::Bool(false)},
      {"R8 to text", Variant::R8(0.1), VT_BSTR, S_OK, Variant::Str("0.1")},
      {"R8 large to text", Variant::R8(1e20), VT_BSTR, S_OK, Variant::Str("1E+20")},
      {"R4 to text keeps the float's digits", Variant::R4(0.1f), VT_BSTR, S_OK, Variant::Str("0.1")},
      {"R8 scaled value to text in 15 digits", Variant::R8(237 * 0.1), VT_BSTR, S_OK, Variant::Str("23.7")},
      {"R8 sum to text in 15 digits", Variant::R8(0.1 + 0.2), VT_BSTR, S_OK, Variant::Str("0.3")},
      {"R8 of 15 digits to text", Variant::R8(123456789012345.0), VT_BSTR, S_OK, Variant::Str("123456789012345")},
      {"R8 past 15 digits to text", Variant::R8(9007199254740993.0), VT_BSTR, S_OK,
       Variant::Str("9.00719925474099E+15")},
      {"R8 small to text", Variant::R8(1e-5), VT_BSTR, S_OK, Variant::Str("1E-05")},
      {"R8 ten thousandth to text", Variant::R8(0.0001), VT_BSTR, S_OK, Variant::Str("0.0001")},
      {"R8 negative to text", Variant::R8(-2.0 / 3.0), VT_BSTR, S_OK, Variant::Str("-0.666666666666667")},
      {"R4 to text in 7 digits", Variant::R4(23.7f), VT_BSTR, S_OK, Variant::Str("23.7")},
      {"R4 third to text", Variant::R4(1.0f / 3.0f), VT_BSTR, S_OK, Variant::Str("0.3333333")},
      {"R4 past 7 digits to text", Variant::R4(16777216.0f), VT_BSTR, S_OK, Variant::Str("1.677722E+07")},
      {"I2 to text", Variant::I2(-300), VT_BSTR, S_OK, Variant::Str("-300")},
      {"BOOL to text", Variant::Bool(true), VT_BSTR, S_OK, Variant::Str("True")},
      {"CY to text", Variant::Cy(-12345), VT_BSTR, S_OK, Variant::Str("-1.2345")},
      {"CY to R8", Variant::Cy(25000), VT_R8, S_OK, Variant::R8(2.5)},
      {"R8 to CY", Variant::R8(1.23456), VT_CY, S_OK, Variant::Cy(12346)},
      {"EMPTY to I4", Variant(), VT_I4, S_OK, Variant::I4(0)},
      {"EMPTY to text", Variant(), VT_BSTR, S_OK, Variant::Str("")},
      {"NULL to I4", Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"ERROR to I4", Variant::Error(E_FAIL), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"DATE to text", Variant::Date(1.5), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
      {"to an unknown type", Variant::I4(1), 99, DISP_E_BADVARTYPE, {}},
      {"array to array",
       Variant::Array(VT_I4, {Variant::I4(1), Variant::I4(2)}), VT_ARRAY | VT_R8, S_OK,
       Variant::Array(VT_R8, {Variant::R8(1), Variant::R8(2)})},
      {"array with an element out of range",
       Variant::Array(VT_I4, {Variant::I4(1), Variant::I4(300)}), VT_ARRAY | VT_UI1, DISP_E_OVERFLOW, {}},
      {"array to scalar", Variant::Array(VT_I4, {Variant::I4(1)}), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"scalar to array", Variant::I4(1), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"mixed array to I2 array",
       Variant::Array(VT_VARIANT, {Variant::Str("7"), Variant::R8(8)}), VT_ARRAY | VT_I2, S_OK,
       Variant::Array(VT_I2, {Variant::I2(7), Variant::I2(8)})},
      {"array to text array",
       Variant::Array(VT_BOOL, {Variant::Bool(false)}), VT_ARRAY | VT_BSTR, S_OK,
       Variant::Array(VT_BSTR, {Variant::Str("False")})},
  };
  for (const Conversion& row : rows) {
    SCOPED_TRACE(row.label);
    Variant out = Variant::Str("untouched");
    HRESULT hr = VariantChangeType(&out, row.src, 0, row.to);
    EXPECT_EQ(hr, row.hr) << HResultHex(hr);
    if (SUCCEEDED(row.hr)) {
      EXPECT_EQ(out.vt(), row.expected.vt());
      EXPECT_TRUE(out == row.expected) << out.Str() << " " << out.Int() << " " << out.Real();
    } else {
      EXPECT_EQ(out.Str(), "untouched");  // a failed conversion leaves the target alone
    }
  }
}

TEST(VariantChangeTypeTest, ConvertsInPlace) {
  Variant v = Variant::Str("17");
  ASSERT_EQ(VariantChangeType(&v, v, 0, VT_I4), S_OK);
  EXPECT_EQ(v, Variant::I4(17));
}

TEST(VariantTest, ValidRejectsValuesThatDoNotFitTheirTag) {
  EXPECT_TRUE(Variant::Array(VT_I4, {Variant::I4(1)}).Valid());
  EXPECT_FALSE(Variant::Array(VT_I4, {Variant::R8(1)}).Valid());
  EXPECT_FALSE(Variant::Array(VT_VARIANT, {Variant::Array(VT_I4, {})}).Valid());
  EXPECT_EQ(VariantChangeType(nullptr, Variant(), 0, VT_I4), E_POINTER);
}

TEST(RawVariantTest, RoundTripsEveryScalarType) {
  const Variant values[] = {
      Variant(), Variant::Null(), Variant::I1(-5), Variant::I2(-300), Variant::I4(-70000),
      Variant::I8(INT64_MIN), Variant::Int(9), Variant::UI1(200), Variant::UI2(60000),
      Variant::UI4(4000000000u), Variant::UI8(UINT64_MAX), Variant::UInt(3), Variant::R4(1.5f),
      Variant::R8(-2.25), Variant::Date(45000.5), Variant::Cy(123456789), Variant::Bool(true),
      Variant::Bool(false), Variant::Error(OPC_E_BADRIGHTS), Variant::Str("Einheit \xC2\xB0" "C \xF0\x9F\x99\x82"),
  };
  for (const Variant& v : values) {
    SCOPED_TRACE(v.vt());
    RawVariant raw;
    ASSERT_EQ(VariantToRaw(v, &raw), S_OK);
    EXPECT_EQ(raw.vt, v.vt());
    Variant back;
    ASSERT_EQ(VariantFromRaw(raw, &back), S_OK);
    EXPECT_EQ(back, v);
    RawVariantClear(&raw);
    EXPECT_EQ(raw.vt, VT_EMPTY);
  }
}

TEST(RawVariantTest, KeepsThePlatformLayout) {
  RawVariant raw;
  ASSERT_EQ(VariantToRaw(Variant::R8(1.0), &raw), S_OK);
  unsigned char bytes[16];
  StoreRawVariant(bytes, raw);
  EXPECT_EQ(bytes[0], VT_R8);
  EXPECT_EQ(bytes[1], 0);
  double d;
  std::memcpy(&d, bytes + 8, 8);
  EXPECT_EQ(d, 1.0);

  ASSERT_EQ(VariantToRaw(Variant::Str("ab"), &raw), S_OK);
  EXPECT_EQ(SysStringByteLen(raw.bstrVal), 4u);
  EXPECT_EQ(raw.bstrVal[0], u'a');
  EXPECT_EQ(raw.bstrVal[2], 0);
  RawVariantClear(&raw);
}

TEST(RawVariantTest, RefusesWhatHasNoRawForm) {
  RawVariant raw;
  RawVariantInit(&raw);
  EXPECT_EQ(VariantToRaw(Variant::Array(VT_I4, {}), &raw), DISP_E_BADVARTYPE);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  raw.vt = 0x4003;  // a by-reference tag this layer does not carry
  Variant v;
  EXPECT_EQ(VariantFromRaw(raw, &v), DISP_E_BADVARTYPE);
}

}  // namespace
}  // namespace platform::com
