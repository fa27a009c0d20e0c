// TEMPORARY SEAM (see serial_texts.h): removed when the serial library's texts are merged.
#include "configurator/serial_texts.h"

#include "platform/cp1252.h"

namespace serial {

namespace {
const char* const kBaud[] = {"Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
                             "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
const char* const kStop[] = {"1", "1.5", "2"};
const char* const kData[] = {"5", "6", "7", "8"};
const char* const kParity[] = {"None", "Odd", "Even", "Mark", "Space"};

template <size_t N>
int Find(const char* const (&table)[N], const std::string& text, int fallback) {
  std::string t = platform::UpperCase1252(text);
  for (size_t i = 0; i < N; ++i)
    if (platform::UpperCase1252(table[i]) == t) return int(i);
  return fallback;
}
}  // namespace

std::string BaudRateText(TBaudRate v) { return kBaud[v]; }
std::string StopBitsText(TStopBits v) { return kStop[v]; }
std::string DataBitsText(TDataBits v) { return kData[v]; }
std::string ParityText(TParityBits v) { return kParity[v]; }
TBaudRate TextToBaudRate(const std::string& t) { return TBaudRate(Find(kBaud, t, br9600)); }
TStopBits TextToStopBits(const std::string& t) { return TStopBits(Find(kStop, t, sbOneStopBit)); }
TDataBits TextToDataBits(const std::string& t) { return TDataBits(Find(kData, t, dbEight)); }
TParityBits TextToParity(const std::string& t) { return TParityBits(Find(kParity, t, prNone)); }

}  // namespace serial
