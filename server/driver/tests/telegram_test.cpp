#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "server/driver/tests/protocol_fixture.h"

namespace driver {
namespace {

using testing::Bytes;
using testing::Hex;
using testing::ProtocolTest;

using TelegramTest = ProtocolTest;

TEST_F(TelegramTest, RequestToTelegramBytes) {
  struct Row {
    const char* name;
    void (*setup)(ProtocolTest&);
    int32_t us, getKl, getStart, getAnz, putKl, putStart, putAnz;
    const char* tel;
  } rows[] = {
      {"inputs with status word, outputs written whole",
       [](ProtocolTest& t) {
         t.ClientWrite(1, kGroupBA, 0, 1);
         t.ClientWrite(1, kGroupBA, 2, 1);
         t.ClientWrite(1, kGroupAA, 0, 1000);
         t.W(1, kGroupAA, 1).WertInt = 7;
       },
       1, 1, -1, 6, 2, 0, 3, "60 05 00 00 00 00 01 06 01 2C 03 00 05 03 E8 00 07"},
      {"first read of the outputs", nullptr, 1, 2, 0, 3, 0, 0, 0, "60 05 00 00 00 01 2C 03 00 00 00"},
      {"status word always written as 0", [](ProtocolTest& t) { t.ClientWrite(1, kGroupSystem, 4, 5); }, 1, 1, -1,
       6, 1, -1, 1, "60 05 00 00 00 00 01 06 00 01 01 00 00"},
      {"run of analog inputs written",
       [](ProtocolTest& t) {
         t.ClientWrite(1, kGroupAE, 1, 300);
         t.ClientWrite(1, kGroupAE, 2, 0x1010);
       },
       1, 1, -1, 6, 1, 3, 2, "60 05 00 00 00 00 01 06 00 05 02 01 2C 10 10"},
      {"parameters read, one written", [](ProtocolTest& t) { t.ClientWrite(1, kGroupRM, 16, 12); }, 1, 3, 16, 20, 3,
       16, 1, "60 05 00 00 00 03 94 14 03 94 01 00 0C"},
      {"station behind a relay", nullptr, 2, 1, -1, 4, 0, 0, 0, "60 07 09 00 00 00 01 04 00 00 00"},
      {"scaled values, halves to even",
       [](ProtocolTest& t) {
         TWert& a0 = t.W(1, kGroupAA, 0);
         a0.bCalc = true;
         a0.Faktor = 0.5;
         t.ClientWrite(1, kGroupAA, 0, 10.25);
         TWert& a1 = t.W(1, kGroupAA, 1);
         a1.bCalc = true;
         a1.Faktor = 2;
         a1.Offset = 10;
         a1.WertInt = 30;
       },
       1, 1, -1, 6, 2, 1, 2, "60 05 00 00 00 00 01 06 01 2D 02 00 14 00 0A"},
      {"values beyond 16 bits",
       [](ProtocolTest& t) {
         t.ClientWrite(1, kGroupAA, 0, 70000);
         t.ClientWrite(1, kGroupAA, 1, -1);
       },
       1, 1, -1, 6, 2, 1, 2, "60 05 00 00 00 00 01 06 01 2D 02 00 00 FF FF"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    if (r.setup) r.setup(*this);
    Request(r.us, r.getKl, r.getStart, r.getAnz, r.putKl, r.putStart, r.putAnz);
    EXPECT_EQ(Hex(funk->Anfrage.Tel), Hex(Bytes(r.tel)));
    EXPECT_EQ(funk->Anfrage.AF, kAfStation);
  }
}

TEST_F(TelegramTest, OutputWordRegisterTakesTheWordSent) {
  ClientWrite(1, kGroupBA, 9, 1);
  Request(1, 1, -1, 6, 2, 0, 3);
  // Group-0 register 5 + input words (2) + 0 is the first output word.
  EXPECT_TRUE(W(1, kGroupSystem, 7).bWritePending);
  EXPECT_EQ(W(1, kGroupSystem, 7).WriteWert, 0x200);
  EXPECT_FALSE(W(1, kGroupSystem, 5).bWritePending);
}

TEST_F(TelegramTest, CentralModemQuery) {
  struct Row {
    const char* name;
    int32_t pending;  // parameter with a write waiting, -1 none
    const char* tel;
  } rows[] = {
      {"nothing to write", -1, "60 00 00 00 00 03 84 38 03 84 00"},
      {"lowest pending parameter written", 32, "60 00 00 00 00 03 84 38 03 A4 01 00 03"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    BuildNetwork();
    if (r.pending >= 0) {
      ClientWrite(0, kGroupRM, r.pending, 3);
      ClientWrite(0, kGroupRM, 40, 9);
    }
    funk->Anfrage.AF = kAfZfmQuery;
    funk->Anfrage.US = 2;
    funk->Anfrage.Antwort = "old";
    funk->ErzeugeTel();
    const TAnfrage& a = funk->Anfrage;
    EXPECT_EQ(Hex(a.Tel), Hex(Bytes(r.tel)));
    EXPECT_EQ(a.AF, kAfStation);
    EXPECT_EQ(a.US, 0);
    EXPECT_EQ(a.TOindex, 0);
    EXPECT_EQ(a.GetKl, 3);
    EXPECT_EQ(a.GetAnz, 56);
    EXPECT_EQ(a.PutKl, 3);
    EXPECT_EQ(a.PutAnz, r.pending >= 0 ? 1 : 0);
    EXPECT_EQ(a.Antwort, "");
  }
}

TEST_F(TelegramTest, ModeMessageAndNoRequest) {
  funk->Anfrage.AF = kAfModeMessage;
  funk->ErzeugeTel();
  EXPECT_EQ(funk->Anfrage.Tel, "*W1");
  funk->Anfrage.AF = kAfNone;
  funk->ErzeugeTel();
  EXPECT_EQ(funk->Anfrage.Tel, "");
}

TEST_F(TelegramTest, PutRangeCutToWhatATelegramHolds) {
  // A count above one byte would tell the station fewer words than follow.
  Request(1, 1, -1, 6, 2, 0, 300);
  const std::string& tel = funk->Anfrage.Tel;
  EXPECT_EQ(tel.size(), 253u);  // room left for the CRC
  EXPECT_EQ(uint8_t(tel[10]), 121);
  EXPECT_EQ(funk->Anfrage.PutAnz, 121);
}

TEST_F(TelegramTest, TraceLineOfTheRequest) {
  StartLog(3);
  Request(1, 1, -1, 6, 2, 0, 3);
  EXPECT_NE(LogText().find(" CF: ErzeugeTel FM1: Get:1.-1-6, Put:2.0-3"), std::string::npos) << LogText();
}

TEST_F(TelegramTest, RawValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    const char* name;
    bool bFloat, bCalc;
    double faktor, offset;
    int32_t wertInt;
    double wertReal;
    bool pending;
    double writeWert;
    int32_t raw, rawWrite;
  } rows[] = {
      {"integer", false, false, 1, 0, 1234, 0, false, 0, 1234, 1234},
      {"integer beyond 16 bits stays", false, false, 1, 0, 100000, 0, false, 0, 100000, 100000},
      {"float half down to even", true, false, 1, 0, 0, 2.5, false, 0, 2, 2},
      {"float half up to even", true, false, 1, 0, 0, 3.5, false, 0, 4, 4},
      {"scaled integer", false, true, 2, 10, 210, 0, false, 0, 100, 100},
      {"scaled float", true, true, 0.1, 0, 0, 12.3, false, 0, 123, 123},
      {"float beyond 16 bits", true, false, 1, 0, 0, 70000, false, 0, 0, 0},
      {"lowest negative", true, false, 1, 0, 0, -65535, false, 0, -65535, -65535},
      {"below the lowest negative", true, false, 1, 0, 0, -65536, false, 0, 0, 0},
      {"factor 0", false, true, 0, 0, 5, 0, false, 0, 0, 0},
      {"factor 0 on the offset", false, true, 0, 5, 5, 0, false, 0, 0, 0},
      {"not a number", true, false, 1, 0, 0, nan, false, 0, 0, 0},
      {"pending write", false, false, 1, 0, 1, 0, true, 7, 1, 7},
      {"pending scaled write", false, true, 0.5, 0, 4, 0, true, 10.25, 8, 20},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TWert& w = W(1, kGroupAE, 0);
    w.bFloat = r.bFloat;
    w.bCalc = r.bCalc;
    w.Faktor = r.faktor;
    w.Offset = r.offset;
    w.WertInt = r.wertInt;
    w.WertReal = r.wertReal;
    w.bWritePending = r.pending;
    w.WriteWert = r.writeWert;
    EXPECT_EQ(TCustomFunk::GetRawValue(1, kGroupAE, 0), r.raw);
    EXPECT_EQ(TCustomFunk::GetRawWriteValue(1, kGroupAE, 0), r.rawWrite);
  }
}

}  // namespace
}  // namespace driver
