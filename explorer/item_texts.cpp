#include "explorer/item_texts.h"

#include <cstdio>

#include "opcclient/kopl_routines.h"

namespace explorer {

namespace com = platform::com;

namespace {

bool HexType(uint32_t type) {
  switch (type & 0xFF) {
    case com::VT_I2:
    case com::VT_I4:
    case com::VT_UI1:
    case com::VT_UI2:
    case com::VT_UI4:
      return true;
    default:
      return false;
  }
}

}  // namespace

void FillItemRow(TItemRowTexts& row, const kopl::TKoplItem& item) {
  row = TItemRowTexts{};
  row.ItemId = item.ItemID();
  row.AccessPath = item.AccessPath();
  row.Active = item.IsActive() ? "X" : " ";
  row.Value = "-";
  row.HexVal = "";
  row.Time = "-";
  row.Quality = "-";
}

void UpdateItemRow(TItemRowTexts& row, const kopl::TKoplItem& item) {
  row.Value = item.GetValueStr();
  row.HexVal = HexValueText(item.Value(), uint32_t(item.CanonicalDatatype()));
  row.Time = TimeOfDayText(item.TimeStamp());
  row.Quality = QualityText(item.Quality());
}

std::string HexValueText(const kopl::Variant& value, uint32_t type) {
  // No value (none received, or one the server could not give) has no digits either.
  if (!HexType(type) || value.vt() == com::VT_EMPTY) return "";
  kopl::Variant number;
  // Through 64 bits, so that a UI4 above the signed range shows its own digits.
  if (com::FAILED(com::VariantChangeType(&number, value, 0, com::VT_I8))) return "";
  char buf[16];
  std::snprintf(buf, sizeof buf, "$ %X", unsigned(uint32_t(number.Int())));
  return buf;
}

std::string QualityText(int32_t quality) { return quality == 0xC0 ? "good" : "bad"; }

std::string TimeOfDayText(kopl::TDateTime t) {
  // The shared layout "dd.mm.yyyy hh:nn:ss", of which the time of day is the tail.
  std::string text = kopl::DateTimeToText(t);
  size_t blank = text.rfind(' ');
  return blank == std::string::npos ? text : text.substr(blank + 1);
}

std::string TypeSuffix(uint32_t type) {
  switch (type & 0xFF) {
    case 2: return " =I2";
    case 3: return " =I4";
    case 4: return " =R4";
    case 5: return " =R8";
    case 6: return " =CY";
    case 7: return " =DATE";
    case 8: return " =BSTR";
    case 11: return " =BOOL";
    case 12: return " =VAR";
    case 16: return " =I1";
    case 17: return " =UI1";
    case 18: return " =UI2";
    case 19: return " =UI4";
    case 20: return " =I8";
    case 21: return " =UI8";
    case 22: return " =INT";
    case 23: return " =UINT";
    case 26: return " =PTR";
    case 30: return " =LPSTR";
    case 31: return " =LPWSTR";
    default: return "";
  }
}

TPropertyRowTexts PropertyRow(const kopl::TKoplItemProperty& property) {
  TPropertyRowTexts row;
  row.ID = std::to_string(property.PropertyID);
  row.Note = property.Description;
  row.Type = std::to_string(property.DataType) + TypeSuffix(property.DataType);
  row.Value = kopl::VariantToString(property.Value);
  row.HexValue = HexValueText(property.Value, property.DataType);
  return row;
}

}  // namespace explorer
