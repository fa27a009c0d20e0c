// What the debug window reads of a started server. The window lives in a library of its own
// (it needs Qt, the server library does not), so it reaches the driver only through this
// interface, which the server library implements and hands over when it opens the window. The
// window calls it from its own thread; every answer is a copy of one moment.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "server/driver/custom_funk.h"

namespace opc {

// The window library, looked for in the folder of the server library, and its two entry points,
// which match the host's debug-window hook (TQarDebugWindowOpen takes a TDebugSource*).
inline constexpr const char* kDebugWindowLibrary = "libOstrelDebug.so";
inline constexpr const char* kDebugWindowOpen = "OstrelDebugOpen";
inline constexpr const char* kDebugWindowClose = "OstrelDebugClose";

// One station as the window shows it.
struct TDebugStation {
  std::string StationName;  // Windows-1252
  int32_t Adr1 = 0, Adr2 = 0, Adr3 = 0;
  // Request marks by request class 1..3 (index 0 unused).
  std::array<bool, 4> bDoneRd{};
  std::array<int32_t, 4> iWantRd{};
  std::array<bool, 4> bWantWr{};
  driver::TStationTimeouts Timeouts;  // by time-out type 0..5
};

struct TDebugSnapshot {
  std::optional<driver::TFunkView> Funk;  // only while the window has a protocol object
  int32_t StationCount = 0;               // entries of the station list, 0 without one
  std::optional<TDebugStation> Station;   // the station asked for, when the list has it
};

class TDebugSource {
 public:
  // Any thread. The protocol object's fields and the station's (station index, from 0).
  virtual TDebugSnapshot Snapshot(int32_t station) const = 0;

 protected:
  ~TDebugSource() = default;
};

}  // namespace opc
