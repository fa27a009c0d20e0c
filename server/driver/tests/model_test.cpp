#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "platform/clock.h"
#include "platform/filetime.h"
#include "server/driver/fml.h"
#include "server/driver/sys_regs.h"
#include "server/driver/tests/model_fixture.h"

namespace driver {
namespace {

int32_t CountNames(const TFuMo& st, int32_t index, int32_t group, int32_t modus) {
  int32_t n = 0;
  while (!SysRegName(st, index, group, n, modus).empty()) ++n;
  return n;
}

TEST(SysRegName, RegisterCountsPerModeAndTable) {
  struct Row {
    const char* name;
    int32_t station, info0, modus, group0, group5;
  } rows[] = {
      {"central MODUS 0", 0, 0, 0, 1, 15},       {"central MODUS 1", 0, 0, 1, 1, 44},
      {"central MODUS 2", 0, 0, 2, 3, 56},       {"central ignores INFO", 0, 8, 1, 1, 44},
      {"long table", 1, 8, 1, 13, 37},           {"long table MODUS 2", 1, 8 | 1, 2, 13, 37},
      {"long table MODUS 0", 1, 8, 0, 13, 8},    {"short table", 1, 0, 1, 13, 36},
      {"short table MODUS 0", 1, 7, 0, 13, 8},   {"short table MODUS 2", 2, 16, 2, 13, 36},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TFuMo st;
    st.Info[0] = r.info0;
    EXPECT_EQ(CountNames(st, r.station, 0, r.modus), r.group0);
    EXPECT_EQ(CountNames(st, r.station, 5, r.modus), r.group5);
    for (int32_t g = 1; g <= 4; ++g) EXPECT_EQ(CountNames(st, r.station, g, r.modus), 0);
  }
}

TEST(SysRegName, NamesAtTheirIndexes) {
  TFuMo shortTable, longTable;
  longTable.Info[0] = 8;
  struct Row {
    const TFuMo* st;
    int32_t station, group, index, modus;
    const char* name;
  } rows[] = {
      {&shortTable, 0, 0, 0, 1, "RS_STATUS"},
      {&shortTable, 0, 0, 1, 2, "\xA7RS_DCF_TIME"},
      {&shortTable, 0, 0, 2, 2, "\xA7RS_DCF_PCREF"},
      {&shortTable, 0, 5, 16, 1, "&RM_STATNR"},
      {&shortTable, 0, 5, 33, 1, "&RM_QVZ"},
      {&shortTable, 0, 5, 43, 1, "#"},
      {&shortTable, 0, 5, 44, 2, "RM_ZEITSCHLITZE"},
      {&shortTable, 0, 5, 55, 2, "RM_DCF_TIME3"},
      {&shortTable, 0, 5, 14, 0, "RM_RECPOWER"},
      {&shortTable, 3, 0, 0, 1, "&RS_KOM_OK"},
      {&shortTable, 3, 0, 4, 1, "&RS_STATUS"},
      {&shortTable, 3, 0, 12, 1, "#"},
      {&shortTable, 3, 5, 16, 1, "&RM_STATNR"},
      {&shortTable, 3, 5, 19, 1, "&RM_AbtastZeitMW"},
      {&shortTable, 3, 5, 35, 1, "RM_ANZTIMER"},
      {&shortTable, 3, 5, 7, 0, "RM_VERSION"},
      {&longTable, 3, 5, 16, 1, "&RM_STATNR"},
      {&longTable, 3, 5, 17, 1, "&RM_OP_MODE"},
      {&longTable, 3, 5, 36, 1, "&RM_MOP_TIMEOUT"},
      {&longTable, 3, 5, 8, 1, "#"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.station) + ":" + std::to_string(r.group) + "." + std::to_string(r.index));
    EXPECT_EQ(SysRegName(*r.st, r.station, r.group, r.index, r.modus), r.name);
  }
}

TEST(TFuMo, StrayGroupOrIndexGivesSpareWert) {
  TFuMo st;
  TWert w;
  st.AddWert(1, w);
  EXPECT_EQ(&st.GetWert(1, 0), &st.Groups[1][0]);
  for (auto [g, i] : {std::pair{7, 0}, {1, 999}, {1, 1}, {-1, 0}, {1, -1}, {6, 0}})
    EXPECT_EQ(&st.GetWert(g, i), &st.SpareWert) << g << "/" << i;
  EXPECT_EQ(st.RegCount(-1), 0);
  EXPECT_EQ(st.RegCount(1), 1);
  EXPECT_THROW(st.RegCount(6), std::out_of_range);
  EXPECT_THROW(st.AddWert(6, w), std::out_of_range);
  EXPECT_EQ(st.Adr1, -1);
}

TEST(TFML, StationOutsideTheListIsNeverReached) {
  TFML fml;
  fml.Add(std::make_unique<TFuMo>());
  fml.Add(std::make_unique<TFuMo>());
  fml.Items(1).AddWert(0, TWert{});
  EXPECT_EQ(&fml.GetWert(1, 0, 0), &fml.Items(1).Groups[0][0]);
  EXPECT_EQ(&fml.GetWert(1, 0, 5), &fml.Items(1).SpareWert);
  TWert& stray = fml.GetWert(255, 0, 0);
  EXPECT_EQ(&fml.GetWert(-1, 0, 0), &stray);
  EXPECT_EQ(fml.Find(2), nullptr);
  EXPECT_EQ(fml.Find(-1), nullptr);
  EXPECT_THROW(fml.Items(2), std::out_of_range);
}

TEST(InitWert, StartsNotConnectedAtTheCurrentTime) {
  platform::ManualClock clock;
  platform::SetDefaultClock(&clock);
  TWert w;
  w.Name = "x";
  w.Raw = 5;
  w.bWritePending = true;
  InitWert(w);
  platform::SetDefaultClock(nullptr);
  EXPECT_EQ(w.Name, "");
  EXPECT_EQ(w.Raw, 0);
  EXPECT_FALSE(w.bWritePending);
  EXPECT_EQ(w.Faktor, 1.0);
  EXPECT_EQ(w.Quality, 8);
  EXPECT_EQ(w.TimeStamp, platform::ToFileTime(clock.Now()));
}

struct StoreRow {
  const char* name;
  bool calc, isFloat, pending;
  double faktor, offset;
  bool real;  // SetWertReal, else SetWertInt
  double in;
  int32_t wantInt;
  double wantReal;
  int32_t wantRaw, wantQuality;
};

class StoreRules : public ::testing::TestWithParam<StoreRow> {};

TEST_P(StoreRules, ValueRawQualityAndStamp) {
  const StoreRow& r = GetParam();
  TFuMo st;
  TWert w;
  w.bCalc = r.calc;
  w.bFloat = r.isFloat;
  w.Faktor = r.faktor;
  w.Offset = r.offset;
  w.WertReal = -1;  // untouched marker
  w.WertInt = -1;
  w.Raw = -1;
  w.bWritePending = r.pending;
  w.Quality = r.pending ? 0x14 : 8;
  st.AddWert(2, w);
  AnswerTime = platform::U64ToFileTime(0x0123456789ull);
  if (r.real)
    st.SetWertReal(2, 0, r.in, 0xC0);
  else
    st.SetWertInt(2, 0, int32_t(r.in), 0xC0);
  const TWert& got = st.GetWert(2, 0);
  EXPECT_EQ(got.WertInt, r.wantInt);
  EXPECT_DOUBLE_EQ(got.WertReal, r.wantReal);
  EXPECT_EQ(got.Raw, r.wantRaw);
  EXPECT_EQ(got.Quality, r.wantQuality);
  EXPECT_EQ(got.TimeStamp, AnswerTime);
  StartStationUnit();
  EXPECT_EQ(platform::FileTimeToU64(AnswerTime), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    TFuMo, StoreRules,
    ::testing::Values(
        StoreRow{"RealHalfDown", false, false, false, 1, 0, true, 2.5, 2, -1, 0, 0xC0},
        StoreRow{"RealHalfUp", false, false, false, 1, 0, true, 3.5, 4, -1, 0, 0xC0},
        StoreRow{"RealNegativeHalf", false, false, false, 1, 0, true, -2.5, -2, -1, 0, 0xC0},
        StoreRow{"RealIntoFloat", false, true, false, 1, 0, true, 2.25, -1, 2.25, 0, 0xC0},
        StoreRow{"RealScaled", true, false, false, 2, 1, true, 1.25, 4, 3.5, 0, 0xC0},
        StoreRow{"IntScaled", true, false, false, 2, 10, false, 100, 210, 210, 100, 0xC0},
        StoreRow{"IntScaledHalfEven", true, false, false, 0.5, 0, false, 5, 2, 2.5, 5, 0xC0},
        StoreRow{"IntScaledFloat", true, true, false, 0.1, 0, false, 7, -1, 0.7, 7, 0xC0},
        StoreRow{"IntPlain", false, false, false, 1, 0, false, -7, -7, -1, -7, 0xC0},
        StoreRow{"IntIntoFloat", false, true, false, 1, 0, false, 9, -1, 9, 9, 0xC0},
        StoreRow{"PendingKeepsQuality", false, false, true, 1, 0, false, 3, 3, -1, 3, 0x14}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TFuMo, ValueBeyond32BitsIsNotStored) {
  TFuMo st;
  TWert w;
  w.bCalc = true;
  w.Faktor = 30000;
  w.WertInt = 5;
  st.AddWert(1, w);
  st.AddWert(1, TWert{});
  EXPECT_THROW(st.SetWertInt(1, 0, 100000, 0xC0), std::range_error);
  EXPECT_THROW(st.SetWertReal(1, 1, 1e10, 0xC0), std::range_error);
  EXPECT_THROW(st.SetWertReal(1, 1, std::numeric_limits<double>::quiet_NaN(), 0xC0), std::range_error);
  EXPECT_EQ(st.GetWert(1, 0).WertInt, 5);
  EXPECT_EQ(st.GetWert(1, 0).Quality, 8);
  EXPECT_EQ(st.GetWert(1, 1).Quality, 8);
  EXPECT_NO_THROW(st.SetWertReal(1, 1, 2147483647.0, 0xC0));
  EXPECT_EQ(st.GetWert(1, 1).WertInt, INT32_MAX);
}

TEST(TFuMo, SetWriteRawScalesAndMarksPending) {
  TFuMo st;
  TWert plain, scaled;
  scaled.bCalc = true;
  scaled.Faktor = 0.5;
  scaled.Offset = 3;
  st.AddWert(4, plain);
  st.AddWert(4, scaled);
  st.SetWriteRaw(4, 0, 1, 0x14);
  st.SetWriteRaw(4, 1, 8, 0x14);
  EXPECT_EQ(st.GetWert(4, 0).WriteWert, 1.0);
  EXPECT_EQ(st.GetWert(4, 1).WriteWert, 7.0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(st.GetWert(4, i).bWritePending);
    EXPECT_EQ(st.GetWert(4, i).Quality, 0x14);
  }
}

TEST(Model, BitWordCountAndHops) {
  for (auto [n, words] : {std::pair{0, 0}, {1, 1}, {16, 1}, {17, 2}, {128, 8}, {130, 9}})
    EXPECT_EQ(BitWordCount(n), words) << n;
  struct Row {
    std::string path;
    int32_t hops;
  } rows[] = {{std::string("\x0C\0\0\0", 4), 1},     {std::string("\x03\x0C\0\0", 4), 2},
              {std::string("\x05\x07\x28\0", 4), 3}, {std::string(4, '\0'), 1},
              {std::string("\x01\x02\x03\x04", 4), 1}};
  for (const auto& r : rows) {
    TFuMo st;
    st.AdrPath = r.path;
    EXPECT_EQ(st.Hops(), r.hops);
  }
}

class StationListLog : public testing::ModelTest {};

TEST_F(StationListLog, DestroyLinesUnderTheirBits) {
  StartLog(5);
  FML = std::make_unique<TFML>();
  FML->Add(std::make_unique<TFuMo>());
  FML->Add(std::make_unique<TFuMo>());
  EXPECT_EQ(AdrText(1), "(ADR-1)");
  EXPECT_EQ(AdrText(2), "");
  FML.reset();
  std::string log = LogText();
  EXPECT_NE(log.find(">FML: Destroy<"), std::string::npos) << log;
  EXPECT_NE(log.find("FML: Destroy, Nr(Anz)=1(2)"), std::string::npos);
  EXPECT_NE(log.find("FML: Destroy, Nr(Anz)=2(2)"), std::string::npos);
}

}  // namespace
}  // namespace driver
