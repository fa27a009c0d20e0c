// The texts the explorer shows for items and item properties: the inspector's row columns,
// the hexadecimal column, the quality word and the property list of the explorer.
#pragma once

#include <cstdint>
#include <string>

#include "opcclient/kopl_item.h"
#include "opcclient/kopl_properties.h"

namespace explorer {

// The columns of one inspector row, in display order.
struct TItemRowTexts {
  std::string ItemId;
  std::string AccessPath;
  std::string Active;
  std::string Value;
  std::string HexVal;
  std::string Time;
  std::string Quality;
};

// A row as it stands before the item's first data change: "-" for value, time and quality.
void FillItemRow(TItemRowTexts& row, const kopl::TKoplItem& item);
// Value, hexadecimal value, time of day and quality from the item's last data change.
void UpdateItemRow(TItemRowTexts& row, const kopl::TKoplItem& item);

// "$ " and the value as a 32-bit integer in upper-case hexadecimal for the integer types
// I2, I4, UI1, UI2 and UI4 (by the low 8 bits of type); "" for every other type, for no
// value and for a value that is no integer (text that is no number, an array).
std::string HexValueText(const kopl::Variant& value, uint32_t type);
// "good" for 192 (0xC0) only, else "bad".
std::string QualityText(int32_t quality);
// "hh:nn:ss".
std::string TimeOfDayText(kopl::TDateTime t);
// " =I2", " =R8", ... by the low 8 bits of type; "" for a type without a name.
std::string TypeSuffix(uint32_t type);

// One row of the properties form.
struct TPropertyRowTexts {
  std::string ID;
  std::string Note;
  std::string Type;
  std::string Value;
  std::string HexValue;
};
TPropertyRowTexts PropertyRow(const kopl::TKoplItemProperty& property);

}  // namespace explorer
