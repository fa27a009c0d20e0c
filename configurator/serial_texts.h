// TEMPORARY SEAM until the serial library's settings texts are merged: the setting
// enumerations and their text conversions that the configurator uses, with the serial
// library's names. Replace this file's body by an include of the serial library's header.
#pragma once

#include <cstdint>
#include <string>

namespace serial {

enum TBaudRate : uint8_t {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
  br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };

std::string BaudRateText(TBaudRate v);
std::string StopBitsText(TStopBits v);
std::string DataBitsText(TDataBits v);
std::string ParityText(TParityBits v);
TBaudRate TextToBaudRate(const std::string& text);
TStopBits TextToStopBits(const std::string& text);
TDataBits TextToDataBits(const std::string& text);
TParityBits TextToParity(const std::string& text);

}  // namespace serial
