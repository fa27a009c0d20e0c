#include "tools/radiosim/modem.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "tools/radiosim/checksums.h"
#include "tools/tests/bytes.h"

namespace radiosim {
namespace {

using std::chrono::milliseconds;
using testing::Hex;
using testing::ToHex;

StationShape Station(const char* name, int index, int adr1, std::array<uint8_t, 4> path, int be, int ae, int ba,
                     int aa) {
  return {.name = name, .index = index, .adr1 = adr1, .path = path, .binaryInputs = be, .analogInputs = ae,
          .binaryOutputs = ba, .analogOutputs = aa, .params = 36};
}

Network TestNetwork() {
  Network net;
  net.modus = 2;
  net.central.name = "ZFM";
  net.central.adr1 = -1;
  net.central.params = 56;
  net.stations = {
      Station("Direct", 1, 12, {12, 0, 0, 0}, 20, 1, 16, 1),
      Station("OneRelay", 2, 12, {3, 12, 0, 0}, 16, 0, 0, 0),
      Station("TwoRelays", 3, 40, {5, 7, 40, 0}, 0, 2, 0, 0),
  };
  return net;
}

// Plays the server against the modem on a virtual clock: sends telegrams with the
// handshake and takes the modem's frames, acknowledging them.
class ModemTest : public ::testing::Test {
 protected:
  static ModemOptions Options() {
    ModemOptions o;
    o.radioDelay = milliseconds(100);
    o.slotLength = milliseconds(3000);
    o.slotPause = milliseconds(500);
    o.model.analogPeriod = milliseconds(0);
    return o;
  }
  void Make(ModemOptions o = Options()) { modem = std::make_unique<Modem>(net, o, wall, now); }

  void Send(std::string_view tel) {
    modem->Receive("\x02", now);
    ASSERT_EQ(ToHex(modem->TakeOutput()), "10");
    std::string frame;
    for (char c : tel) {
      frame += c;
      if (c == 0x10) frame += c;
    }
    frame += "\x10\x03";
    frame += char(BlockCheck(frame));
    modem->Receive(frame, now);
    // An answer that is ready at once follows the DLE straight away.
    const std::string out = modem->TakeOutput();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(ToHex(out.substr(0, 1)), "10");
    pending = out.substr(1);
  }
  void SendHex(const char* hex) { Send(Hex(hex)); }

  // Lets time run from deadline to deadline until the modem sends STX, at most limit; answers
  // DLE, checks the frame that follows, acknowledges it and returns its telegram.
  std::optional<std::string> Await(Duration limit = std::chrono::seconds(10)) {
    const Duration end = now + limit;
    std::string out = pending + modem->TakeOutput();
    pending.clear();
    while (out.empty()) {
      const Duration next = modem->NextDeadline();
      if (next == kNever || next > end) return std::nullopt;
      now = std::max(now, next);
      modem->Advance(now);
      out = modem->TakeOutput();
    }
    EXPECT_EQ(ToHex(out), "02");
    sentAt = now;
    modem->Receive("\x10", now);
    const std::string frame = modem->TakeOutput();
    EXPECT_GE(frame.size(), 3u);
    if (frame.size() < 3) return std::nullopt;
    EXPECT_EQ(BlockCheck(frame.substr(0, frame.size() - 1)), uint8_t(frame.back()));
    EXPECT_EQ(frame.substr(frame.size() - 3, 2), "\x10\x03");
    std::string tel;
    for (size_t i = 0; i + 3 < frame.size(); ++i) {
      tel += frame[i];
      if (frame[i] == 0x10) ++i;
    }
    modem->Receive("\x10", now);
    return tel;
  }
  std::string AwaitHex(Duration limit = std::chrono::seconds(10)) {
    auto t = Await(limit);
    return t ? ToHex(*t) : "(none)";
  }

