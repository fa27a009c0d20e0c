// The station list of the server: entry 0 is the central radio modem, entries 1..n the
// outstations in the order of their configuration lines. An entry's index is its station
// number in the OPC item handles, which carry it in 8 bits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rw_lock.h"
#include "server/driver/fumo.h"

namespace driver {

// Item handles hold the station index in 8 bits and the register index in 15: stations 1..255
// below the central modem, registers 0..32767 in a group.
inline constexpr int32_t kMaxOutstations = 255;
inline constexpr int32_t kMaxGroupRegisters = 32768;

class TFML {
 public:
  TFML() = default;
  ~TFML();  // frees every station from index 0 upwards
  TFML(const TFML&) = delete;
  TFML& operator=(const TFML&) = delete;

  int32_t Count() const { return int32_t(items_.size()); }
  // Appends the station and returns its index.
  int32_t Add(std::unique_ptr<TFuMo> station);
  // The station; an index outside the list throws std::out_of_range.
  TFuMo& Items(int32_t index);
  // The station, or nullptr for an index outside the list (indexes that come from outside).
  TFuMo* Find(int32_t index);
  // The record, or a spare one that belongs to no register when the station, group or index
  // does not exist.
  TWert& GetWert(int32_t station, int32_t group, int32_t index);

 private:
  std::vector<std::unique_ptr<TFuMo>> items_;
  TWert spare_;
};

// The station list; empty until CreateFML builds it, freed by the stop export.
extern std::unique_ptr<TFML>& FML;
// Guards every register record of every station and the setting of the request marks. A
// waiting writer (the driver storing an answer) goes before readers that come after it.
extern platform::RwLock& RegisterLock;

// Unit start-up (FML empty) and shutdown (FML freed if the stop export left it).
void StartStationListUnit();
void StopStationListUnit();

// "(ADR" + Adr1 + ")" for trace lines; "" for an index outside the list.
std::string AdrText(int32_t stationIndex);

// Estimate of a station's answer time-out in ms for one time-out index, stored negative in
// Timeout[t]. Driver thread only.
int32_t Timeoutbestimmung(int32_t stationIndex, int32_t t);

}  // namespace driver
