// The Ostrel.INI this configurator writes, loaded by the server's configuration loader.
#include <gtest/gtest.h>

#include "configurator/tests/fixture.h"
#include "server/driver/config_loader.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"

namespace configurator {
namespace {

class ServerIniTest : public testing::ConfiguratorTest {
 protected:
  void SetUp() override {
    driver::ServerDir = dir.Path();
    driver::ResetOptions();
    driver::FML.reset();
    driver::FatalErrorCode = 0;
  }
  void TearDown() override {
    driver::FML.reset();
    driver::ServerDir.clear();
    driver::ResetOptions();
  }
};

TEST_F(ServerIniTest, TheServerSeesTheProjectsNetwork) {
  BuildSampleProject();
  project->ProjectPath = "Anlage";
  ASSERT_TRUE(project->WriteServerIni());
  ASSERT_EQ(driver::CreateFML(), 0);
  EXPECT_EQ(driver::Options.MODUS, 1);

  // The relay station Pumpwerk is written only for the configurator: the server does not poll it.
  struct Station {
    const char* name;
    const char* type;
    int32_t adr1, adr2, adr3;
    std::string path;
    int32_t info0, info1;
    bool onlineCheck;
    int32_t extraWait;
  } stations[] = {
      {"Zentrale S\xFC" "d", "MoP-Modem", -1, -1, -1, std::string(4, '\0'), 0, 0, false, 0},
      {"\xC4rztehaus", "RM-Kompakt", 7, 0, 0, std::string("\x07\0\0\0", 4), 9, 2, false, 0},
      {"Brunnen", "RM-Kompakt", 3, 0, 0, std::string("\x03\0\0\0", 4), 9, 2, true, 120},
      {"Hochbeh\xE4lter", "RM-Kompakt", 12, 3, 0, std::string("\x03\x0C\0\0", 4), 9, 2, false, 0},
      {"\xD6lm\xFChle", "RM-Gro\xDF", 41, 3, 12, std::string("\x03\x0C\x29\0", 4), 1, 0, false, 0},
      {"Wei\xDF" "enbach", "RM-Kompakt", 40, 3, 12, std::string("\x03\x0C\x28\0", 4), 9, 2, false, 0},
  };
  ASSERT_EQ(driver::FML->Count(), int32_t(std::size(stations)));
  for (int32_t i = 0; i < driver::FML->Count(); ++i) {
    const Station& want = stations[i];
    SCOPED_TRACE(want.name);
    driver::TFuMo& st = driver::FML->Items(i);
    EXPECT_EQ(st.StationName, want.name);
    EXPECT_EQ(st.TypeName, want.type);
    EXPECT_EQ(st.Adr1, want.adr1);
    EXPECT_EQ(st.Adr2, want.adr2);
    EXPECT_EQ(st.Adr3, want.adr3);
    EXPECT_EQ(st.GetAdrPath(), want.path);
    EXPECT_EQ(st.Info[0], want.info0);
    EXPECT_EQ(st.Info[1], want.info1);
    EXPECT_EQ(st.bOnlineCheck, want.onlineCheck);
    EXPECT_EQ(st.ExtraWait, want.extraWait);
  }

  // Brunnen's channels: each kind in its group, scaled only where factor and offset ask for it.
  struct Channel {
    int32_t group, index;
    const char* name;
    const char* unit;
    double faktor, offset;
    int32_t nks;
    bool calc, isFloat;
  } channels[] = {
      {driver::kGroupAA, 0, "AO1", "", 0, 0, 0, false, false},
      {driver::kGroupAE, 0, "Pegel", "m", 0.1, 0, 2, true, true},
      {driver::kGroupAE, 1, "Temperatur", "\xB0" "C", 0.1, -50, 1, true, true},
      {driver::kGroupBA, 0, "Pumpe ein", "", 1, 0, 0, false, false},
      {driver::kGroupBA, 1, "DO2", "", 0, 0, 0, false, false},
      {driver::kGroupBE, 0, "DI1", "", 0, 0, 0, false, false},
      {driver::kGroupBE, 1, "DI2", "", 0, 0, 0, false, false},
  };
  driver::TFuMo& brunnen = driver::FML->Items(2);
  for (int32_t g : {driver::kGroupAE, driver::kGroupBE, driver::kGroupAA, driver::kGroupBA})
    EXPECT_EQ(brunnen.RegCount(g), g == driver::kGroupAA ? 1 : 2) << g;
  for (const Channel& c : channels) {
    SCOPED_TRACE(c.name);
    const driver::TWert& w = brunnen.GetWert(c.group, c.index);
    EXPECT_EQ(w.Name, c.name);
    EXPECT_EQ(w.Einheit, c.unit);
    EXPECT_EQ(w.Faktor, c.faktor);
    EXPECT_EQ(w.Offset, c.offset);
    EXPECT_EQ(w.NKs, c.nks);
    EXPECT_EQ(w.bCalc, c.calc);
    EXPECT_EQ(w.bFloat, c.isFloat);
  }
  // The binary words of the system registers follow the channel counts.
  EXPECT_EQ(brunnen.GetWert(driver::kGroupSystem, 5).Name, "DIN0-15");
  EXPECT_EQ(brunnen.GetWert(driver::kGroupSystem, 6).Name, "&DOUT0-15");
}

TEST_F(ServerIniTest, AProjectWithoutStationsIsTheCentralModemAlone) {
  Root("Zentrale", 0);
  ASSERT_TRUE(project->WriteServerIni());
  ASSERT_EQ(driver::CreateFML(), 0);
  EXPECT_EQ(driver::FML->Count(), 1);
  EXPECT_EQ(driver::Options.MODUS, 0);
}

}  // namespace
}  // namespace configurator
