// The central radio modem and the network behind it, as the server sees them over its serial
// line: the modem answers its own parameter query, forwards station requests by radio and
// sends back the stations' answers after the radio delay, takes the mode message "*W1" and
// then grants time slots with "*Z" messages. It can go silent (modem lost) and come back.
// Free of I/O like the line procedure under it: bytes and time in, bytes out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "tools/radiosim/line_3964r.h"
#include "tools/radiosim/network.h"
#include "tools/radiosim/station_model.h"
#include "tools/radiosim/telegram.h"

namespace radiosim {

struct ModemOptions {
  Duration radioDelay = std::chrono::milliseconds(150);  // per hop, from request to answer
  Duration upDelay{0};  // after power-up the radio layer reports 0 this long
  Duration slotLength = std::chrono::milliseconds(4000);
  Duration slotPause = std::chrono::milliseconds(1000);  // between two slots, and before the first
  int slotNumber = 1;
  ModelTiming model;
  Line3964R::Timing line;
};

struct ModemStats {
  int64_t telegrams = 0;        // good frames from the server
  int64_t requests = 0;         // station requests, the central modem's included
  int64_t crcRequests = 0;      // of them in the CRC variant
  int64_t centralQueries = 0;   // requests to the central modem itself
  int64_t answers = 0;          // data answers queued
  int64_t emptyAnswers = 0;
  int64_t modeMessages = 0;     // "*W1"
  int64_t slots = 0;            // slots granted
  int64_t writes = 0;           // registers written by Put data
  int64_t badTelegrams = 0;     // neither a request nor "*W1", or a request of the wrong length
  int64_t crcErrors = 0;        // requests whose CRC-16 did not match
  int64_t unknownStations = 0;  // requests to an address path no station has
  int64_t outOfRange = 0;       // registers asked for or written that the station lacks
  int64_t outsideSlot = 0;      // station requests in time-slot mode while the server held no slot
};

class Modem {
 public:
  static constexpr int kVersion = 107;
  static constexpr int kId = 42;

  Modem(const Network& net, ModemOptions options, platform::Clock& wallClock, Duration now);

  // Bytes from the server.
  void Receive(std::string_view bytes, Duration now);
  // Runs what is due: answers whose radio delay has passed, slot messages, line timers.
  void Advance(Duration now);
  std::string TakeOutput() { return line_.TakeOutput(); }
  Duration NextDeadline() const;

  // Modem lost: nothing is taken from the line or sent, answers in flight are lost.
  void GoSilent();
  // Powers up again: the radio layer is up after the up delay; time slots wait for "*W1".
  void ComeBack(Duration now);
  bool Silent() const { return silent_; }
  // The port went away: exchanges on the line and answers in flight are lost.
  void PortClosed();

  // The next n data answers of stations get a damaged header.
  void ArmGarble(int n) { garble_ += n; }

  // A station by its index in the station list (1..) or its name; nullptr when none matches.
  StationModel* FindStation(std::string_view key);
  StationModel& Central() { return *central_; }
  // The central modem's parameters as its answer would carry them now.
  std::vector<uint16_t> CentralRegisters(Duration now);
  Line3964R& Line() { return line_; }
  const ModemStats& Stats() const { return stats_; }
  bool TimeSlotMode() const { return slot_ != SlotState::Off; }
  bool SlotOpen() const { return slot_ == SlotState::Open; }
  // The server holds a slot: it has acknowledged a grant and not yet an end message.
  bool ServerInSlot() const { return serverSlot_; }

 private:
  enum class SlotState { Off, Pause, Open };
  struct InFlight {
    Duration due;
    Request request;
    StationModel* station;  // nullptr: the central modem
  };

  void OnTelegram(const std::string& tel, Duration now);
  void Answer(const InFlight& f, Duration now);
  std::vector<uint16_t> ReadCentral(RegRange get, Duration now);
  std::vector<uint16_t> ReadStation(StationModel& st, RegRange get, Duration now);
  void WriteRegisters(StationModel& st, const Request& r, Duration now);
  StationModel* StationAt(const std::array<uint8_t, 4>& path);

  ModemOptions options_;
  platform::Clock& wall_;
  Line3964R line_;
  std::unique_ptr<StationModel> central_;
  std::vector<std::unique_ptr<StationModel>> stations_;
  std::vector<InFlight> inFlight_;  // in order of their due times
  bool silent_ = false;
  Duration upAt_{0};
  SlotState slot_ = SlotState::Off;
  Duration slotDue_ = kNever;
  bool serverSlot_ = false;
  int garble_ = 0;
  ModemStats stats_;
};

}  // namespace radiosim
