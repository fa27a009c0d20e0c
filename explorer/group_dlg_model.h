// The group properties dialog's logic: the texts it shows for a group's state, and the
// checks and conversions of "&Ok".
#pragma once

#include <stdexcept>
#include <string>

#include "opcclient/kopl_types.h"

namespace explorer {

// A text that is no number where a number is needed.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TEditGroupTexts {
  std::string Name;
  std::string UpdateRate = "1000";
  std::string DeadBand = "0";
  bool Active = false;
};

// The fields for a state: rate in decimal, dead band "%.2f" with the decimal separator.
TEditGroupTexts GroupDialogTexts(const kopl::tGroupStateRec& state, char decimal_separator);

enum class TEditGroupResult { Ok, BlankName };

// "&Ok": a name of blanks is refused (nothing changes); else the name as typed, the rate as
// an integer, the dead band as a number with the decimal separator and the check box go into
// state; locale and time bias stay. EConvertError for a number that does not convert, and
// state is then unchanged.
TEditGroupResult AcceptGroupDialog(const TEditGroupTexts& texts, char decimal_separator, kopl::tGroupStateRec& state);

// A signed decimal 32-bit integer, blanks around it allowed.
int32_t StrToInt(const std::string& text);
// A number with the given decimal separator (and an optional exponent), blanks around allowed.
double StrToFloat(const std::string& text, char decimal_separator);

}  // namespace explorer
