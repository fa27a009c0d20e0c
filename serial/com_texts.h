// The text forms of the serial settings, as the server's configuration, its log, the
// configurator's combo boxes and the settings store write them. Pure functions: a text that is
// in no table gives the table's fallback, never an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "serial/com_types.h"

namespace serial {

std::string BaudRateText(TBaudRate v);        // "Custom", "110" .. "256000"
std::string StopBitsText(TStopBits v);        // "1", "1.5", "2"
std::string DataBitsText(TDataBits v);        // "5" .. "8"
std::string ParityText(TParityBits v);        // "None", "Odd", "Even", "Mark", "Space"
std::string FlowControlText(TFlowControl v);  // "Hardware", "Software", "None", "Custom"
std::string DtrControlText(TDTRFlowControl v);  // "Disable", "Enable", "Handshake"
std::string RtsControlText(TRTSFlowControl v);  // "Disable", "Enable", "Handshake", "Toggle"

// The value of a text compared ignoring ASCII case, without trimming blanks; nullopt for a text
// in no table.
std::optional<TBaudRate> ParseBaudRate(std::string_view text);
std::optional<TStopBits> ParseStopBits(std::string_view text);
std::optional<TDataBits> ParseDataBits(std::string_view text);
std::optional<TParityBits> ParseParity(std::string_view text);

// The same, with the table's fallback for a text in no table.
TBaudRate TextToBaudRate(std::string_view text);         // fallback br9600
TStopBits TextToStopBits(std::string_view text);         // fallback sbOneStopBit
TDataBits TextToDataBits(std::string_view text);         // fallback dbEight
TParityBits TextToParity(std::string_view text);         // fallback prNone
TFlowControl TextToFlowControl(std::string_view text);   // fallback fcCustom
TDTRFlowControl TextToDtrControl(std::string_view text); // fallback dtrDisable
TRTSFlowControl TextToRtsControl(std::string_view text); // fallback rtsDisable

std::string BoolToYesNo(bool value);       // "Yes", "No"
bool YesNoToBool(std::string_view text);   // True for "YES" in any case only

// Codes 33..127 as the character itself, others as "#" and the decimal code ("#17").
std::string CharCodeText(uint8_t code);
// "" → 0; "#" → '#'; "#n" → low 8 bits of n (0 when n is not an integer); else the first character.
uint8_t TextToCharCode(std::string_view text);

// The bits per second of a rate; 0 for brCustom.
uint32_t BaudRateValue(TBaudRate v);

}  // namespace serial
