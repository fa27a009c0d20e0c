#include <gtest/gtest.h>

#include "server/driver/fml.h"
#include "server/driver/tests/model_fixture.h"

namespace driver {
namespace {

const std::string kDirect("\x0C\0\0\0", 4);
const std::string kOneRelay("\x03\x0C\0\0", 4);

class TimeoutEstimate : public testing::ModelTest {
 protected:
  // The central modem and outstations with the given address paths.
  void Build(std::initializer_list<std::string> paths) {
    FML = std::make_unique<TFML>();
    FML->Add(std::make_unique<TFuMo>());
    for (const auto& p : paths) {
      auto st = std::make_unique<TFuMo>();
      st->AdrPath = p;
      st->Adr1 = 12;
      TFuMo& ref = *st;
      ref.StationIndex = FML->Add(std::move(st));
    }
  }
};

TEST_F(TimeoutEstimate, StartValueWithoutAnythingLearned) {
  Build({kDirect, kOneRelay});
  Station(1).RegCnt[3] = 10;
  Station(2).RegCnt[3] = 10;
  EXPECT_EQ(Timeoutbestimmung(1, 3), 809);
  EXPECT_EQ(Station(1).Timeout[3], -809);
  EXPECT_EQ(Station(1).Timeout[0], -809);
  EXPECT_EQ(Timeoutbestimmung(2, 3), 1618);  // (629 + 180) * 2 hops
}

TEST_F(TimeoutEstimate, FromTheStationsOwnLearnedTimeouts) {
  Build({kDirect, kOneRelay});
  struct Row {
    const char* name;
    int32_t station;
    std::array<int32_t, 6> timeout, regCnt;
    int32_t t, want;
  } rows[] = {
      {"own index learned", 1, {0, 350, 0, 0, 0, 0}, {}, 1, 350},
      {"more registers", 1, {0, 0, 0, 300, 0, 0}, {0, 20, 0, 10, 0, 0}, 1, 540},
      {"fewer registers", 1, {0, 0, 0, 300, 0, 0}, {0, 5, 0, 10, 0, 0}, 1, 360},
      {"highest index first", 1, {0, 0, 0, 300, 0, 100}, {}, 1, 160},
      {"estimates do not count", 1, {0, -500, 0, -400, -1, 250}, {}, 1, 310},
      {"difference per hop", 2, {0, 0, 0, 300, 0, 0}, {0, 20, 0, 10, 0, 0}, 1, 720},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Station(r.station).Timeout = r.timeout;
    Station(r.station).RegCnt = r.regCnt;
    EXPECT_EQ(Timeoutbestimmung(r.station, r.t), r.want);
    EXPECT_EQ(Station(r.station).Timeout[size_t(r.t)], -r.want);
  }
}

TEST_F(TimeoutEstimate, FromOtherStations) {
  struct Row {
    const char* name;
    std::string self, other;
    int32_t otherTimeout, selfRegs, otherRegs, want;
  } rows[] = {
      {"same hops", kDirect, kDirect, 400, 10, 5, 550},            // 400 + 60 + 18 * 5
      {"same hops, fewer registers", kDirect, kDirect, 400, 3, 5, 460},
      {"other behind a relay", kDirect, kOneRelay, 1000, 0, 0, 620},  // 1000 / 2 + 60, + 60
      {"self behind a relay", kOneRelay, kDirect, 300, 0, 0, 720},    // (300 + 60) * 2
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Build({r.self, r.other});
    Station(1).RegCnt[2] = r.selfRegs;
    Station(2).RegCnt[2] = r.otherRegs;
    Station(2).Timeout[2] = r.otherTimeout;
    EXPECT_EQ(Timeoutbestimmung(1, 2), r.want);
    EXPECT_EQ(Station(1).Timeout[2], -r.want);
    EXPECT_EQ(Station(1).Timeout[0], 0);  // only a start value goes there
  }
}

TEST_F(TimeoutEstimate, FailureGivesSixSecondsAndStoresNothing) {
  StartLog(-1);
  Build({kDirect});
  EXPECT_EQ(Timeoutbestimmung(5, 1), 6000);
  EXPECT_EQ(Timeoutbestimmung(1, 6), 6000);
  EXPECT_EQ(Station(1).Timeout, (std::array<int32_t, 6>{}));
  EXPECT_NE(LogText().find("> FML: Exception in Timeoutbestimmung! US=1(ADR12) TOindex=6<"), std::string::npos)
      << LogText();
  FML.reset();
  EXPECT_EQ(Timeoutbestimmung(1, 1), 6000);
}

TEST_F(TimeoutEstimate, EstimateIsLogged) {
  StartLog(2);
  Build({kDirect});
  Station(1).RegCnt[3] = 10;
  Timeoutbestimmung(1, 3);
  EXPECT_NE(LogText().find("> CF Timeoutbestimmung: US=1 [3] Startwert=809<"), std::string::npos) << LogText();
}

TEST(AdaptTimeout, LearnsFromTheMeasuredTime) {
  struct Row {
    const char* name;
    int32_t before, t, ms, after;
  } rows[] = {
      {"estimate shrinks", -809, 1, 300, 360},
      {"slower than the estimate", -809, 1, 2000, -808},
      {"within the margin", 400, 1, 350, 400},
      {"learned shrinks", 400, 1, 300, 360},
      {"slower than learned", 400, 1, 500, 401},
      {"parameter class forgets", 400, 5, 300, 0},
      {"no time measured", -809, 1, 0, -809},
      {"start index ignored", -809, 0, 300, -809},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TFuMo st;
    st.Timeout[size_t(r.t)] = r.before;
    st.AdaptTimeout(r.t, r.ms);
    EXPECT_EQ(st.Timeout[size_t(r.t)], r.after);
  }
}

}  // namespace
}  // namespace driver
