// The network of the driver-loop tests, and what they ask of the register image while a driver
// loop fills it: station 1 direct with inputs and outputs, station 2 behind a relay, station 3
// direct with analog inputs only. Every access takes RegisterLock as the OPC side does.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "server/driver/fml.h"

namespace driver::testing {

inline const std::string kThreeStations =
    "TYP=Pumpe,RM3,1,5,0,0\r\nTYP=Turm,RM3,1,9,7,0\r\nTYP=Brunnen,RM3,1,12,0,0\r\n";

inline std::string Channels(const char* kind, const char* prefix, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += std::string("KANAL=") + kind + "," + prefix + std::to_string(i) + ",,1,0,0\r\n";
  return out;
}

// Station 1: 2 AE, 20 BE, 1 AA, 10 BA; station 2: 1 AE, 8 BE; station 3: its analog inputs.
inline std::string ThreeStationChannels(int analogInputsOf3 = 3) {
  return "[ADR005]\r\n" + Channels("AE", "P", 2) + Channels("BE", "E", 20) + Channels("AA", "S", 1) +
         Channels("BA", "A", 10) + "\r\n[ADR009]\r\n" + Channels("AE", "T", 1) + Channels("BE", "B", 8) +
         "\r\n[ADR012]\r\n" + Channels("AE", "W", analogInputsOf3) + "\r\n";
}

inline int32_t RegisterValue(int32_t station, int32_t group, int32_t index) {
  std::shared_lock lock(RegisterLock);
  return FML->Items(station).GetWert(group, index).WertInt;
}

inline int32_t RegisterQuality(int32_t station, int32_t group, int32_t index) {
  std::shared_lock lock(RegisterLock);
  return FML->Items(station).GetWert(group, index).Quality;
}

// Every input and output register of the stations (all outstations when none are named)
// answered with quality good.
inline bool AllGood(std::vector<int32_t> stations = {}) {
  std::shared_lock lock(RegisterLock);
  if (stations.empty())
    for (int32_t s = 1; s < FML->Count(); ++s) stations.push_back(s);
  for (int32_t s : stations)
    for (int32_t g = kGroupAE; g <= kGroupBA; ++g)
      for (const TWert& w : FML->Items(s).Groups[size_t(g)])
        if (w.Quality != kQualityGood) return false;
  return true;
}

// A client write as the OPC adapter stores it, with the write wish of its request class.
inline void ClientWrite(int32_t station, int32_t group, int32_t index, double value) {
  std::unique_lock lock(RegisterLock);
  TFuMo& st = FML->Items(station);
  TWert& w = st.GetWert(group, index);
  w.WriteWert = value;
  w.Quality = kQualityLastKnown;
  w.bWritePending = true;
  st.bWantWr[group == kGroupAE || group == kGroupBE ? 1 : group == kGroupRM ? 3 : 2] = true;
}

// The write was sent and the answer confirmed it.
inline bool Confirmed(int32_t station, int32_t group, int32_t index, int32_t value) {
  std::shared_lock lock(RegisterLock);
  const TWert& w = FML->Items(station).GetWert(group, index);
  return !w.bWritePending && w.Quality == kQualityGood && w.WertInt == value;
}

// Good answers of all outstations.
inline int32_t Answered() {
  int32_t n = 0;
  for (int32_t s = 1; s < FML->Count(); ++s) n += RegisterValue(s, kGroupSystem, 0);
  return n;
}

}  // namespace driver::testing
