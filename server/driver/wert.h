// The register record of the network model: one value of one station with its scaling, its
// OPC quality and time stamp, and the write that waits to be sent.
#pragma once

#include <cstdint>
#include <string>

#include "platform/filetime.h"

namespace driver {

inline constexpr int32_t kQualityNotConnected = 8;
inline constexpr int32_t kQualityLastKnown = 0x14;  // a write waits for its confirmation
inline constexpr int32_t kQualityGood = 0xC0;

struct TWert {
  std::string Name;     // leading "&": writable item; "#" or empty: no item
  std::string Einheit;  // unit text
  double Faktor = 1.0;
  double Offset = 0.0;
  int32_t NKs = 0;      // decimals 0..5
  bool bFloat = false;  // the value is WertReal (else WertInt)
  bool bCalc = false;   // the value is Raw * Faktor + Offset
  double WertReal = 0.0;
  int32_t WertInt = 0;
  double WriteWert = 0.0;
  int32_t Quality = kQualityNotConnected;
  platform::FILETIME TimeStamp{};
  int32_t Raw = 0;
  bool bWritePending = false;
};

// Everything 0, texts empty, Faktor 1, quality "not connected", stamped with the current time.
void InitWert(TWert& w);

// Nearest integer, halves to the even neighbour. Throws std::range_error when the result
// does not fit 32 bits (NaN included), so nothing is stored.
int32_t RoundToInt32(double v);

}  // namespace driver
