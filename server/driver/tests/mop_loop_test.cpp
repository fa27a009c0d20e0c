// The MODUS 1 and 2 driver loop against the simulator's central modem in-process, on a virtual
// clock: detection, the "*W1" handshake, waiting for slots, the slot loop, slot ends, carried
// requests, a lost modem, a vanished port, simulation mode and the recovery from an exception.
// Each test runs one WorkLoop and steers it from its terminate test, which the loop asks at
// every pass: a script of steps, each waiting for a condition and then acting.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "server/driver/config_loader.h"
#include "server/driver/custom_funk.h"
#include "server/driver/mop_loop.h"
#include "server/driver/options.h"
#include "server/driver/tests/hex_bytes.h"
#include "server/driver/tests/model_fixture.h"
#include "server/driver/tests/modem_line.h"
#include "server/driver/tests/three_stations.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"
#include "tools/radiosim/network.h"

namespace driver {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::AllGood;
using testing::Answered;
using testing::ClientWrite;
using testing::Confirmed;
using testing::ModemLine;
using testing::RegisterQuality;
using testing::RegisterValue;
using testing::ThreeStationChannels;
using testing::kThreeStations;

constexpr int32_t kRsKomOk = 0, kRsKomFail = 2;
constexpr int32_t kRmId = 6, kRmVersion = 7;

radiosim::ModemOptions SimOptions() {
  radiosim::ModemOptions o;
  o.radioDelay = milliseconds(20);
  o.slotLength = milliseconds(3000);
  o.slotPause = milliseconds(500);
  o.model.analogPeriod = milliseconds(0);
  return o;
}

struct Step {
  const char* name;
  std::function<bool()> until;
  std::function<void()> then;  // may be empty
};

class MopLoopTest : public testing::ModelTest {
 public:
  void TearDown() override {
    funk.reset();
    line.reset();
    ModelTest::TearDown();
  }

  // Ostrel.INI, the simulated network on it, the server's station list and the protocol
  // object on the in-process modem.
  // No stations: a network of the central modem alone, without the [Unterstationen] section.
  void Start(int modus, const radiosim::ModemOptions& sim = SimOptions(), const std::string& options = "",
             const std::string& channels = ThreeStationChannels(), const std::string& stations = kThreeStations) {
    const std::string zfm =
        "MODUS=" + std::to_string(modus) + "\r\nTIMEOUT=100\r\nRS232=COM1,9600,None,8,1\r\n" + options;
    if (stations.empty())
      dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\n" + zfm);
    else
      WriteIni(stations, channels, zfm);
    radiosim::Network net;
    std::string error;
    ASSERT_TRUE(radiosim::LoadNetwork(dir.Path(), net, error)) << error;
    ServerDir = dir.Path();
    ASSERT_EQ(CreateFML(), 0);
    line = std::make_shared<ModemLine>(net, sim, clock);
    funk = std::make_unique<TCustomFunk>(
        [this] {
          auto port = std::make_unique<serial::TComPort>(line);
          port->SetLog([this](std::string_view text) { portLog.emplace_back(text); });
          return port;
        },
        clock);
    ASSERT_EQ(funk->Init(modus == 2), 0);
    start = clock.TickMs();
  }

  // Runs WorkLoop until every step has come (true) or the virtual time limit has passed. watch
  // runs at every pass.
  bool Run(std::vector<Step> steps, seconds limit, std::function<void()> watch = nullptr) {
    size_t next = 0;
    reached.clear();
    passes = 0;
    TMopLoop loop(*funk, [&] {
      ++passes;
      if (watch) watch();
      while (next < steps.size() && steps[next].until()) {
        reached.push_back(Elapsed());
        if (steps[next].then) steps[next].then();
        ++next;
      }
      // The pass limit stops a loop that spins without waiting.
      return next == steps.size() || Elapsed() > uint32_t(limit.count() * 1000) || passes > 1'000'000;
    });
    loop.WorkLoop();
    for (size_t i = next; i < steps.size(); ++i) ADD_FAILURE() << "never came: " << steps[i].name;
    return next == steps.size();
  }

