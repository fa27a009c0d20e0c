// The configurator's model of a project: the central radio modem and the stations with their
// extension modules and channels. (The server has types of the same names for its own model.)
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "configurator/device_types.h"
#include "serial/com_texts.h"

namespace configurator {

class TMessages;

// One channel of a station.
struct TWert {
  std::string Kind;  // "BE", "BA", "AE" or "AA"
  std::string Name;  // unique within the station
  std::string Einheit;
  double Faktor = 0;  // 0: the server does not scale
  double Offset = 0;
  int32_t NKs = 0;  // decimals 0..10
  bool operator==(const TWert&) const = default;
};

// A new channel: name, the first two characters of kind, everything else empty or 0.
void InitChannel(TWert& record, const std::string& name, const std::string& kind);

class TCustomFM {
 public:
  TCustomFM() = default;
  virtual ~TCustomFM() = default;

  // Takes name unless it holds a character that would break the project file or the server's
  // item names; then ErrorCode := 2 (the message to show) and Name stays.
  void SetName(const std::string& name);
  // The dialogs refuse a name with ";" as well (message 2): every reader of the project file
  // cuts its lines there, so such a station would not read back.
  static bool CutByReaders(const std::string& name) { return name.find(';') != std::string::npos; }
  // No name for the dialogs: empty, or blanks only, which the readers trim to empty.
  static bool Blank(const std::string& name) { return name.find_first_not_of(' ') == std::string::npos; }

  std::string Name;
  int32_t Address = -1;  // station 1..255; 0 for the central modem
  int32_t ErrorCode = 0;
  configurator::DeviceType DeviceType;
  int32_t ExtraWait = 0;  // ms, 0..9999
};

// The central radio modem at the root of the tree.
class TZFM : public TCustomFM {
 public:
  TZFM() { Address = 0; }
  // Stations may have child stations (operating modes 1 and 2).
  bool IsNestingMode() const { return DeviceType.Flags == 1 || DeviceType.Flags == 2; }

  std::string Port = "COM1";
  serial::TBaudRate BaudRate = serial::br9600;
  serial::TParityBits Parity = serial::prNone;
  serial::TDataBits DataBits = serial::dbEight;
  serial::TStopBits StopBits = serial::sbOneStopBit;
};

inline constexpr int32_t kModuleSlots = 8;

// Lookups a station needs when it is read from a project file.
struct TStationContext {
  TGeraeteAdr& Addresses;
  const TDeviceTables& Tables;
  TMessages& Messages;
};

class TFuMo : public TCustomFM {
 public:
  // A new station: the first free address (not yet marked used), no parents yet.
  explicit TFuMo(const TGeraeteAdr& addresses);
  // A station from the text after "TYP=" of a station line and its value in [KONFIGURATOR]:
  // name, type, address (marked used), parents and modules (further than 8 are ignored).
  TFuMo(const std::string& line, const std::string& configValue, TStationContext context);

  // Whether a channel other than the one at the 1-based position (0: none) has this name.
  bool ChannelNameUsed(const std::string& name, int32_t position) const;
  int32_t CountBE() const { return CountKind("BE"); }
  int32_t CountAE() const { return CountKind("AE"); }
  int32_t CountBA() const { return CountKind("BA"); }
  int32_t CountAA() const { return CountKind("AA"); }

  int32_t Parent1 = -1;  // addresses of the stations above, as written in the project file
  int32_t Parent2 = -1;
  std::vector<TWert> Channels;
  bool Relay = false;  // only relays, is not polled
  int32_t ModuleCount = 0;
  std::array<configurator::DeviceType, kModuleSlots> Modules{};
  int32_t OnlineCheck = 0;

 private:
  int32_t CountKind(const char* kind) const;
};

}  // namespace configurator
