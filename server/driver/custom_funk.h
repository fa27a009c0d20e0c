// The protocol object of the driver thread: the serial line to the central radio modem with
// the 3964R procedure (custom_funk.cpp), the request telegrams (telegram.cpp), the answer
// processing into the register image (answer.cpp) and the register operations they share
// (register_access.cpp). Every method runs on the one driver thread that owns the object.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "serial/stop_event.h"
#include "server/driver/anfrage.h"

namespace serial {
class TComPort;
}

namespace driver {

// What a debug view shows of the protocol object, all fields of one moment.
struct TFunkView {
  int32_t ZS = 0;
  int32_t AktFM = 0;
  bool Is3964r = false;
  int32_t DOfs = 0;
  int32_t AF = 0, US = 0;
  int32_t PutKl = 0, PutStart = 0, PutAnz = 0;
  int32_t GetKl = 0, GetStart = 0, GetAnz = 0;
  int32_t TOindex = 0, TO = 0;
};

// A station's answer time-outs and register counts per time-out index, of one moment.
struct TStationTimeouts {
  std::array<int32_t, 6> Timeout{};
  std::array<int32_t, 6> RegCnt{};
};

class TCustomFunk {
 public:
  using PortFactory = std::function<std::unique_ptr<serial::TComPort>()>;

  // The server's object: a port on the serial device unless the DEMO marker is there.
  TCustomFunk();
  // The port the factory makes (ECustomFunk -30 when it makes none); an empty factory makes
  // no port, as in no-hardware mode. Every wait and time stamp goes through clock.
  TCustomFunk(const PortFactory& factory, platform::Clock& clock);
  ~TCustomFunk();
  TCustomFunk(const TCustomFunk&) = delete;
  TCustomFunk& operator=(const TCustomFunk&) = delete;

  // --- Serial line ---

  // Port settings from the RS232 key of Ostrel.INI, open, DTR and RTS up. 0, or the error
  // code (-31, -32, -33) that the caller turns into its start-up error; -31 also for a setting
  // text that names no setting (an empty field keeps the default).
  int32_t Init(bool is3964r);
  // One write of all bytes.
  void SendStr(std::string_view data);
  // Up to count bytes within timeoutMs into data; false when the line reported an error
  // (true also when nothing came: callers look at the length).
  bool RecStr(std::string& data, int32_t maxLen, int32_t timeoutMs, int32_t count);
  // The body of a frame after our DLE, byte by byte with the TIMEOUT gap; throws
  // std::length_error for a body longer than maxLen (at most 255) bytes.
  void RecStr3964(std::string& data, int32_t maxLen);
  // Reads and clears the line-error flags; true (and a trace line) when any was set.
  bool CheckRSError();
  // Sends Anfrage.Tel as one frame; the result codes of the procedure (0 acknowledged).
  int32_t SendeTelegramm();
  // Receives one frame into Anfrage.Antwort; the result codes of the procedure (0 good).
  int32_t LeseTelegramm(int32_t timeoutMs);
  static std::string StrToHex(std::string_view s);

  // --- Telegrams and answers ---

  // Builds Anfrage.Tel from Anfrage (a central-modem query becomes a station request first).
  void ErzeugeTel();
  // Appends the raw values of the Put registers to a.Tel.
  void BuildPutData(TAnfrage& a);
  // Works an answer into the register image; false when an answer was there but invalid.
  bool VerarbeiteAntwortTelegramm(TAnfrage& a, bool antwortErwartet);
  // Stores the Get registers of a checked answer (with the plausibility block Sperre).
  void ExtractRegisterB(TAnfrage& a);
  // Bookkeeping of a completed request: wishes, write confirmation, counters, clock time.
  void AnfrageErledigt(TAnfrage& a);

  // Raw (unscaled, 16-bit) form of a register's value; of its pending write value when one
  // waits. The caller holds RegisterLock (either side) where other threads may write.
  static int32_t GetRawValue(int32_t us, int32_t group, int32_t index);
  static int32_t GetRawWriteValue(int32_t us, int32_t group, int32_t index);
  // Takes a pending write over as the register's value (caller holds RegisterLock to write).
  void CommitWrite(int32_t us, int32_t group, int32_t index);
  static void SetQuality(int32_t us, int32_t group, int32_t quality, int32_t index);
  // Central modem status: ZFMok and its RS_STATUS register (takes RegisterLock).
  void SetZFMStatus(int32_t status);

  // --- Scheduler ---

  // Chooses the next station (AktFM, HZ) and fills Anfrage with its Get and Put ranges and
  // the answer time-out.
  void NextAnfrage();

  // --- Debug view ---

  // Copies the fields a debug view shows, and the time-outs of the station just asked, for
  // other threads to read. Driver thread.
  void PublishView();
  // The copies last published; any thread. A station outside the list gives zeros.
  TFunkView View() const;
  TStationTimeouts StationView(int32_t station) const;

  bool Is3964r = false;  // passive time-slot mode
  int32_t DOfs = 0;      // offset of the register data in an answer (9 after Init)
  TAnfrage Anfrage;
  TAnfrage SavedAnfrage;  // a request carried into the next time slot
  // The central-modem query last built, AF kAfStation until its answer came: that answer may
  // come while another request is current (the query goes out just before a slot begins).
  TAnfrage ZfmAnfrage;
  int32_t ZS = 0;         // time-slot state: below 0 waiting, 0..10 inside a slot
  int32_t AktFM = 0;      // station chosen last by the scheduler
  int32_t HZ = 0;         // auxiliary cycle, 0 = normal cycle
  bool ZFMok = false;     // the central radio modem answers
  int32_t LastSendErg = 0;
  int32_t SendErgCount = 0;  // repeats of LastSendErg
  int32_t DcfDay = 0, DcfMonth = 0, DcfYear = 0;  // date of the last clock-time reading

  serial::TComPort* Port() const { return port_.get(); }
  platform::Clock& Clock() const { return clock_; }

  // --- Stop ---

  // Any thread: every wait of the object ends at once (a read of the line, a pause), later ones
  // do not begin and nothing more is written, so its thread sees a stop without waiting out an
  // answer time-out.
  void Stop() { stop_.Set(); }
  bool Stopped() const { return stop_.IsSet(); }
  // Waits ms on the object's clock unless it is stopped.
  void Pause(uint32_t ms) { serial::PauseUnlessStopped(clock_, ms, &stop_); }

 private:
  void Create(const PortFactory* factory);
  void SetReadTimeout(int32_t ms);
  void CheckDcfTime(TAnfrage& a);

  platform::Clock& clock_;
  serial::TStopEvent stop_;  // before the port, which waits on it
  std::unique_ptr<serial::TComPort> port_;

  mutable std::mutex view_mutex_;
  TFunkView view_;
  std::vector<TStationTimeouts> station_view_;
  int32_t view_us_ = 0;  // station of the request at the last copy
};

}  // namespace driver
