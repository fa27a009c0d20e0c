#include "explorer/group_dlg_model.h"

#include <cerrno>
#include <charconv>
#include <cmath>

#include "explorer/inspec_model.h"

namespace explorer {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

TEditGroupTexts GroupDialogTexts(const kopl::tGroupStateRec& state, char decimal_separator) {
  TEditGroupTexts t;
  t.UpdateRate = std::to_string(state.UpdateRate);
  t.Name = state.Name;
  t.DeadBand = FormatDeadBand(state.DeadBand, decimal_separator);
  t.Active = state.Active;
  return t;
}

int32_t StrToInt(const std::string& text) {
  std::string t = Trim(text);
  const char* begin = t.data();
  const char* end = t.data() + t.size();
  if (begin != end && *begin == '+') ++begin;
  int32_t value = 0;
  auto r = std::from_chars(begin, end, value);
  if (t.empty() || r.ec != std::errc() || r.ptr != end) {
    throw EConvertError("'" + text + "' is not a valid integer value");
  }
  return value;
}

double StrToFloat(const std::string& text, char decimal_separator) {
  std::string t = Trim(text);
  // Only the program's separator counts; the other one makes the text no number.
  bool bad = t.empty() || (decimal_separator != '.' && t.find('.') != std::string::npos);
  for (char& c : t) {
    if (c == decimal_separator) c = '.';
  }
  const char* begin = t.data();
  const char* end = t.data() + t.size();
  if (begin != end && *begin == '+') ++begin;
  double value = 0;
  auto r = std::from_chars(begin, end, value, std::chars_format::general);
  if (bad || r.ec != std::errc() || r.ptr != end || !std::isfinite(value)) {
    throw EConvertError("'" + text + "' is not a valid floating point value");
  }
  return value;
}

TEditGroupResult AcceptGroupDialog(const TEditGroupTexts& texts, char decimal_separator, kopl::tGroupStateRec& state) {
  if (Trim(texts.Name).empty()) return TEditGroupResult::BlankName;
  const int32_t rate = StrToInt(texts.UpdateRate);
  const double dead_band = StrToFloat(texts.DeadBand, decimal_separator);
  state.UpdateRate = rate;
  state.Name = texts.Name;
  state.DeadBand = float(dead_band);
  state.Active = texts.Active;
  return TEditGroupResult::Ok;
}

}  // namespace explorer
