#include "serial/com_texts.h"

#include <charconv>
#include <iterator>

namespace serial {

namespace {

constexpr const char* kBaudTexts[] = {"Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
                                      "14400",  "19200", "38400", "56000", "57600",  "115200", "128000", "256000"};
constexpr uint32_t kBaudValues[] = {0,     110,   300,   600,   1200,   2400,   4800,   9600,
                                    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr const char* kStopTexts[] = {"1", "1.5", "2"};
constexpr const char* kDataTexts[] = {"5", "6", "7", "8"};
constexpr const char* kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
constexpr const char* kFlowTexts[] = {"Hardware", "Software", "None", "Custom"};
constexpr const char* kDtrTexts[] = {"Disable", "Enable", "Handshake"};
constexpr const char* kRtsTexts[] = {"Disable", "Enable", "Handshake", "Toggle"};

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

template <size_t N>
std::string TextOf(const char* const (&table)[N], unsigned index) {
  return index < N ? table[index] : "";
}

// The first table entry whose text equals text ignoring case.
template <class E, size_t N>
std::optional<E> Find(const char* const (&table)[N], std::string_view text) {
  for (size_t i = 0; i < N; ++i)
    if (EqualNoCase(table[i], text)) return E(i);
  return std::nullopt;
}

}  // namespace

std::optional<TBaudRate> ParseBaudRate(std::string_view t) { return Find<TBaudRate>(kBaudTexts, t); }
std::optional<TStopBits> ParseStopBits(std::string_view t) { return Find<TStopBits>(kStopTexts, t); }
std::optional<TDataBits> ParseDataBits(std::string_view t) { return Find<TDataBits>(kDataTexts, t); }
std::optional<TParityBits> ParseParity(std::string_view t) { return Find<TParityBits>(kParityTexts, t); }

std::string BaudRateText(TBaudRate v) { return TextOf(kBaudTexts, v); }
std::string StopBitsText(TStopBits v) { return TextOf(kStopTexts, v); }
std::string DataBitsText(TDataBits v) { return TextOf(kDataTexts, v); }
std::string ParityText(TParityBits v) { return TextOf(kParityTexts, v); }
std::string FlowControlText(TFlowControl v) { return TextOf(kFlowTexts, v); }
std::string DtrControlText(TDTRFlowControl v) { return TextOf(kDtrTexts, v); }
std::string RtsControlText(TRTSFlowControl v) { return TextOf(kRtsTexts, v); }

TBaudRate TextToBaudRate(std::string_view t) { return ParseBaudRate(t).value_or(br9600); }
TStopBits TextToStopBits(std::string_view t) { return ParseStopBits(t).value_or(sbOneStopBit); }
TDataBits TextToDataBits(std::string_view t) { return ParseDataBits(t).value_or(dbEight); }
TParityBits TextToParity(std::string_view t) { return ParseParity(t).value_or(prNone); }
TFlowControl TextToFlowControl(std::string_view t) { return Find<TFlowControl>(kFlowTexts, t).value_or(fcCustom); }
TDTRFlowControl TextToDtrControl(std::string_view t) { return Find<TDTRFlowControl>(kDtrTexts, t).value_or(dtrDisable); }
TRTSFlowControl TextToRtsControl(std::string_view t) { return Find<TRTSFlowControl>(kRtsTexts, t).value_or(rtsDisable); }

std::string BoolToYesNo(bool value) { return value ? "Yes" : "No"; }
bool YesNoToBool(std::string_view text) { return EqualNoCase(text, "YES"); }

std::string CharCodeText(uint8_t code) {
  if (code >= 33 && code <= 127) return std::string(1, char(code));
  return "#" + std::to_string(code);
}

uint8_t TextToCharCode(std::string_view text) {
  if (text.empty()) return 0;
  if (text[0] != '#' || text.size() == 1) return uint8_t(text[0]);
  std::string_view digits = text.substr(1);
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  int32_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) return 0;
  return uint8_t(uint32_t(value) & 0xFF);
}

uint32_t BaudRateValue(TBaudRate v) { return unsigned(v) < std::size(kBaudValues) ? kBaudValues[v] : 0; }

}  // namespace serial
