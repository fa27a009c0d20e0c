#include "server/driver/mop_loop.h"

#include <exception>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>

#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/station_state.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"

namespace driver {

namespace {

constexpr int32_t kZfmListenMs = 1000;      // one listening pass for the central modem
constexpr uint32_t kSimulationPauseMs = 200;
constexpr int32_t kSlotListenPasses = 65;   // passes without a slot before the modem counts as lost
constexpr int32_t kSlotQueryPass = 2;       // the pass that asks the modem for its parameters
constexpr int32_t kQueryPasses = 5;         // unanswered queries before the modem counts as lost
constexpr int32_t kModeMessageTries = 3;
constexpr int32_t kPreReadMs = 6;           // collects a frame already waiting before a send
constexpr uint32_t kSlot3964rMs = 18000;
constexpr uint32_t kSlotMs = 30000;
constexpr int32_t kSameSendResults = 5;
// An exception that came before any wait must not make the loop spin.
constexpr uint32_t kRestartPauseMs = 1000;

constexpr int32_t kRmFunkLayer = 0;
constexpr int32_t kRmVersion = 7;

// Modem status values of the central modem's RS_STATUS.
constexpr int32_t kZfmFound = 1;
constexpr int32_t kZfmSearching = -1;
constexpr int32_t kZfmDetected = -2;
constexpr int32_t kZfmHandshake = -3;
constexpr int32_t kZfmSimulation = -4;

std::string S(int32_t v) { return std::to_string(v); }

}  // namespace

TMopLoop::TMopLoop(TCustomFunk& funk, TerminatedFn terminated) : f_(funk), terminated_(std::move(terminated)) {}

int32_t TMopLoop::FunkLayer() const {
  std::shared_lock lock(RegisterLock);
  return TCustomFunk::GetRawValue(0, kGroupRM, kRmFunkLayer);
}

void TMopLoop::Simulation() {
  f_.SetZFMStatus(kZfmSimulation);
  while (!Terminated()) {
    f_.NextAnfrage();
    f_.ErzeugeTel();
    f_.AnfrageErledigt(f_.Anfrage);
    StationStates(true);
    f_.PublishView();
    f_.Pause(kSimulationPauseMs);
  }
}

bool TMopLoop::ErkennungZentrale() {
  TAnfrage& a = f_.Anfrage;
  if (IsDbgFlag(5)) WriteLog(" Anfang Erkennung Zentrale");
  if (Options.SIMULATION) Simulation();

  f_.SetZFMStatus(kZfmSearching);
  {
    std::unique_lock lock(RegisterLock);
    TFuMo& zfm = FML->Items(0);
    zfm.SetWertInt(kGroupRM, kRmVersion, 0, 0);
    zfm.SetWertInt(kGroupRM, kRmFunkLayer, 0, 0);
  }
  while (!Terminated() && !f_.ZFMok) {
    a.AF = kAfZfmQuery;
    f_.ErzeugeTel();
    // The modem's answer is recognised by its header, whatever the request state.
    if (f_.SendeTelegramm() == 0) a.AF = kAfNone;
    f_.LeseTelegramm(kZfmListenMs);
    f_.VerarbeiteAntwortTelegramm(a, false);
    if (FunkLayer() > 0) f_.SetZFMStatus(kZfmFound);
    f_.PublishView();
  }
  f_.SetZFMStatus(kZfmDetected);

  if (!Terminated() && f_.Is3964r) {
    f_.SetZFMStatus(kZfmHandshake);
    f_.ZS = -1;
    a.AF = kAfModeMessage;
    for (int32_t i = 0; i < kModeMessageTries && a.AF != kAfNone; ++i) {
      f_.ErzeugeTel();
      f_.SendeTelegramm();  // "*W1"; an acknowledged send clears AF
    }
    f_.PublishView();
  }
  if (support::TestDbgFlag(4)) WriteLog(" Ende Erkennung Zentrale");
  return !Terminated();
}

void TMopLoop::WaitForSlot() {
  TAnfrage& a = f_.Anfrage;
  for (int32_t passes = 0; !Terminated() && f_.ZS < 0 && f_.ZFMok;) {
    if (f_.Is3964r) {
      // The modem grants the slot with a "*Z" message.
      step_ = 5;
      f_.LeseTelegramm(kZfmListenMs);
      ++passes;
      f_.VerarbeiteAntwortTelegramm(a, false);
      if (passes == kSlotQueryPass) {
        a.AF = kAfZfmQuery;
        f_.ErzeugeTel();
        f_.SendeTelegramm();
      }
      if (passes > kSlotListenPasses) f_.SetZFMStatus(kZfmSearching);
    } else {
      // A modem that answers its query is ready for requests.
      step_ = 4;
      a.AF = kAfZfmQuery;
      f_.ErzeugeTel();
      f_.SendeTelegramm();
      f_.LeseTelegramm(Options.TIMEOUT);
      f_.VerarbeiteAntwortTelegramm(a, false);
      if (a.AF == kAfNone) f_.ZS = 0;
      if (++passes > kQueryPasses) f_.SetZFMStatus(kZfmSearching);
    }
    f_.PublishView();
  }
}

void TMopLoop::Slot(uint32_t start) {
  TAnfrage& a = f_.Anfrage;
  platform::Clock& clock = f_.Clock();
  while (!Terminated() && f_.ZS >= 0 && f_.ZFMok) {
    if (a.AF == kAfNone && FML->Count() <= 1) {
      // Nobody to ask: listen for the modem's messages (the end of the slot) instead of spinning.
      f_.LeseTelegramm(kZfmListenMs);
      f_.VerarbeiteAntwortTelegramm(a, false);
    } else if (a.AF != kAfNone) {
      f_.ErzeugeTel();
      // A frame already waiting (the end of the slot, a late answer) comes first.
      if (f_.LeseTelegramm(kPreReadMs) == 0) f_.VerarbeiteAntwortTelegramm(a, false);
      if (f_.ZS >= 0) {
        if (support::TestDbgFlag(1024)) support::LogMessage("Sende Anfrage");
        f_.SendeTelegramm();
        StationStates(true);
        f_.LeseTelegramm(a.TO);
        // A stop that cut the wait leaves no missing answer to count.
        if (f_.Stopped()) break;
        // An invalid answer may be followed by the right one.
        if (!f_.VerarbeiteAntwortTelegramm(a, true)) {
          f_.LeseTelegramm(a.TO);
          f_.VerarbeiteAntwortTelegramm(a, true);
        }
      }
    }
    if (f_.ZS < 0)
      f_.SavedAnfrage = a;  // carried into the next slot
    else
      f_.NextAnfrage();

    const uint32_t elapsed = clock.TickMs() - start;
    if (f_.Is3964r) {
      if (elapsed > kSlot3964rMs) f_.ZS = -1;
    } else if (elapsed > kSlotMs) {
      f_.ZS = -1;
      f_.SavedAnfrage = a;
    }
    if ((f_.LastSendErg == 2 || f_.LastSendErg == 4) && f_.SendErgCount >= kSameSendResults) f_.ZS = -1;
    if (f_.LastSendErg == -1 && f_.SendErgCount >= kSameSendResults) f_.SetZFMStatus(kZfmSearching);
    f_.PublishView();
  }
}

void TMopLoop::Restart(const char* message) {
  support::LogMessageForced("MoP: WorkLoop: iPos=" + S(step_) + " Exception " + message);
  if (!Terminated()) f_.Pause(kRestartPauseMs);
}

void TMopLoop::WorkLoop() {
  TAnfrage& a = f_.Anfrage;
  while (!Terminated()) {
    try {
      step_ = 1;
      ErkennungZentrale();
      step_ = 2;
      f_.SavedAnfrage = TAnfrage{};
      f_.SetZFMStatus(kZfmFound);
      while (!Terminated() && f_.ZFMok) {
        step_ = 3;
        if (IsDbgFlag(5)) WriteLog(" Anfang Warten auf Zeitschlitz");
        WaitForSlot();
        if (support::TestDbgFlag(4)) WriteLog(" Anfang Zeitschlitz");
        a = f_.SavedAnfrage;
        f_.SavedAnfrage.AF = kAfNone;
        step_ = 6;
        Slot(f_.Clock().TickMs());
        StationStates(true);
        step_ = 7;
      }
      if (!f_.ZFMok && support::TestDbgFlag(4)) WriteLog(" Ende Zentrale ok");
    } catch (const std::exception& e) {
      Restart(e.what());
    } catch (...) {
      Restart("unknown exception");
    }
  }
  StationStates(true);
}

}  // namespace driver
