// One radio modem of the network, the central one or an outstation: its addresses, its six
// register groups, the request marks of the OPC side and the driver's time-out bookkeeping.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/filetime.h"
#include "server/driver/wert.h"

namespace driver {

inline constexpr int32_t kGroupCount = 6;
inline constexpr int32_t kGroupSystem = 0;
inline constexpr int32_t kGroupAE = 1;  // analogue inputs ("AE", "RE")
inline constexpr int32_t kGroupBE = 2;  // binary inputs
inline constexpr int32_t kGroupAA = 3;  // analogue outputs ("AA", "RA")
inline constexpr int32_t kGroupBA = 4;  // binary outputs
inline constexpr int32_t kGroupRM = 5;  // radio-modem parameters
inline constexpr int32_t kTimeoutTypes = 6;
inline constexpr int32_t kRequestClasses = 3;  // 1 inputs, 2 outputs, 3 parameters

struct TStationState;

// Time of the answer being stored; every store of an answer value stamps its record with it.
// Written and read by the driver thread only.
extern platform::FILETIME AnswerTime;
// Start-up of the station unit: AnswerTime := 0.
void StartStationUnit();

// Number of 16-bit words that carry n bits.
inline int32_t BitWordCount(int32_t n) { return (n + 15) / 16; }

class TFuMo {
 public:
  TFuMo();
  TFuMo(const TFuMo&) = delete;
  TFuMo& operator=(const TFuMo&) = delete;

  // Records of the group; a negative group has none, one above 5 throws std::out_of_range.
  int32_t RegCount(int32_t group) const;
  // Appends a record; a group outside 0..5 throws std::out_of_range.
  void AddWert(int32_t group, const TWert& w);
  // The record, or SpareWert when the group or index does not exist (never an error).
  TWert& GetWert(int32_t group, int32_t index);
  const std::string& GetAdrPath() const { return AdrPath; }

  // Store rules of answer values; the caller holds RegisterLock for writing. A rounded value
  // outside 32 bits throws std::range_error. A pending write keeps its quality.
  void SetWertInt(int32_t group, int32_t index, int32_t raw, int32_t quality);
  void SetWertReal(int32_t group, int32_t index, double x, int32_t quality);
  // A write value from its raw form (the bits of an output word), marked pending.
  void SetWriteRaw(int32_t group, int32_t index, int32_t raw, int32_t quality);

  // Learns the answer time-out of one time-out index from an answer that took ms.
  void AdaptTimeout(int32_t t, int32_t ms);
  // Fills the record from the station (save) or restores the station from it (load).
  void TransferState(TStationState& rec, bool save);

  // Radio hops to the station: 1 direct, 2 behind one relay, 3 behind two.
  int32_t Hops() const;

  TWert SpareWert;
  std::array<std::vector<TWert>, kGroupCount> Groups;
  int32_t StationIndex = 0;
  // Request marks, index 1..3 by request class. Set by request threads under RegisterLock,
  // read by the scheduler without it.
  std::array<std::atomic<bool>, kRequestClasses + 1> bWantWr{};
  std::array<std::atomic<int32_t>, kRequestClasses + 1> iWantRd{};
  std::array<std::atomic<bool>, kRequestClasses + 1> bDoneRd{};
  int32_t LastGetClass = 0;
  int32_t LastPutClass = 0;
  // Per time-out index: > 0 learned, < 0 estimate (magnitude), 0 unknown. Driver thread only.
  std::array<int32_t, kTimeoutTypes> Timeout{};
  std::array<int32_t, kTimeoutTypes> RegCnt{};
  int32_t PollCount = 0;
  // Per request class: how far the Get and the Put range of a class that one frame cannot hold
  // have come in this round (registers from the class's first; 0 from the start). Driver thread.
  std::array<int32_t, kRequestClasses + 1> GetDone{};
  std::array<int32_t, kRequestClasses + 1> PutDone{};
  int32_t Sperre = 0;
  bool bRE = false;
  bool bOnlineCheck = false;
  int32_t ExtraWait = 0;
  std::array<int32_t, 6> Info{};  // bit value 8 of Info[0]: long parameter table
  bool bStateDirty = false;
  int32_t Sort = 0;
  std::string StationName;
  std::string TypeName;
  int32_t Adr1 = -1;
  int32_t Adr2 = -1;
  int32_t Adr3 = -1;
  std::string AdrPath = std::string(4, '\0');  // relays in radio order, then Adr1
};

}  // namespace driver
