// The station-state file Ostrel.STS: the last raw values of every outstation's inputs,
// outputs and input/output words, one 532-byte little-endian record per outstation
// (record k for station index k + 1), so a restart begins with known values.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace driver {

inline constexpr size_t kStateRecordSize = 532;
inline constexpr int32_t kStateBinaries = 80;
inline constexpr int32_t kStateAnalogues = 40;
inline constexpr int32_t kStateWords = 8;  // group-0 registers 5..12

struct TStationState {
  int32_t Adr = 0;  // Adr1 of the station
  int32_t nBE = 0, nAE = 0, nBA = 0, nAA = 0;
  std::array<uint8_t, kStateBinaries> BE{};
  std::array<int32_t, kStateAnalogues> AE{};
  std::array<uint8_t, kStateBinaries> BA{};
  std::array<int32_t, kStateAnalogues> AA{};
  std::array<int32_t, kStateWords> Words{};
};

using TStateBytes = std::array<uint8_t, kStateRecordSize>;
TStateBytes EncodeState(const TStationState& rec);
TStationState DecodeState(const TStateBytes& bytes);

// Load all records (save false, at the end of loading the configuration) or write the
// records of the stations marked bStateDirty (save true, driver thread). Only with the
// option PERMANENTDATEN; I/O errors are swallowed.
void StationStates(bool save);

// ServerDir + "Ostrel.STS".
std::string StationStateFile();

}  // namespace driver
