#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "server/driver/options.h"
#include "server/driver/tests/protocol_fixture.h"

namespace driver {
namespace {

using testing::Bytes;
using testing::Hex;

class AnswerTest : public testing::ProtocolTest {
 public:
  // The answer as the line procedure leaves it, then processed as in a time slot.
  bool Answer(const std::string& hex, bool expected = true) {
    funk->Anfrage.Antwort = Bytes(hex);
    return funk->VerarbeiteAntwortTelegramm(funk->Anfrage, expected);
  }
  // Text appended to a file since the mark.
  static std::string Since(const std::string& text, size_t mark) { return mark <= text.size() ? text.substr(mark) : ""; }
};

// Station 1's input request: status word, two words of binary inputs, three analog inputs.
constexpr const char* kInputHeader = "E0 00 05 00 00 00 01 06 ";

struct Expect {
  int32_t group, index, value;
};

TEST_F(AnswerTest, AnswerToRegisterImage) {
  struct Row {
    const char* name;
    int32_t getKl, getStart, getAnz;
    const char* answer;
    std::vector<Expect> values;
    bool wantOutputs;  // the status word asks for the outputs to be written again
  } rows[] = {
      {"inputs",
       1,
       -1,
       6,
       "E0 00 05 00 00 00 01 06  00 00  80 01  00 0A  01 23  0F FF  00 00",
       {{2, 0, 1},  {2, 1, 0},   {2, 15, 1}, {2, 16, 0}, {2, 17, 1}, {2, 18, 0},   {2, 19, 1},
        {0, 5, 0x8001}, {0, 6, 0x000A}, {1, 0, 0x123}, {1, 1, 0xFFF}, {1, 2, 0}, {0, 4, 0}},
       false},
      {"status word set", 1, -1, 6, "E0 00 05 00 00 00 01 06  00 04  00 00  00 00  00 00  00 00  00 00", {{0, 4, 4}},
       true},
      {"outputs: word after the input words",
       2,
       0,
       3,
       "E0 00 05 00 00 01 2C 03  02 05  12 34  10 10",
       {{4, 0, 1}, {4, 1, 0}, {4, 2, 1}, {4, 9, 1}, {0, 7, 0x0205}, {3, 0, 0x1234}, {3, 1, 0x1010}},
       false},
      {"parameters from register 30", 3, 30, 2, "E0 00 05 00 00 03 A2 02  00 07  00 08", {{5, 30, 7}, {5, 31, 8}},
       false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    Request(1, r.getKl, r.getStart, r.getAnz);
    funk->Anfrage.AntwortMs = 250;
    funk->Anfrage.TOindex = 3;
    EXPECT_TRUE(Answer(r.answer));
    for (const auto& e : r.values) {
      SCOPED_TRACE(std::to_string(e.group) + "." + std::to_string(e.index));
      const TWert& w = W(1, e.group, e.index);
      EXPECT_EQ(w.WertInt, e.value);
      EXPECT_EQ(w.Quality, kQualityGood);
      EXPECT_EQ(w.TimeStamp, NowFileTime());
      if (e.group != 0 && e.group != 2 && e.group != 4) {
        EXPECT_EQ(w.Raw, e.value);
      }
    }
    TFuMo& st = FML->Items(1);
    EXPECT_EQ(st.bWantWr[2].load(), r.wantOutputs);
    EXPECT_EQ(W(1, 0, 0).WertInt, 1);                   // RS_KOM_OK
    EXPECT_EQ(W(1, 0, 1).WertInt, r.getKl == 1 ? 1 : 0);  // RS_KOM_OK_INP
    EXPECT_EQ(W(1, 0, 2).WertInt, 0);                   // RS_KOM_FAIL
    EXPECT_EQ(W(1, 0, 3).WertInt, 250);                 // RS_RESPTIME
    EXPECT_EQ(st.Timeout[3], 1);                        // learning has begun
    EXPECT_TRUE(st.bDoneRd[size_t(r.getKl)].load());
    EXPECT_EQ(st.LastGetClass, r.getKl);
    EXPECT_TRUE(st.bStateDirty);
    EXPECT_EQ(funk->Anfrage.AF, kAfNone);
    EXPECT_EQ(funk->Anfrage.Antwort, "");
  }
}

TEST_F(AnswerTest, WrongHeaderPositions) {
  StartLog(-1);
  TraceOn();
  struct Row {
    const char* name;
    const char* header;  // the first 8 bytes; the data follows when length is right
    int32_t dataBytes;
    int32_t pos;  // 0: accepted
  } rows[] = {
      {"good", "E0 00 05 00 00 00 01 06", 12, 0},
      {"byte 2 is not compared", "E0 33 05 00 00 00 01 06", 12, 0},
      {"byte 1 without bit 7 of the request's", "E1 00 05 00 00 00 01 06", 12, 1},
      {"byte 3: first address byte (no trace)", "E0 00 06 00 00 00 01 06", 12, 3},
      {"byte 4", "E0 00 05 01 00 00 01 06", 12, 4},
      {"byte 5", "E0 00 05 00 01 00 01 06", 12, 5},
      {"byte 6", "E0 00 05 00 00 01 01 06", 12, 6},
      {"byte 7", "E0 00 05 00 00 00 02 06", 12, 7},
      {"byte 8: count", "E0 00 05 00 00 00 01 07", 12, 8},
      {"one data byte short", "E0 00 05 00 00 00 01 06", 11, 19},
      {"bytes 1 and 4: the later check names it", "E1 00 05 01 00 00 01 06", 12, 4},
      {"bytes 5 and 3: compared from 5 down", "E0 00 06 00 01 00 01 06", 12, 3},
      {"three bytes: its length", "E0 00 05", 0, 3},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    Request(1, 1, -1, 6);
    const std::string answer = Bytes(r.header) + std::string(size_t(r.dataBytes), '\x01');
    const size_t logMark = LogText().size(), traceMark = Trace().size();
    funk->Anfrage.Antwort = answer;
    EXPECT_EQ(funk->VerarbeiteAntwortTelegramm(funk->Anfrage, true), r.pos == 0);
    EXPECT_EQ(W(1, kGroupAE, 0).Quality, r.pos == 0 ? kQualityGood : kQualityNotConnected);
    EXPECT_EQ(funk->Anfrage.AF, kAfNone);
    EXPECT_EQ(funk->Anfrage.Antwort, "");
    const std::string log = Since(LogText(), logMark), trace = Since(Trace(), traceMark);
    if (r.pos == 0) {
      EXPECT_EQ(log.find("Wrong AntwortHeader"), std::string::npos) << log;
      EXPECT_EQ(trace, "");
      continue;
    }
    EXPECT_NE(log.find("CF Wrong AntwortHeader an Pos" + std::to_string(r.pos) + ": "), std::string::npos) << log;
    EXPECT_EQ(trace.find("Tel.ung\xFCltig: Pos=" + std::to_string(r.pos) + "\r\n") != std::string::npos, r.pos != 3)
        << trace;
  }
  // The whole line: both headers as hex dumps.
  EXPECT_NE(LogText().find("CF Wrong AntwortHeader an Pos1: E1 00 05 00 00 00 01 06  / 60 05 00 00 00 00 01 06 "),
            std::string::npos);
}

TEST_F(AnswerTest, EmptyAnswer) {
  W(1, kGroupSystem, 2).WertInt = 2;
  Request(1, 1, -1, 6);
  EXPECT_TRUE(Answer("E0 00 05 00 00"));
  EXPECT_EQ(W(1, kGroupSystem, 2).WertInt, 3);   // RS_KOM_FAIL
  EXPECT_EQ(W(1, kGroupSystem, 4).WertInt, -1);  // RS_STATUS
  EXPECT_EQ(W(1, kGroupSystem, 0).WertInt, 0);   // no good answer counted
  EXPECT_EQ(funk->Anfrage.AF, kAfNone);

  // Five bytes from another station is a wrong header, not an empty answer.
  Request(1, 1, -1, 6);
  EXPECT_FALSE(Answer("E0 00 06 00 00"));
  EXPECT_EQ(W(1, kGroupSystem, 2).WertInt, 3);
}

TEST_F(AnswerTest, MissingAnswer) {
  struct Row {
    const char* name;
    int32_t us;
    bool expected;
    int32_t af, sendeErg, hz;
    int32_t failAfter, afAfter;
  } rows[] = {
      {"station request sent", 1, true, kAfStation, 0, 0, 3, kAfNone},
      {"auxiliary cycle counts no failure", 1, true, kAfStation, 0, 1, 2, kAfNone},
      {"no answer expected", 1, false, kAfStation, 0, 0, 2, kAfStation},
      {"the send failed", 1, true, kAfStation, -1, 0, 2, kAfStation},
      {"mode message", 1, true, kAfModeMessage, 0, 0, 2, kAfModeMessage},
      // Register 2 of the central modem is no fail counter (in MODUS 2 the PC reference time).
      {"central modem", 0, true, kAfStation, 0, 0, 2, kAfNone},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    W(r.us, kGroupSystem, 2).WertInt = 2;
    W(r.us, kGroupSystem, 2).WertReal = 2;  // the central modem's is a double
    funk->HZ = r.hz;
    funk->Anfrage.US = r.us;
    funk->Anfrage.AF = r.af;
    funk->Anfrage.SendeErg = r.sendeErg;
    EXPECT_TRUE(funk->VerarbeiteAntwortTelegramm(funk->Anfrage, r.expected));
    EXPECT_EQ(TCustomFunk::GetRawValue(r.us, kGroupSystem, 2), r.failAfter);
    EXPECT_EQ(funk->Anfrage.AF, r.afAfter);
  }
}

TEST_F(AnswerTest, ImplausibleAnalogJumpBlocksOnce) {
  TraceOn();
  struct Step {
    const char* value;  // AE0 in the answer
    int32_t stored, sperre;
    const char* trace;  // "" none
  } steps[] = {
      {"10 00", 0x1000, 0, ""},
      {"19 00", 0x1000, 3, "Analog? Adr=5.An0: 1900/1000  Sperre=0"},
      {"19 00", 0x1900, 2, "Analog? Adr=5.An0: 1900/1000  Sperre=3"},
      {"10 00", 0x1000, 1, "Analog? Adr=5.An0: 1000/1900  Sperre=2"},
      {"10 01", 0x1001, 0, ""},
      {"19 02", 0x1001, 3, "Analog? Adr=5.An0: 1902/1001  Sperre=0"},
      {"01 00", 0x0100, 2, ""},  // not above 4095: never blocked
  };
  int n = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE("step " + std::to_string(++n));
    Request(1, 1, -1, 6);
    const size_t mark = Trace().size();
    // The binary inputs of a refused answer are not stored either.
    EXPECT_TRUE(Answer(std::string(kInputHeader) + "00 00 00 0" + std::to_string(n % 2) + " 00 00 " + s.value +
                       " 00 00 00 00"));
    EXPECT_EQ(W(1, kGroupAE, 0).WertInt, s.stored);
    EXPECT_EQ(FML->Items(1).Sperre, s.sperre);
    const bool refused = s.stored != std::stoi(std::string(s.value).erase(2, 1), nullptr, 16);
    if (!refused) {
      EXPECT_EQ(W(1, kGroupBE, 0).WertInt, n % 2);
    }
    const std::string trace = Since(Trace(), mark);
    if (*s.trace)
      EXPECT_NE(trace.find(s.trace), std::string::npos) << trace;
    else
      EXPECT_EQ(trace, "");
  }

  // A station with "RE" channels is never checked.
  BuildNetwork();
  FML->Items(1).bRE = true;
  W(1, kGroupAE, 0).Raw = 0x1000;
  Request(1, 1, -1, 6);
  EXPECT_TRUE(Answer(std::string(kInputHeader) + "00 00 00 00 00 00 19 00 00 00 00 00"));
  EXPECT_EQ(W(1, kGroupAE, 0).WertInt, 0x1900);
}

TEST_F(AnswerTest, WriteConfirmation) {
  struct Row {
    const char* name;
    bool permanent;
    int32_t raw;  // Raw of the scaled output after the confirmation
  } rows[] = {
      {"without PERMANENTDATEN the raw value stays", false, 99},
      {"with PERMANENTDATEN the raw value follows", true, 20},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    Options.PERMANENTDATEN = r.permanent;
    TWert& aa = W(1, kGroupAA, 0);
    aa.bCalc = true;
    aa.Faktor = 0.5;
    aa.Raw = 99;
    ClientWrite(1, kGroupAA, 0, 10.25);
    ClientWrite(1, kGroupBA, 0, 1);
    FML->Items(1).bWantWr[2] = true;
    Request(1, 1, -1, 6, 2, 0, 3);
    ASSERT_EQ(Hex(funk->Anfrage.Tel.substr(11)), "00 01 00 14 00 00");
    EXPECT_TRUE(Answer(std::string(kInputHeader) + "00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_FALSE(aa.bWritePending);
    EXPECT_EQ(aa.WertInt, 10);
    EXPECT_EQ(aa.Raw, r.raw);
    EXPECT_EQ(aa.Quality, kQualityGood);
    EXPECT_EQ(aa.TimeStamp, NowFileTime());
    EXPECT_EQ(W(1, kGroupBA, 0).WertInt, 1);
    EXPECT_EQ(W(1, kGroupBA, 0).Quality, kQualityGood);
    EXPECT_EQ(W(1, kGroupBA, 1).Quality, kQualityNotConnected);  // nothing was written to it
    EXPECT_EQ(W(1, kGroupSystem, 7).WertInt, 1);                 // the output word as sent
    EXPECT_FALSE(W(1, kGroupSystem, 7).bWritePending);
    EXPECT_FALSE(FML->Items(1).bWantWr[2].load());
    EXPECT_EQ(FML->Items(1).LastPutClass, 2);
  }
}

TEST_F(AnswerTest, InputClassWritesStillWaitingKeepTheirWish) {
  ClientWrite(1, kGroupAE, 1, 300);
  ClientWrite(1, kGroupAE, 2, 400);
  ClientWrite(1, kGroupSystem, 4, 5);
  FML->Items(1).bWantWr[1] = true;
  Request(1, 1, -1, 6, 1, 3, 1);  // AE1 only
  EXPECT_TRUE(Answer(std::string(kInputHeader) + "00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_FALSE(W(1, kGroupAE, 1).bWritePending);
  EXPECT_TRUE(W(1, kGroupAE, 2).bWritePending);
  EXPECT_TRUE(FML->Items(1).bWantWr[1].load());

  // The status word is sent as 0 and confirmed with the value written.
  Request(1, 1, -1, 6, 1, -1, 1);
  EXPECT_EQ(Hex(funk->Anfrage.Tel.substr(11)), "00 00");
  EXPECT_TRUE(Answer(std::string(kInputHeader) + "00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_FALSE(W(1, kGroupSystem, 4).bWritePending);
  EXPECT_EQ(W(1, kGroupSystem, 4).WertInt, 5);
  EXPECT_EQ(W(1, kGroupSystem, 4).Quality, kQualityGood);
}

TEST_F(AnswerTest, WriteArrivingDuringTheExchangeIsNotLost) {
  ClientWrite(1, kGroupAA, 0, 100);
  ClientWrite(1, kGroupAA, 1, 7);
  Request(1, 1, -1, 6, 2, 0, 3);
  // While the telegram is on its way, a client writes again and switches an output.
  ClientWrite(1, kGroupAA, 0, 200);
  ClientWrite(1, kGroupAA, 1, 7);
  ClientWrite(1, kGroupBA, 3, 1);
  EXPECT_TRUE(Answer(std::string(kInputHeader) + "00 00 00 00 00 00 00 00 00 00 00 00"));

  EXPECT_TRUE(W(1, kGroupAA, 0).bWritePending);
  EXPECT_EQ(W(1, kGroupAA, 0).Quality, kQualityLastKnown);
  EXPECT_FALSE(W(1, kGroupAA, 1).bWritePending);  // the same value again: sent, confirmed
  EXPECT_EQ(W(1, kGroupAA, 1).WertInt, 7);
  EXPECT_TRUE(W(1, kGroupBA, 3).bWritePending);
  EXPECT_TRUE(FML->Items(1).bWantWr[2].load());

  Request(1, 1, -1, 6, 2, 0, 3);
  EXPECT_EQ(Hex(funk->Anfrage.Tel.substr(11)), "00 08 00 C8 00 07");
  EXPECT_TRUE(Answer(std::string(kInputHeader) + "00 00 00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(W(1, kGroupAA, 0).WertInt, 200);
  EXPECT_EQ(W(1, kGroupBA, 3).WertInt, 1);
  EXPECT_FALSE(FML->Items(1).bWantWr[2].load());
}

std::string CentralAnswer(uint16_t t1 = 0, uint16_t t2 = 0, uint16_t t3 = 0) {
  std::string a = Bytes("E0 00 00 00 00 03 84 38");
  for (int i = 0; i < 56; ++i) {
    uint16_t v = i == 53 ? t1 : i == 54 ? t2 : i == 55 ? t3 : uint16_t(i + 1);
    a += char(v >> 8);
    a += char(v & 0xFF);
  }
  return a;
}

TEST_F(AnswerTest, CentralModemAnswer) {
  StartLog(2);
  funk->Anfrage.AF = kAfZfmQuery;
  funk->ErzeugeTel();
  funk->Anfrage.Antwort = CentralAnswer();
  // Detection expects no answer: the central modem's is recognised by its header.
  EXPECT_TRUE(funk->VerarbeiteAntwortTelegramm(funk->Anfrage, false));
  EXPECT_EQ(W(0, kGroupRM, 0).WertInt, 1);  // RM_FUNKLAYER
  EXPECT_EQ(W(0, kGroupRM, 7).WertInt, 8);  // RM_VERSION
  EXPECT_EQ(W(0, kGroupRM, 7).Quality, kQualityGood);
  EXPECT_EQ(funk->Anfrage.AF, kAfNone);
  EXPECT_TRUE(FML->Items(0).bDoneRd[3].load());
  EXPECT_NE(LogText().find("CF ZFM: Antwort verarbeitet"), std::string::npos);
}

// The central modem's answer that comes while a station request is current (the query went out
// just before a slot began) is the modem's own: it lands in the central modem, never in the
// station, and the station's request stays to be sent. Without a query out it is dropped.
TEST_F(AnswerTest, CentralModemAnswerDuringAStationRequest) {
  struct Row {
    const char* name;
    bool queried, expected;
    bool result;  // false: the station's own answer may still come
  } rows[] = {
      {"pre-read of a slot", true, false, true},
      {"instead of the station's answer", true, true, false},
      {"no query out", false, false, true},
      {"no query out, answer expected", false, true, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    if (r.queried) {
      funk->Anfrage.AF = kAfZfmQuery;
      funk->ErzeugeTel();
    }
    Request(1, 1, -1, 56);  // a station request of the same length
    const std::string tel = funk->Anfrage.Tel;
    funk->Anfrage.Antwort = CentralAnswer();
    EXPECT_EQ(funk->VerarbeiteAntwortTelegramm(funk->Anfrage, r.expected), r.result);
    EXPECT_EQ(W(1, kGroupAE, 0).Quality, kQualityNotConnected);
    EXPECT_EQ(W(1, kGroupBE, 0).Quality, kQualityNotConnected);
    EXPECT_EQ(W(0, kGroupRM, 0).Quality, r.queried ? kQualityGood : kQualityNotConnected);
    if (r.queried) {
      EXPECT_EQ(funk->Anfrage.AF, kAfStation) << "the station's request was dropped";
      EXPECT_EQ(funk->Anfrage.Tel, tel);
    }
  }
}

class DcfTest : public AnswerTest {
 public:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_tz_ = tz ? tz : "";
    had_tz_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
    AnswerTest::SetUp();
  }
  void TearDown() override {
    AnswerTest::TearDown();
    if (had_tz_)
      setenv("TZ", saved_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  void Reading(uint16_t t1, uint16_t t2, uint16_t t3) {
    funk->Anfrage.AF = kAfZfmQuery;
    funk->ErzeugeTel();
    funk->Anfrage.Antwort = CentralAnswer(t1, t2, t3);
    funk->Anfrage.EmpfTel = "frame";
    funk->VerarbeiteAntwortTelegramm(funk->Anfrage, false);
  }

 private:
  std::string saved_tz_;
  bool had_tz_ = false;
};

TEST_F(DcfTest, ClockTimeOfTheCentralModem) {
  TraceOn();
  struct Row {
    const char* name;
    uint16_t p1, p2, p3;  // previous reading; p2 = 0: none
    uint16_t t1, t2, t3;
    int32_t quality;  // of RS_DCF_TIME afterwards
    int32_t dcfDay;
  } rows[] = {
      {"same day", 0x2403, 0x1512, 0x3045, 0x2403, 0x1512, 0x3100, kQualityGood, 15},
      {"next day", 0x2403, 0x1523, 0x5959, 0x2403, 0x1600, 0x0000, kQualityGood, 16},
      {"month end to the first", 0x2403, 0x3123, 0x5959, 0x2404, 0x0100, 0x0000, kQualityGood, 1},
      {"year end", 0x2412, 0x3123, 0x5959, 0x2501, 0x0100, 0x0000, kQualityGood, 1},
      {"29 February of a leap year", 0x2402, 0x2812, 0, 0x2402, 0x2912, 0, kQualityGood, 29},
      {"last year allowed", 0x3801, 0x0512, 0, 0x3801, 0x0512, 0, kQualityGood, 5},
      {"two days on", 0x2403, 0x1512, 0, 0x2403, 0x1712, 0, kQualityLastKnown, 17},
      {"a day back", 0x2403, 0x1512, 0, 0x2403, 0x1412, 0, kQualityLastKnown, 14},
      {"two months on", 0x2403, 0x1512, 0, 0x2405, 0x1512, 0, kQualityLastKnown, 15},
      {"two years on", 0x2403, 0x1512, 0, 0x2603, 0x1512, 0, kQualityLastKnown, 15},
      {"a year back", 0x2403, 0x1512, 0, 0x2303, 0x1512, 0, kQualityLastKnown, 15},
      {"month 13", 0x2412, 0x1512, 0, 0x2413, 0x1512, 0, kQualityLastKnown, 15},
      {"hour 24", 0x2403, 0x1512, 0, 0x2403, 0x1524, 0, kQualityLastKnown, 15},
      {"minute 60", 0x2403, 0x1512, 0, 0x2403, 0x1512, 0x6000, kQualityLastKnown, 15},
      {"year 2001", 0x0103, 0x1512, 0, 0x0103, 0x1512, 0, kQualityLastKnown, 15},
      {"year 2039", 0x3903, 0x1512, 0, 0x3903, 0x1512, 0, kQualityLastKnown, 15},
      {"31 April", 0x2404, 0x3012, 0, 0x2404, 0x3112, 0, kQualityLastKnown, 31},
      {"day 0 changes nothing", 0x2403, 0x1512, 0, 0x2403, 0x0012, 0, kQualityNotConnected, 15},
      {"first reading is only remembered", 0, 0, 0, 0x2403, 0x1512, 0, kQualityNotConnected, 15},
      {"first reading invalid", 0, 0, 0, 0x2413, 0x1512, 0, kQualityLastKnown, 15},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    if (r.p2 != 0) Reading(r.p1, r.p2, r.p3);
    const size_t mark = Trace().size();
    Reading(r.t1, r.t2, r.t3);
    EXPECT_EQ(W(0, kGroupSystem, 1).Quality, r.quality);
    EXPECT_EQ(funk->DcfDay, r.dcfDay);
    const bool invalid = r.quality == kQualityLastKnown;
    EXPECT_EQ(Since(Trace(), mark).find("  DCF-Zeitangabe=") != std::string::npos, invalid);
  }

  // The stored values: the modem's time and the server's, as days since 30.12.1899.
  BuildNetwork();
  Reading(0x2403, 0x1512, 0x3045);
  const size_t mark = Trace().size();
  Reading(0x2403, 0x1512, 0x3100);
  EXPECT_DOUBLE_EQ(W(0, kGroupSystem, 1).WertReal, 45366.0 + (12 * 3600 + 31 * 60) / 86400.0);
  EXPECT_DOUBLE_EQ(W(0, kGroupSystem, 2).WertReal, 45244.0 + 80000 / 86400.0);  // 14.11.2023 22:13:20
  EXPECT_EQ(W(0, kGroupSystem, 2).Quality, kQualityGood);
  EXPECT_EQ(Since(Trace(), mark), "");
  Reading(0x2403, 0x1712, 0x0509);
  EXPECT_NE(Trace().find("  DCF-Zeitangabe=17.3.2024  12:5:9  zuletzt=15.3.2024\r\n"), std::string::npos) << Trace();
}

TEST_F(AnswerTest, ModemMessages) {
  StartLog(-1);
  struct Row {
    const char* answer;
    int32_t version, id, zs;
  } rows[] = {
      {"*V 12.34 5678", 1234, 5678, 7},
      {"*V1234.5678", 1234, 5678, 7},
      {"*V12345", 0, 0, 7},
      {"*VAB34 5678", 0, 5678, 7},
      {"*Z51", -1, -1, 5},
      {"*Z1", -1, -1, 1},
      {"*Z50", -1, -1, -1},
      {"*Z:1", -1, -1, 10},
      {"*ZZ", -1, -1, -1},
      {"*X1", -1, -1, 7},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.answer);
    BuildNetwork();
    funk->ZS = 7;
    W(0, kGroupRM, 7).WertInt = -1;
    W(0, kGroupRM, 6).WertInt = -1;
    funk->Anfrage.Antwort = r.answer;
    EXPECT_TRUE(funk->VerarbeiteAntwortTelegramm(funk->Anfrage, false));
    EXPECT_EQ(W(0, kGroupRM, 7).WertInt, r.version);
    EXPECT_EQ(W(0, kGroupRM, 6).WertInt, r.id);
    EXPECT_EQ(funk->ZS, r.zs);
    EXPECT_EQ(funk->Anfrage.Antwort, "");
  }
  EXPECT_NE(LogText().find("CF Wrong ZFM-Telegramm *X1"), std::string::npos);

  funk->Anfrage.Antwort = "AB";
  EXPECT_TRUE(funk->VerarbeiteAntwortTelegramm(funk->Anfrage, true));
  EXPECT_NE(LogText().find("CF Wrong StartChar:41 42 "), std::string::npos);
}

TEST_F(AnswerTest, ShortAnswerIsNeverReadPastItsEnd) {
  StartLog(-1);
  Request(1, 1, -1, 6);
  funk->Anfrage.Antwort = Bytes(std::string(kInputHeader) + "00 00 00");
  funk->ExtractRegisterB(funk->Anfrage);
  EXPECT_EQ(W(1, kGroupBE, 0).Quality, kQualityNotConnected);
  EXPECT_NE(LogText().find("CF: ExtractRegisterB: Exception "), std::string::npos);
  EXPECT_NE(LogText().find(" iReg=2"), std::string::npos);
}

}  // namespace
}  // namespace driver
