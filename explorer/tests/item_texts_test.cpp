// The texts of the inspector's rows and of the property list.
#include <gtest/gtest.h>

#include "explorer/item_texts.h"

namespace explorer {
namespace {

using kopl::Variant;
namespace com = platform::com;

TEST(ItemTexts, HexValueOnlyForIntegerTypes) {
  struct Row {
    const char* name;
    Variant value;
    uint32_t type;
    const char* hex;
  } rows[] = {
      {"I4 255", Variant::I4(255), com::VT_I4, "$ FF"},
      {"I2 negative as 32 bits", Variant::I2(-1), com::VT_I2, "$ FFFFFFFF"},
      {"UI4 above the signed range", Variant::UI4(0xFFFFFFFEu), com::VT_UI4, "$ FFFFFFFE"},
      {"UI2", Variant::UI2(0xBEEF), com::VT_UI2, "$ BEEF"},
      {"UI1 zero", Variant::UI1(0), com::VT_UI1, "$ 0"},
      {"text holding a number, integer type", Variant::Str("12"), com::VT_I4, "$ C"},
      {"text that is no number", Variant::Str("abc"), com::VT_I4, ""},
      {"no value yet", Variant(), com::VT_I4, ""},
      {"R8", Variant::R8(255), com::VT_R8, ""},
      {"BSTR", Variant::Str("255"), com::VT_BSTR, ""},
      {"BOOL", Variant::Bool(true), com::VT_BOOL, ""},
      {"type with flags above the low byte", Variant::I4(16), 0x4000 | com::VT_I4, "$ 10"},
      {"array of I4", Variant::Array(com::VT_I4, {Variant::I4(1)}), com::VT_ARRAY | com::VT_I4, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(HexValueText(r.value, r.type), r.hex);
  }
}

TEST(ItemTexts, OnlyQuality192IsGood) {
  struct Row {
    int32_t quality;
    const char* text;
  } rows[] = {{0xC0, "good"}, {0xC1, "bad"}, {0xD8, "bad"}, {0x40, "bad"}, {0, "bad"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.quality);
    EXPECT_EQ(QualityText(r.quality), r.text);
  }
}

TEST(ItemTexts, TypeSuffixByLowByte) {
  struct Row {
    uint32_t type;
    const char* suffix;
  } rows[] = {{2, " =I2"},     {3, " =I4"},   {4, " =R4"},      {5, " =R8"},     {6, " =CY"},
              {7, " =DATE"},   {8, " =BSTR"}, {11, " =BOOL"},   {12, " =VAR"},   {16, " =I1"},
              {17, " =UI1"},   {18, " =UI2"}, {19, " =UI4"},    {20, " =I8"},    {21, " =UI8"},
              {22, " =INT"},   {23, " =UINT"}, {26, " =PTR"},   {30, " =LPSTR"}, {31, " =LPWSTR"},
              {0, ""},         {9, ""},       {13, ""},         {24, ""},        {0x2003, " =I4"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.type);
    EXPECT_EQ(TypeSuffix(r.type), r.suffix);
  }
}

TEST(ItemTexts, TimeOfDayOfAStamp) {
  EXPECT_EQ(TimeOfDayText(46000.5), "12:00:00");
  EXPECT_EQ(TimeOfDayText(46000 + (14 * 3600 + 3 * 60 + 7) / 86400.0), "14:03:07");
}

TEST(ItemTexts, PropertyRows) {
  struct Row {
    const char* name;
    kopl::TKoplItemProperty property;
    TPropertyRowTexts texts;
  } rows[] = {
      {"UI2 in hexadecimal like I2", {5001, "unit code", com::VT_UI2, Variant::UI2(300)}, {"5001", "unit code", "18 =UI2", "300", "$ 12C"}},
      {"I2", {5002, "low", com::VT_I2, Variant::I2(10)}, {"5002", "low", "2 =I2", "10", "$ A"}},
      {"text", {5003, "unit", com::VT_BSTR, Variant::Str("bar")}, {"5003", "unit", "8 =BSTR", "bar", ""}},
      {"array: suffix of its element type, no hexadecimal",
       {5004, "list", com::VT_ARRAY | com::VT_I4, Variant::Array(com::VT_I4, {Variant::I4(1), Variant::I4(2)})},
       {"5004", "list", "8195 =I4", "1;2;", ""}},
      {"value the server could not give", {5005, "gone", com::VT_I4, Variant()}, {"5005", "gone", "3 =I4", "", ""}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TPropertyRowTexts t = PropertyRow(r.property);
    EXPECT_EQ(t.ID, r.texts.ID);
    EXPECT_EQ(t.Note, r.texts.Note);
    EXPECT_EQ(t.Type, r.texts.Type);
    EXPECT_EQ(t.Value, r.texts.Value);
    EXPECT_EQ(t.HexValue, r.texts.HexValue);
  }
}

}  // namespace
}  // namespace explorer