  uint32_t Elapsed() { return clock.TickMs() - start; }
  int32_t ZfmStatus() { return RegisterValue(0, kGroupSystem, 0); }
  // The first 11 bytes of the telegram of a station request: address path, Get and Put ranges.
  std::string Header(const TAnfrage& a) {
    std::string h(1, char(0x60));
    h += FML->Items(a.US).GetAdrPath();
    h += WordToStr2(uint16_t(RegBase[size_t(a.GetKl)] + a.GetStart));
    h += char(a.GetAnz);
    h += WordToStr2(uint16_t(RegBase[size_t(a.PutKl)] + a.PutStart));
    h += char(a.PutAnz);
    return h;
  }

  platform::ManualClock clock{platform::Clock::TimePoint{seconds{1'700'000'000}}, 5000};
  std::shared_ptr<ModemLine> line;
  std::unique_ptr<TCustomFunk> funk;
  uint32_t start = 0;
  std::vector<uint32_t> reached;  // virtual ms at which each step came
  std::vector<std::string> portLog;  // the port's lines on a lost and a reopened device
  long passes = 0;
};

class ModeTest : public MopLoopTest, public ::testing::WithParamInterface<int> {};

TEST_P(ModeTest, FindsTheModemPollsEveryStationAndConfirmsWrites) {
  const int modus = GetParam();
  Start(modus);
  bool requestBeforeSlot = false;
  auto watch = [&] {
    const radiosim::ModemStats& s = line->Modem().Stats();
    if (modus == 2 && s.slots == 0 && s.requests > s.centralQueries) requestBeforeSlot = true;
  };
  ASSERT_TRUE(Run({{"every register good",
                    [&] { return AllGood(); },
                    [&] {
                      ClientWrite(1, kGroupAA, 0, 777);
                      ClientWrite(1, kGroupBA, 3, 1);
                    }},
                   {"writes confirmed",
                    [&] { return Confirmed(1, kGroupAA, 0, 777) && Confirmed(1, kGroupBA, 3, 1); }, nullptr}},
                  seconds(60), watch));
  EXPECT_FALSE(requestBeforeSlot) << "a station was asked before the first time slot";
  EXPECT_EQ(ZfmStatus(), 1);
  EXPECT_EQ(RegisterValue(0, kGroupRM, kRmVersion), radiosim::Modem::kVersion);
  EXPECT_EQ(RegisterValue(0, kGroupRM, kRmId), radiosim::Modem::kId);
  EXPECT_EQ(line->Modem().Stats().modeMessages, modus == 2 ? 1 : 0);
  // The station's outputs follow: the output word with bit 3, the analog output.
  EXPECT_EQ(line->Modem().FindStation("1")->Registers(2, line->Now()), (std::vector<uint16_t>{8, 777}));
  for (int32_t s = 1; s <= 3; ++s) EXPECT_EQ(RegisterValue(s, kGroupSystem, kRsKomFail), 0) << s;
}

INSTANTIATE_TEST_SUITE_P(Modus, ModeTest, ::testing::Values(1, 2),
                         [](const auto& info) { return "Modus" + std::to_string(info.param); });

// The central-modem query goes out in the second listening pass; with a gap of about a second
// before each slot its answer comes when the slot has begun. It still reaches the central
// modem's registers, and with two readings of its clock the clock time turns good.
TEST_F(MopLoopTest, CentralModemAnswerInsideTheSlotIsKept) {
  radiosim::ModemOptions sim = SimOptions();
  sim.slotPause = milliseconds(1000);
  Start(2, sim);
  ASSERT_TRUE(Run({{"clock time and stations good",
                    [&] {
                      return RegisterQuality(0, kGroupSystem, 1) == kQualityGood &&
                             RegisterQuality(0, kGroupSystem, 2) == kQualityGood && AllGood();
                    },
                    nullptr}},
                  seconds(60)));
}

TEST_F(MopLoopTest, WithoutSlotMessagesTheModemIsLostAfter66ListeningPasses) {
  radiosim::ModemOptions sim = SimOptions();
  sim.slotPause = std::chrono::minutes(10);  // "*V" comes, "*Z" never
  Start(2, sim);
  ASSERT_TRUE(Run({{"handshake done", [&] { return ZfmStatus() == 1 && funk->ZS < 0; }, nullptr},
                   {"modem lost", [&] { return ZfmStatus() == -1; }, nullptr},
                   {"found again", [&] { return ZfmStatus() == 1; }, nullptr}},
                  seconds(200)));
  // 66 passes of up to 1000 ms; the version message and the query's answer end two early.
  const uint32_t listened = reached[1] - reached[0];
  EXPECT_GE(listened, 63'000u);
  EXPECT_LE(listened, 66'000u);
}

// How a slot ends, and which request the next one begins with.
TEST_F(MopLoopTest, SlotEndsAndThePendingRequestGoesFirstInTheNext) {
  struct Row {
    const char* name;
    int modus;
    milliseconds simSlot;
    uint32_t minMs, maxMs;  // length of the first slot as the driver saw it
    bool nextSlot;          // the modem grants another one
  } rows[] = {
      {"the modem ends the slot", 2, milliseconds(3000), 2900, 3300, true},
      {"passive mode: at most 18 s", 2, std::chrono::minutes(10), 18000, 19500, false},
      // Seen from the first answer on, a few milliseconds after the slot began.
      {"MODUS 1: 30 s, then the modem is asked again", 1, milliseconds(3000), 29500, 31500, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TearDown();
    SetUp();
    radiosim::ModemOptions sim = SimOptions();
    sim.slotLength = r.simSlot;
    Start(r.modus, sim);

    // Telegrams sent, by slot: 0 before the first slot, 1 in the first and the wait after it, ...
    std::vector<std::vector<std::string>> bySlot(1);
    bool inSlot = false;
    std::optional<std::string> carried;  // header of the request carried out of the first slot
    auto running = [&] {
      if (funk->ZS < 0 || !funk->ZFMok) return false;
      // Detection passes see ZS 0 too: a slot comes after the handshake, or after an answer.
      return r.modus == 2 ? line->Modem().Stats().modeMessages > 0 : Answered() > 0;
    };
    auto watch = [&] {
      for (std::string& tel : line->TakeSent()) bySlot.back().push_back(std::move(tel));
      const bool now = running();
      if (now && !inSlot) bySlot.emplace_back();
      if (!now && inSlot && bySlot.size() == 2 && funk->SavedAnfrage.AF == kAfStation)
        carried = Header(funk->SavedAnfrage);
      inSlot = now;
    };
    std::vector<Step> steps{{"slot", [&] { return inSlot; }, nullptr},
                            {"slot ended", [&] { return !inSlot; }, nullptr}};
    if (r.nextSlot) steps.push_back({"next slot", [&] { return bySlot.size() == 3 && !bySlot[2].empty(); }, nullptr});
    ASSERT_TRUE(Run(steps, seconds(60), watch));

    const uint32_t length = reached[1] - reached[0];
    EXPECT_GE(length, r.minMs);
    EXPECT_LE(length, r.maxMs);
    if (r.nextSlot) {
      ASSERT_TRUE(carried.has_value());
      ASSERT_FALSE(bySlot[2].empty());
      EXPECT_EQ(testing::Hex(bySlot[2].front().substr(0, 11)), testing::Hex(*carried));
    }
  }
}

TEST_F(MopLoopTest, RepeatedRefusalsEndTheSlot) {
  struct Row {
    const char* name;
    void (*arm)(radiosim::Line3964R&);
    int32_t result;
  } rows[] = {
      {"NAK to STX", [](radiosim::Line3964R& l) { l.ArmStxReply(radiosim::Reply::Nak); }, 2},
      {"NAK to the frame", [](radiosim::Line3964R& l) { l.ArmFrameReply(radiosim::Reply::Nak); }, 4},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TearDown();
    SetUp();
    radiosim::ModemOptions sim = SimOptions();
    sim.slotLength = std::chrono::minutes(10);
    Start(2, sim);
    ASSERT_TRUE(Run({{"inside a slot",
                      [&] { return AllGood(); },
                      [&] {
                        for (int i = 0; i < 6; ++i) r.arm(line->Modem().Line());
                      }},
                     {"slot ended", [&] { return funk->ZS < 0; }, nullptr}},
                    seconds(60)));
    EXPECT_EQ(funk->LastSendErg, r.result);
    EXPECT_EQ(funk->SendErgCount, 5);
    EXPECT_TRUE(line->Modem().SlotOpen());  // the driver ended it, not the modem
    EXPECT_LT(reached[1] - reached[0], 18000u);
    EXPECT_EQ(ZfmStatus(), 1);
  }
}

TEST_F(MopLoopTest, LostModemSendsTheLoopBackToDetection) {
  for (int modus : {1, 2}) {
    SCOPED_TRACE("MODUS " + std::to_string(modus));
    TearDown();
    SetUp();
    radiosim::ModemOptions sim = SimOptions();
    sim.slotLength = std::chrono::minutes(10);  // the modem goes silent inside a slot
    Start(modus, sim);
    int32_t answered = 0;
    ASSERT_TRUE(Run({{"polling", [&] { return AllGood(); }, [&] { line->Modem().GoSilent(); }},
                     {"modem lost",
                      [&] { return ZfmStatus() == -1; },
                      [&] {
                        answered = RegisterValue(1, kGroupSystem, kRsKomOk);
                        line->Modem().ComeBack(line->Now());
                      }},
                     {"polling again",
                      [&] { return ZfmStatus() == 1 && RegisterValue(1, kGroupSystem, kRsKomOk) > answered; }, nullptr}},
                    seconds(120)));
    // Six unanswered sends, each waiting TIMEOUT and the answer time-out.
    EXPECT_LT(reached[1] - reached[0], 10'000u);
    EXPECT_LT(reached[2] - reached[1], 10'000u);
  }
}

TEST_F(MopLoopTest, VanishedPortDoesNotSpinAndIsTakenBackWhenItReturns) {
  Start(1);
  long passesWhenGone = 0;
  int32_t answered = 0;
  ASSERT_TRUE(Run({{"polling",
                    [&] { return AllGood(); },
                    [&] {
                      line->Unplug();
                      passesWhenGone = passes;
                    }},
                   {"gone for a minute",
                    [&] { return Elapsed() > reached[0] + 60'000; },
                    [&] {
                      // Every pass waits at least TIMEOUT: a minute holds at most 600 of them.
                      EXPECT_LT(passes - passesWhenGone, 600);
                      EXPECT_EQ(ZfmStatus(), -1);
                      answered = RegisterValue(1, kGroupSystem, kRsKomOk);
                      line->Plug();
                    }},
                   {"polling again",
                    [&] { return ZfmStatus() == 1 && RegisterValue(1, kGroupSystem, kRsKomOk) > answered; }, nullptr}},
                  seconds(120)));
}

TEST_F(MopLoopTest, SimulationCompletesRequestsWithoutLineTraffic) {
  Start(1, SimOptions(), "SIMULATION=1\r\n");
  ClientWrite(1, kGroupAA, 0, 55);
  bool simulating = false, otherStatus = false;
  ASSERT_TRUE(Run({{"two seconds", [&] { return Elapsed() >= 2000; }, nullptr}}, seconds(10), [&] {
    if (ZfmStatus() == -4)
      simulating = true;
    else if (simulating && reached.empty())
      otherStatus = true;
  }));
  EXPECT_TRUE(simulating);
  EXPECT_FALSE(otherStatus);
  EXPECT_EQ(line->BytesWritten(), 0u);
  EXPECT_EQ(line->Modem().Stats().telegrams, 0);
  // One request every 200 ms, round the three stations.
  EXPECT_EQ(Answered(), 10);
  EXPECT_TRUE(Confirmed(1, kGroupAA, 0, 55));
  std::shared_lock lock(RegisterLock);
  EXPECT_TRUE(FML->Items(3).bDoneRd[1]);
}

// Station 3 has more analog inputs than one answer frame holds: its inputs are read in parts,
// one part per turn, so every register turns good with its value and the neighbours keep their
// turn. Nothing restarts detection.
TEST_F(MopLoopTest, StationWithMoreRegistersThanAFrameHoldsIsReadInParts) {
  Start(1, SimOptions(), "", ThreeStationChannels(130));
  bool lost = false;
  auto watch = [&] { lost = lost || (Answered() > 0 && ZfmStatus() != 1); };
  int32_t ok[4] = {};
  ASSERT_TRUE(Run({{"every register good",
                    [&] { return AllGood(); },
                    [&] {
                      for (int32_t st = 1; st <= 3; ++st) ok[st] = RegisterValue(st, kGroupSystem, kRsKomOk);
                    }},
                   {"a minute of polling", [&] { return Elapsed() > reached[0] + 60'000; }, nullptr}},
                  seconds(120), watch));
  const std::vector<uint16_t> inputs = line->Modem().FindStation("3")->Registers(1, line->Now());
  ASSERT_EQ(inputs.size(), 131u);  // the status word, then the analog inputs
  for (int32_t i = 0; i < 130; ++i) EXPECT_EQ(RegisterValue(3, kGroupAE, i), inputs[size_t(i) + 1]) << i;
  EXPECT_FALSE(lost) << "the modem status left 1";
  EXPECT_EQ(RegisterValue(3, kGroupSystem, kRsKomFail), 0);
  // Station 1 and 2 have a turn whenever station 3 has one.
  int32_t turns[4] = {};
  for (int32_t st = 1; st <= 3; ++st) turns[st] = RegisterValue(st, kGroupSystem, kRsKomOk) - ok[st];
  EXPECT_GT(turns[3], 20);
  for (int32_t st = 1; st <= 2; ++st) EXPECT_NEAR(turns[st], turns[3], 1) << st;
  for (const std::string& tel : line->TakeSent())
    EXPECT_LE(uint8_t(tel.size() > 7 ? tel[7] : 0), 121) << "a Get range longer than an answer frame holds";
}

// Without outstations the driver asks the central modem for its parameters only, at the pace
// of the time slots, and counts no missing answer into the central modem's registers.
TEST_P(ModeTest, CentralModemAloneIsOnlyAskedItsOwnQueries) {
  const int modus = GetParam();
  StartLog(-1);
  Start(modus, SimOptions(), "", "", "");
  ASSERT_EQ(FML->Count(), 1);
  std::vector<std::string> sent;
  ASSERT_TRUE(Run({{"a minute", [&] { return Elapsed() > 60'000; }, nullptr}}, seconds(70),
                  [&] {
                    for (std::string& tel : line->TakeSent()) sent.push_back(std::move(tel));
                  }));
  EXPECT_EQ(ZfmStatus(), 1);
  const std::string query = testing::Bytes("60 00 00 00 00 03 84");
  size_t queries = 0;
  std::vector<std::string> others;
  for (const std::string& tel : sent) {
    if (tel.compare(0, 7, query) == 0)
      ++queries;
    else if (tel != "*W1")
      others.push_back(testing::Hex(tel));
  }
  EXPECT_EQ(others.size(), 0u) << others.front();
  EXPECT_GE(queries, 2u);
  EXPECT_LE(queries, 60u) << "more than one query a second";
  std::shared_lock lock(RegisterLock);
  for (const TWert& w : FML->Items(0).Groups[kGroupSystem])
    EXPECT_NE(w.Quality, kQualityNotConnected) << w.Name << " never answered";
  EXPECT_EQ(LogText().find("Antwort fehlt"), std::string::npos) << LogText();
}

TEST_F(MopLoopTest, ExceptionStartsAgainFromDetection) {
  // A frame longer than the receive buffer throws in the middle of the slot. Logging is off;
  // the line is written all the same.
  StartQuietLog();
  Start(1);
  int32_t answered = 0;
  ASSERT_TRUE(Run({{"polling", [&] { return AllGood(); },
                    [&] { line->Modem().Line().Send(std::string(300, 'A'), 1, line->Now()); }},
                   {"exception", [&] { return dir.Read("Problem2.TXT").find("MoP: WorkLoop") != std::string::npos; },
                    [&] { answered = RegisterValue(1, kGroupSystem, kRsKomOk); }},
                   {"polling again", [&] { return ZfmStatus() == 1 && RegisterValue(1, kGroupSystem, kRsKomOk) > answered; },
                    nullptr}},
                  seconds(60)));
  EXPECT_NE(dir.Read("Problem2.TXT").find("MoP: WorkLoop: iPos=6 Exception "), std::string::npos)
      << dir.Read("Problem2.TXT");
}

TEST_F(MopLoopTest, TerminateIsSeenWithinOneWait) {
  struct Row {
    const char* name;
    std::function<void(radiosim::ModemOptions&)> sim;
    bool silent;
  } rows[] = {
      {"inside a long slot", [](radiosim::ModemOptions& o) { o.slotLength = std::chrono::minutes(10); }, false},
      {"waiting for a slot", [](radiosim::ModemOptions& o) { o.slotPause = std::chrono::minutes(10); }, false},
      {"searching a silent modem", nullptr, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TearDown();
    SetUp();
    radiosim::ModemOptions sim = SimOptions();
    if (r.sim) r.sim(sim);
    Start(2, sim);
    if (r.silent) line->Modem().GoSilent();
    // The flag is set at 10 s, whatever the loop does then.
    TMopLoop loop(*funk, [&] { return Elapsed() >= 10'000; });
    loop.WorkLoop();
    // The longest single wait: the answer time-out of the station behind a relay.
    EXPECT_LE(Elapsed() - 10'000, 2500u);
  }
}

}  // namespace
}  // namespace driver
