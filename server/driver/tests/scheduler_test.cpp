// The request scheduler on the small hand-built network: station choice with auxiliary cycles,
// the request classes over a run of answered requests, the Get and Put ranges and the answer
// time-out.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "server/driver/options.h"
#include "server/driver/tests/protocol_fixture.h"

namespace driver {
namespace {

using SchedulerTest = testing::ProtocolTest;

constexpr int32_t kRsKomFail = 2;

void SetFails(SchedulerTest& t, int32_t station, int32_t fails) { t.W(station, kGroupSystem, kRsKomFail).WertInt = fails; }

TEST_F(SchedulerTest, StationChoiceWithAuxiliaryCycles) {
  struct Row {
    const char* name;
    int32_t cycles, failMax;
    int32_t fails1, fails2;  // RS_KOM_FAIL of the two stations
    std::vector<std::pair<int32_t, int32_t>> visits;  // AktFM, HZ of successive calls
  } rows[] = {
      {"no auxiliary cycles", 0, 10, 0, 3, {{1, 0}, {2, 0}, {1, 0}, {2, 0}, {1, 0}}},
      {"only the failing station in auxiliary cycles", 2, 10, 0, 1,
       {{1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 0}, {2, 0}, {2, 1}}},
      {"both failing", 2, 10, 1, 1, {{1, 0}, {2, 0}, {1, 1}, {2, 1}, {1, 2}, {2, 2}, {1, 0}}},
      {"at the fail limit still visited", 1, 10, 0, 10, {{1, 0}, {2, 0}, {2, 1}, {1, 0}}},
      {"beyond the fail limit only in normal cycles", 2, 10, 0, 11, {{1, 0}, {2, 0}, {1, 0}, {2, 0}, {1, 0}}},
      {"nobody failing", 3, 10, 0, 0, {{1, 0}, {2, 0}, {1, 0}, {2, 0}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    Options.HILFSZYKLEN = r.cycles;
    Options.HILFSFAILMAX = r.failMax;
    SetFails(*this, 1, r.fails1);
    SetFails(*this, 2, r.fails2);
    for (size_t i = 0; i < r.visits.size(); ++i) {
      SCOPED_TRACE("call " + std::to_string(i + 1));
      funk->NextAnfrage();
      EXPECT_EQ(funk->AktFM, r.visits[i].first);
      EXPECT_EQ(funk->HZ, r.visits[i].second);
      EXPECT_EQ(funk->Anfrage.US, r.visits[i].first);
      EXPECT_EQ(funk->Anfrage.AF, kAfStation);
    }
  }
}

TEST_F(SchedulerTest, CentralModemAloneGetsNoStationRequest) {
  FML = std::make_unique<TFML>();
  AddStation("\0\0\0\0", {3, 0, 0, 0, 0, 56}, -1);
  Options.HILFSZYKLEN = 3;
  for (int i = 0; i < 3; ++i) {
    funk->Anfrage.US = 0;
    funk->NextAnfrage();
    EXPECT_EQ(funk->HZ, 0);
    EXPECT_EQ(funk->AktFM, 0);
    EXPECT_EQ(funk->Anfrage.AF, kAfNone) << "nothing to send";
    EXPECT_EQ(funk->Anfrage.GetKl, 0);
    EXPECT_EQ(funk->Anfrage.PutKl, 0);
    EXPECT_EQ(funk->Anfrage.TOindex, 0);
  }
}

// Get class, Put class and time-out index of station 1's requests while every request to it
// is answered (or not).
TEST_F(SchedulerTest, RequestClassesOverTime) {
  struct Kinds {
    int32_t get, put, to;
    bool operator==(const Kinds&) const = default;
  };
  struct Row {
    const char* name;
    std::function<void(SchedulerTest&)> setup;
    bool answered;
    int32_t pollCycle;
    std::vector<Kinds> requests;
  } rows[] = {
      {"outputs once, then inputs with the outputs written", nullptr, true, 2,
       {{2, 0, 1}, {1, 2, 2}, {1, 2, 2}, {1, 2, 2}}},
      {"outputs asked again until answered", nullptr, false, 2, {{2, 0, 1}, {2, 0, 1}, {2, 0, 1}}},
      {"parameters wished: every fifth input poll replaced",
       [](SchedulerTest&) { FML->Items(1).iWantRd[3] = 100; }, true, 5,
       {{2, 0, 1}, {1, 2, 2}, {1, 2, 2}, {1, 2, 2}, {1, 2, 2}, {3, 0, 4}, {1, 2, 2}, {1, 2, 2}, {1, 2, 2},
        {1, 2, 2}, {3, 0, 4}}},
      {"parameters not wished: never read", nullptr, true, 2, {{2, 0, 1}, {1, 2, 2}, {1, 2, 2}, {1, 2, 2}, {1, 2, 2}}},
      {"parameter write goes with the parameter read",
       [](SchedulerTest& t) {
         FML->Items(1).iWantRd[3] = 100;
         t.ClientWrite(1, kGroupRM, 16, 3);
         FML->Items(1).bWantWr[3] = true;
       },
       true, 2, {{2, 0, 1}, {1, 2, 2}, {3, 3, 4}, {1, 2, 2}}},
      {"input writes alternate with the outputs",
       [](SchedulerTest& t) {
         t.ClientWrite(1, kGroupAE, 0, 1);
         FML->Items(1).bWantWr[1] = true;
       },
       true, 2, {{2, 0, 1}, {1, 2, 2}, {1, 1, 3}, {1, 2, 2}, {1, 2, 2}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    Options.SYSPOLLZYKLUS = r.pollCycle;
    if (r.setup) r.setup(*this);
    std::vector<Kinds> seen;
    while (seen.size() < r.requests.size()) {
      funk->NextAnfrage();
      TAnfrage& a = funk->Anfrage;
      if (a.US != 1) continue;
      seen.push_back({a.GetKl, a.PutKl, a.TOindex});
      if (!r.answered) continue;
      funk->ErzeugeTel();
      funk->AnfrageErledigt(a);
    }
    EXPECT_EQ(seen, r.requests);
  }
}

struct Range {
  int32_t getKl, getStart, getAnz, putKl, putStart, putAnz, toIndex;
  bool operator==(const Range&) const = default;
};

void PrintTo(const Range& r, std::ostream* os) {
  *os << "Get " << r.getKl << ":" << r.getStart << "/" << r.getAnz << ", Put " << r.putKl << ":" << r.putStart << "/"
      << r.putAnz << ", TO-Typ " << r.toIndex;
}

// Station 1 (2 input words, 3 AE, 1 output word, 2 AA) after its outputs were answered.
TEST_F(SchedulerTest, GetAndPutRanges) {
  struct Row {
    const char* name;
    std::function<void(SchedulerTest&, TFuMo&)> setup;
    Range expected;
  } rows[] = {
      {"first request reads the outputs", [](SchedulerTest&, TFuMo& s) { s.bDoneRd[2] = false; },
       {2, 0, 3, 0, 0, 0, 1}},
      {"input poll from the status word, outputs written whole", nullptr, {1, -1, 6, 2, 0, 3, 2}},
      {"status word written first",
       [](SchedulerTest& t, TFuMo& s) {
         t.ClientWrite(1, kGroupSystem, 4, 7);
         t.ClientWrite(1, kGroupAE, 0, 1);
         s.bWantWr[1] = true;
       },
       {1, -1, 6, 1, -1, 1, 3}},
      {"a run of analog inputs: after the input words, longer than one",
       [](SchedulerTest& t, TFuMo& s) {
         t.ClientWrite(1, kGroupAE, 1, 5);
         t.ClientWrite(1, kGroupAE, 2, 6);
         s.bWantWr[1] = true;
       },
       {1, -1, 6, 1, 3, 2, 5}},
      {"the first run only",
       [](SchedulerTest& t, TFuMo& s) {
         t.ClientWrite(1, kGroupAE, 0, 5);
         t.ClientWrite(1, kGroupAE, 2, 6);
         s.bWantWr[1] = true;
       },
       {1, -1, 6, 1, 2, 1, 3}},
      {"input wish without a pending analog input puts nothing",
       [](SchedulerTest&, TFuMo& s) { s.bWantWr[1] = true; }, {1, -1, 6, 1, 0, 0, 3}},
      {"simulation puts the whole input class",
       [](SchedulerTest& t, TFuMo& s) {
         Options.SIMULATION = true;
         s.LastPutClass = 1;
         t.ClientWrite(1, kGroupAE, 1, 5);
         s.bWantWr[1] = true;
       },
       {1, -1, 6, 1, -1, 6, 2}},
      {"parameters: the last SYSREGCOUNT of 56",
       [](SchedulerTest&, TFuMo& s) {
         for (int i = 0; i < 20; ++i) s.AddWert(kGroupRM, TWert{});
         Options.SYSREGCOUNT = 40;
         s.iWantRd[3] = 1;
       },
       {3, 16, 40, 0, 0, 0, 4}},
      {"parameters: the lowest pending one written",
       [](SchedulerTest& t, TFuMo& s) {
         t.ClientWrite(1, kGroupRM, 20, 1);
         t.ClientWrite(1, kGroupRM, 18, 2);
         s.bWantWr[3] = true;
         s.iWantRd[3] = 1;
       },
       {3, 0, 36, 3, 18, 1, 4}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    TFuMo& s = FML->Items(1);
    s.bDoneRd[2] = true;
    s.LastGetClass = 1;
    s.LastPutClass = 2;
    s.PollCount = 5;
    if (r.setup) r.setup(*this, s);
    funk->NextAnfrage();
    const TAnfrage& a = funk->Anfrage;
    ASSERT_EQ(a.US, 1);
    EXPECT_EQ((Range{a.GetKl, a.GetStart, a.GetAnz, a.PutKl, a.PutStart, a.PutAnz, a.TOindex}), r.expected);
  }
}

// Station 1 with 300 AE (inputs: 303 registers with its 2 words and the status word) and 130 AA
// (outputs: 131 with its word): more than one frame holds. Each turn of the station reads the
// next part of equal size, and writes the next part of the outputs; the outputs count as read
// once their last part came.
TEST_F(SchedulerTest, ClassesLongerThanAFrameGoInParts) {
  struct Row {
    const char* name;
    bool answered;
    std::vector<Range> requests;
  } rows[] = {
      {"answered",
       true,
       {{2, 0, 66, 0, 0, 0, 1},
        {2, 66, 65, 0, 0, 0, 1},
        {1, -1, 101, 2, 0, 66, 2},
        {1, 100, 101, 2, 66, 65, 2},
        {1, 201, 101, 2, 0, 66, 2},
        {1, -1, 101, 2, 66, 65, 2}}},
      {"a part without answer is asked again", false, {{2, 0, 66, 0, 0, 0, 1}, {2, 0, 66, 0, 0, 0, 1}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    TFuMo& s = FML->Items(1);
    for (int i = 0; i < 297; ++i) s.AddWert(kGroupAE, TWert{});
    for (int i = 0; i < 128; ++i) s.AddWert(kGroupAA, TWert{});
    std::vector<Range> seen;
    while (seen.size() < r.requests.size()) {
      funk->NextAnfrage();
      TAnfrage& a = funk->Anfrage;
      if (a.US != 1) continue;
      seen.push_back({a.GetKl, a.GetStart, a.GetAnz, a.PutKl, a.PutStart, a.PutAnz, a.TOindex});
      if (!r.answered) continue;
      funk->ErzeugeTel();
      funk->AnfrageErledigt(a);
    }
    EXPECT_EQ(seen, r.requests);
  }
}

TEST_F(SchedulerTest, AnswerTimeout) {
  struct Row {
    const char* name;
    int32_t learned;  // Timeout[2] of station 1
    int32_t extraWait, timeoutOption;
    int32_t to, regCnt, stored;  // TO, RegCnt[2] and Timeout[2] afterwards
  } rows[] = {
      {"learned", 300, 0, 150, 300, 0, 300},
      // Input poll with outputs: 6 + 3 registers; (629 + 18 * 9) for a direct station.
      {"estimated", 0, 0, 150, 791, 9, -791},
      {"an old estimate is estimated again", -500, 0, 150, 791, 9, -791},
      {"extra wait of the station", 300, 250, 150, 550, 0, 300},
      {"TIMEOUT below its default", 300, 0, 100, 350, 0, 300},
      {"TIMEOUT above its default", 300, 0, 1000, 1150, 0, 300},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    Options.TIMEOUT = r.timeoutOption;
    TFuMo& s = FML->Items(1);
    s.bDoneRd[2] = true;
    s.ExtraWait = r.extraWait;
    s.Timeout[2] = r.learned;
    funk->NextAnfrage();
    ASSERT_EQ(funk->Anfrage.TOindex, 2);
    EXPECT_EQ(funk->Anfrage.TO, r.to);
    EXPECT_EQ(s.RegCnt[2], r.regCnt);
    EXPECT_EQ(s.Timeout[2], r.stored);
  }
}

TEST_F(SchedulerTest, TraceLines) {
  StartLog(3);
  Options.HILFSZYKLEN = 1;
  FML->Items(2).Timeout[1] = 400;
  funk->NextAnfrage();
  funk->NextAnfrage();
  const std::string log = LogText();
  EXPECT_NE(log.find(">iFM=1 Z=0 Fail=0  Max=1/10<"), std::string::npos) << log;
  EXPECT_NE(log.find("> CF: NextAnfrage FM1(HZy=0): Get 2:0/3, Put 0:0/0, TO=374<"), std::string::npos) << log;
  EXPECT_NE(log.find("> CF: NextAnfrage FM2(HZy=0): Get 2:0/0, Put 0:0/0, TO=400<"), std::string::npos) << log;
}

}  // namespace
}  // namespace driver
