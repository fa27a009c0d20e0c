// A small radio network for the protocol tests, built by hand: the central modem (MODUS 2
// registers) and two outstations, with a protocol object on a manual clock and without port.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/filetime.h"
#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"
#include "server/driver/tests/hex_bytes.h"
#include "server/driver/tests/model_fixture.h"

namespace driver::testing {

// Station 1: Adr 5, direct; 3 AE, 20 BE (2 words), 2 AA, 10 BA (1 word), 36 parameters.
// Station 2: Adr 9 behind relay 7; 2 AE, 16 BE, no outputs, 8 parameters.
class ProtocolTest : public ModelTest {
 public:
  void SetUp() override {
    ModelTest::SetUp();
    BuildNetwork();
  }
  void TearDown() override {
    funk.reset();
    ModelTest::TearDown();
  }

  // A fresh network and protocol object (for each row of a table).
  void BuildNetwork() {
    funk.reset();
    FML = std::make_unique<TFML>();
    AddStation("\0\0\0\0", {3, 0, 0, 0, 0, 56}, -1);
    AddStation("\x05\0\0\0", {13, 3, 20, 2, 10, 36}, 5);
    AddStation("\x07\x09\0\0", {13, 2, 16, 0, 0, 8}, 9);
    // The central modem's clock registers hold doubles.
    FML->Items(0).GetWert(kGroupSystem, 1).bFloat = true;
    FML->Items(0).GetWert(kGroupSystem, 2).bFloat = true;
    funk = std::make_unique<TCustomFunk>(TCustomFunk::PortFactory{}, clock);
    funk->DOfs = 9;
  }

  void AddStation(const char (&adrPath)[5], std::array<int, 6> counts, int32_t adr1) {
    auto st = std::make_unique<TFuMo>();
    st->AdrPath = std::string(adrPath, 4);
    st->Adr1 = adr1;
    for (int g = 0; g < kGroupCount; ++g)
      for (int i = 0; i < counts[size_t(g)]; ++i) st->AddWert(g, TWert{});
    TFuMo* added = st.get();
    added->StationIndex = FML->Add(std::move(st));
  }

  TWert& W(int32_t station, int32_t group, int32_t index) { return FML->Items(station).GetWert(group, index); }
  // A client write as the OPC adapter stores it.
  void ClientWrite(int32_t station, int32_t group, int32_t index, double value) {
    TWert& w = W(station, group, index);
    w.WriteWert = value;
    w.Quality = kQualityLastKnown;
    w.bWritePending = true;
  }
  // The request of a station, as the scheduler leaves it, with its telegram built.
  void Request(int32_t us, int32_t getKl, int32_t getStart, int32_t getAnz, int32_t putKl = 0,
               int32_t putStart = 0, int32_t putAnz = 0) {
    TAnfrage& a = funk->Anfrage;
    a = TAnfrage{};
    a.AF = kAfStation;
    a.US = us;
    a.GetKl = getKl;
    a.GetStart = getStart;
    a.GetAnz = getAnz;
    a.PutKl = putKl;
    a.PutStart = putStart;
    a.PutAnz = putAnz;
    funk->ErzeugeTel();
  }

  // The trace file exists, so trace lines are appended to it.
  void TraceOn() { dir.Write("QAR_LOG.TXT", ""); }
  std::string Trace() const { return dir.Read("QAR_LOG.TXT"); }

  platform::FILETIME NowFileTime() { return platform::ToFileTime(clock.Now()); }

  // A tick count that is not 0, since a send tick of 0 means "no send".
  platform::ManualClock clock{platform::Clock::TimePoint{std::chrono::seconds{1'700'000'000}}, 5000};
  std::unique_ptr<TCustomFunk> funk;
};

}  // namespace driver::testing