  Network net = TestNetwork();
  // 5 March 2024, 14:07:09 UTC (the tests run in UTC).
  platform::ManualClock wall{platform::Clock::TimePoint{std::chrono::seconds(1709647629)}};
  Duration now{0};
  Duration sentAt{0};
  std::string pending;  // the modem's bytes that came with the DLE to our frame
  std::unique_ptr<Modem> modem;
};

constexpr char kCentralQuery[] = "60 00 00 00 00 03 84 38 03 84 00";

TEST_F(ModemTest, CentralModemAnswersItsQueryAtOnce) {
  ModemOptions o = Options();
  o.upDelay = milliseconds(500);
  Make(o);
  struct Row {
    int ms;
    int funkLayer;
  } rows[] = {{0, 0}, {499, 0}, {500, 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.ms);
    now = milliseconds(r.ms);
    SendHex(kCentralQuery);
    const auto tel = Await(Duration(0));
    ASSERT_TRUE(tel);
    ASSERT_EQ(tel->size(), 8u + 2 * 56);
    EXPECT_EQ(ToHex(tel->substr(0, 8)), "E0 00 00 00 00 03 84 38");
    auto word = [&](int i) { return ToHex(tel->substr(8 + 2 * size_t(i), 2)); };
    EXPECT_EQ(word(0), r.funkLayer ? "00 01" : "00 00");
    EXPECT_EQ(word(6), "00 2A");   // identification 42
    EXPECT_EQ(word(7), "00 6B");   // version 107
    EXPECT_EQ(word(44), "00 01");  // the time slot
    // The radio clock in BCD: year and month, day and hour, minute and second.
    EXPECT_EQ(word(53), "24 03");
    EXPECT_EQ(word(54), "05 14");
    EXPECT_EQ(word(55), "07 09");
  }
}

TEST_F(ModemTest, CentralModemTakesAParameterWrite) {
  Make();
  // Get the last 40 parameters, put parameter 16 (RM_STATNR) := 7.
  SendHex("60 00 00 00 00 03 94 28 03 94 01 00 07");
  const auto tel = Await(Duration(0));
  ASSERT_TRUE(tel);
  EXPECT_EQ(ToHex(tel->substr(0, 10)), "E0 00 00 00 00 03 94 28 00 07");
  EXPECT_EQ(modem->CentralRegisters(now)[16], 7);
  EXPECT_EQ(modem->Stats().writes, 1);
}

TEST_F(ModemTest, StationsAnswerAfterTheRadioDelayOfEachHop) {
  Make();
  struct Row {
    const char* request;
    int hops;
    const char* answer;
  } rows[] = {
      {"60 0C 00 00 00 00 02 02 00 00 00", 1, "E0 00 0C 00 00 00 02 02"},
      {"60 03 0C 00 00 00 02 01 00 00 00", 2, "E0 00 03 0C 00 00 02 01"},
      {"60 05 07 28 00 00 02 02 00 00 00", 3, "E0 00 05 07 28 00 02 02"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.request);
    const Duration start = now;
    SendHex(r.request);
    const auto tel = Await();
    ASSERT_TRUE(tel);
    EXPECT_EQ(ToHex(tel->substr(0, 8)), r.answer);
    EXPECT_EQ(sentAt - start, milliseconds(100) * r.hops);
  }
}

TEST_F(ModemTest, OutputsFollowWrites) {
  Make();
  // Inputs read (status word, two bit words, one analog), the outputs written: word 5, analog 1000.
  SendHex("60 0C 00 00 00 00 01 04 01 2C 02 00 05 03 E8");
  const auto first = Await();
  ASSERT_TRUE(first);
  EXPECT_EQ(ToHex(first->substr(0, 8)), "E0 00 0C 00 00 00 01 04");
  EXPECT_EQ(first->size(), 8u + 8);
  EXPECT_EQ(modem->FindStation("Direct")->Registers(kOutputs, now), (std::vector<uint16_t>{5, 1000}));
  // Read back the outputs.
  SendHex("60 0C 00 00 00 01 2C 02 00 00 00");
  EXPECT_EQ(AwaitHex(), "E0 00 0C 00 00 01 2C 02 00 05 03 E8");
  EXPECT_EQ(modem->Stats().writes, 2);
}

TEST_F(ModemTest, StatusWordIsWrittenAndReadInOneTelegram) {
  Make();
  ASSERT_TRUE(modem->FindStation("1")->Set(kInputs, -1, 3));
  // Get the status word, Put the status word := 0.
  SendHex("60 0C 00 00 00 00 01 01 00 01 01 00 00");
  EXPECT_EQ(AwaitHex(), "E0 00 0C 00 00 00 01 01 00 00");
}

TEST_F(ModemTest, CrcVariant) {
  Make();
  SendHex("61 03 0C 00 00 00 01 02 01 2C 00 28 6E");
  const auto tel = Await();
  ASSERT_TRUE(tel);
  ASSERT_EQ(tel->size(), 8u + 4 + 2);
  EXPECT_EQ(ToHex(tel->substr(0, 8)), "E1 00 03 0C 00 00 01 02");
  const uint16_t crc = Crc16(tel->substr(0, tel->size() - 2));
  EXPECT_EQ(uint8_t((*tel)[tel->size() - 2]), crc & 0xFF);
  EXPECT_EQ(uint8_t((*tel)[tel->size() - 1]), crc >> 8);
  EXPECT_EQ(modem->Stats().crcRequests, 1);
}

TEST_F(ModemTest, RequestsThatGetNoDataAnswer) {
  struct Row {
    const char* name;
    Failure failure;  // of station "Direct"
    const char* request;
    const char* answer;
    int64_t ModemStats::*counter;
  } rows[] = {
      {"silent station", Failure::Silent, "60 0C 00 00 00 00 01 01 00 00 00", "(none)", nullptr},
      {"station that fails: empty answer", Failure::Empty, "60 0C 00 00 00 00 01 01 00 00 00", "E0 00 0C 00 00",
       &ModemStats::emptyAnswers},
      {"no station on that path", Failure::None, "60 0D 00 00 00 00 01 01 00 00 00", "(none)",
       &ModemStats::unknownStations},
      {"CRC that does not match", Failure::None, "61 03 0C 00 00 00 01 02 01 2C 00 28 6F", "(none)",
       &ModemStats::crcErrors},
      {"wrong length", Failure::None, "60 0C 00 00 00 00 01 01 00 00 01", "(none)", &ModemStats::badTelegrams},
      {"unknown modem message", Failure::None, "2A 58", "(none)", &ModemStats::badTelegrams},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Make();
    modem->FindStation("Direct")->failure = r.failure;
    SendHex(r.request);
    EXPECT_EQ(AwaitHex(), r.answer);
    if (r.counter) {
      EXPECT_EQ(modem->Stats().*r.counter, 1);
    }
    EXPECT_EQ(modem->Stats().answers, 0);
  }
}

TEST_F(ModemTest, RegistersTheStationLacksReadAsZero) {
  Make();
  // Station "TwoRelays" has two analog inputs: registers -1..1 of class 1; ask for one more.
  SendHex("60 05 07 28 00 00 01 04 00 00 00");
  const auto tel = Await();
  ASSERT_TRUE(tel);
  EXPECT_EQ(ToHex(tel->substr(tel->size() - 2)), "00 00");
  EXPECT_EQ(modem->Stats().outOfRange, 1);
}

TEST_F(ModemTest, GarbledAnswerHasAWrongHeader) {
  Make();
  modem->ArmGarble(1);
  SendHex("60 0C 00 00 00 00 01 01 00 00 00");
  EXPECT_EQ(AwaitHex(), "E0 00 0C 00 00 00 00 01 00 00");
  SendHex("60 0C 00 00 00 00 01 01 00 00 00");
  EXPECT_EQ(AwaitHex(), "E0 00 0C 00 00 00 01 01 00 00");
}

TEST_F(ModemTest, TimeSlotsAfterTheModeMessage) {
  Make();
  now = milliseconds(1000);
  SendHex(kCentralQuery);
  ASSERT_TRUE(Await(Duration(0)));
  EXPECT_EQ(AwaitHex(), "(none)") << "no slots before \"*W1\"";
  Send("*W1");
  const Duration w1 = now;
  EXPECT_EQ(Await(Duration(0)), "*V 01.07 0042");
  struct Row {
    const char* message;
    int at;  // ms after "*W1"
  } rows[] = {{"*Z11", 500}, {"*Z10", 3500}, {"*Z11", 4000}, {"*Z10", 7000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.at);
    EXPECT_EQ(Await(), r.message);
    EXPECT_EQ(sentAt - w1, milliseconds(r.at));
  }
  EXPECT_EQ(modem->Stats().slots, 2);
  EXPECT_EQ(modem->Stats().modeMessages, 1);
}

TEST_F(ModemTest, StationRequestsOutsideTheServersSlotAreCounted) {
  Make();
  const std::string request = Hex("60 0C 00 00 00 00 01 01 00 00 00");
  auto exchange = [&](const std::string& tel) {
    Send(tel);
    ASSERT_TRUE(Await());
  };
  exchange(request);
  EXPECT_EQ(modem->Stats().outsideSlot, 0) << "no time slots before \"*W1\"";
  Send("*W1");
  EXPECT_EQ(Await(Duration(0)), "*V 01.07 0042");
  exchange(request);
  EXPECT_EQ(modem->Stats().outsideSlot, 1) << "station request before the first grant";
  exchange(Hex(kCentralQuery));
  EXPECT_EQ(modem->Stats().outsideSlot, 1) << "the central-modem query is no station request";
  EXPECT_EQ(Await(), "*Z11");
  EXPECT_TRUE(modem->ServerInSlot());
  exchange(request);
  EXPECT_EQ(modem->Stats().outsideSlot, 1) << "inside the slot";

  // The end message; the DLE to it and the STX of a request come in one read.
  while (modem->TakeOutput().empty()) {
    now = modem->NextDeadline();
    modem->Advance(now);
  }
  modem->Receive("\x10", now);
  EXPECT_EQ(modem->TakeOutput().substr(0, 4), "*Z10");
  modem->Receive(std::string("\x10\x02", 2), now);
  EXPECT_FALSE(modem->ServerInSlot());
  EXPECT_EQ(ToHex(modem->TakeOutput()), "10");
  std::string body = request + "\x10\x03";
  body += char(BlockCheck(body));
  modem->Receive(body, now);
  EXPECT_EQ(modem->Stats().outsideSlot, 2) << "after the server acknowledged the end";
}

TEST_F(ModemTest, ModemMessagesAreRetriedAnswersAreNot) {
  struct Row {
    const char* name;
    const char* trigger;
    int naks;              // NAKs to the modem's STX
    const char* expected;  // what finally arrives
  } rows[] = {
      {"version message after two refusals", "2A 57 31", 2, "*V 01.07 0042"},
      {"version message refused three times is lost", "2A 57 31", 3, "*Z11"},
      {"station answer refused once is lost", "60 0C 00 00 00 00 01 01 00 00 00", 1, "(none)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Make();
    SendHex(r.trigger);
    for (int i = 0; i < r.naks; ++i) {
      while (std::exchange(pending, "").empty() && modem->TakeOutput().empty()) {
        ASSERT_NE(modem->NextDeadline(), kNever);
        now = std::max(now, modem->NextDeadline());
        modem->Advance(now);
      }
      modem->Receive("\x15", now);
    }
    const auto tel = Await(milliseconds(600));
    EXPECT_EQ(tel ? *tel : "(none)", r.expected);
  }
}

TEST_F(ModemTest, SilentModemAndItsReturn) {
  ModemOptions o = Options();
  o.upDelay = milliseconds(300);
  Make(o);
  Send("*W1");
  EXPECT_EQ(Await(Duration(0)), "*V 01.07 0042");
  SendHex("60 0C 00 00 00 00 01 01 00 00 00");
  modem->GoSilent();
  modem->Receive("\x02", now);
  EXPECT_EQ(modem->TakeOutput(), "") << "a silent modem does not answer STX";
  EXPECT_EQ(modem->NextDeadline(), kNever) << "nor does it send slots or answers";

  now += milliseconds(1000);
  modem->ComeBack(now);
  EXPECT_EQ(AwaitHex(), "(none)") << "the answer in flight is lost, the slots wait for \"*W1\"";
  SendHex(kCentralQuery);
  const auto tel = Await(Duration(0));
  ASSERT_TRUE(tel);
  EXPECT_EQ(ToHex(tel->substr(8, 2)), "00 00") << "radio layer not up yet";
  now += milliseconds(300);
  SendHex(kCentralQuery);
  const auto up = Await(Duration(0));
  ASSERT_TRUE(up);
  EXPECT_EQ(ToHex(up->substr(8, 2)), "00 01");
}

TEST_F(ModemTest, FindStationByIndexOrName) {
  Make();
  struct Row {
    const char* key;
    const char* name;  // nullptr: none
  } rows[] = {{"1", "Direct"}, {"3", "TwoRelays"}, {"onerelay", "OneRelay"}, {"0", nullptr},
              {"4", nullptr}, {"Nowhere", nullptr}, {"99999999999999999999", nullptr}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.key);
    StationModel* st = modem->FindStation(r.key);
    ASSERT_EQ(st != nullptr, r.name != nullptr);
    if (st) {
      EXPECT_EQ(st->Shape().name, r.name);
    }
  }
}

}  // namespace
}  // namespace radiosim
