// The server's line procedure and telegrams against the radio-network simulator over a pty:
// a request for a station goes out, the simulator's answer lands in the register image.
#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>
#include <string>
#include <tuple>
#include <vector>

#include "server/driver/config_loader.h"
#include "server/driver/custom_funk.h"
#include "server/driver/options.h"
#include "server/driver/tests/model_fixture.h"
#include "tools/testing/simulator_process.h"

namespace driver {
namespace {

using radiosim::testing::SimulatorProcess;

class ProtocolE2ETest : public testing::ModelTest {};

TEST_F(ProtocolE2ETest, StationAnswerStoredWithQualityGood) {
  const std::string port = SimulatorProcess::DefaultPortPath(dir.Path());
  // Generous waits for the acknowledgements: the simulator is another process on a busy machine.
  WriteIni("TYP=Pumpe,RM-T,1,5,0,0\r\n",
           "[ADR005]\r\nKANAL=AE,Druck,bar,1,0,0\r\nKANAL=AE,Pegel,cm,1,0,0\r\nKANAL=BE,Tuer,,1,0,0\r\n"
           "KANAL=BE,Alarm,,1,0,0\r\nKANAL=AA,Soll,%,1,0,0\r\nKANAL=BA,&Pumpe,,1,0,0\r\nKANAL=BA,&Licht,,1,0,0\r\n"
           "\r\n",
           "MODUS=1\r\nTIMEOUT=1000\r\nRS232=" + port + ",9600,None,8,1\r\n");
  StartLog(-1);
  SimulatorProcess sim(dir.Path(), {"--radio-delay", "20", "--analog-period", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  ASSERT_EQ(sim.Command("set 1 1 1 1234"), "ok");  // first analog input (after one input word)
  ASSERT_EQ(sim.Command("set 1 1 0 2"), "ok");     // binary inputs: "Alarm" on

  ASSERT_EQ(CreateFML(), 0) << LogText();
  TCustomFunk funk;
  ASSERT_EQ(funk.Init(false), 0) << LogText();

  struct Row {
    const char* name;
    bool crc;
    double setpoint;
  } rows[] = {{"plain telegrams", false, 777}, {"CRC variant", true, 778}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Options.MOP2CRC = r.crc;
    TFuMo& st = FML->Items(1);
    {
      std::unique_lock lock(RegisterLock);
      for (auto [group, index, value] : {std::tuple{kGroupAA, 0, r.setpoint}, std::tuple{kGroupBA, 1, 1.0}}) {
        TWert& w = st.GetWert(group, index);
        w.WriteWert = value;
        w.Quality = kQualityLastKnown;
        w.bWritePending = true;
      }
    }
    // An input poll that writes the outputs, as the scheduler builds it.
    TAnfrage& a = funk.Anfrage;
    a = TAnfrage{};
    a.AF = kAfStation;
    a.US = 1;
    a.GetKl = 1;
    a.GetStart = -1;
    a.GetAnz = 1 + 1 + 2;  // status word, one input word, two analog inputs
    a.PutKl = 2;
    a.PutStart = 0;
    a.PutAnz = 1 + 1;  // one output word, one analog output
    funk.ErzeugeTel();
    ASSERT_EQ(funk.SendeTelegramm(), 0) << LogText();
    EXPECT_EQ(uint8_t(a.Tel[0]), r.crc ? 0x61 : 0x60);
    ASSERT_EQ(funk.LeseTelegramm(5000), 0) << LogText();
    EXPECT_TRUE(funk.VerarbeiteAntwortTelegramm(a, true)) << LogText();

    const std::vector<int> inputs = sim.Registers("1", 1);
    ASSERT_EQ(inputs.size(), 4u);
    std::shared_lock lock(RegisterLock);
    EXPECT_EQ(st.GetWert(kGroupAE, 0).WertInt, 1234);
    EXPECT_EQ(st.GetWert(kGroupAE, 1).WertInt, inputs[3]);
    EXPECT_EQ(st.GetWert(kGroupBE, 0).WertInt, 0);
    EXPECT_EQ(st.GetWert(kGroupBE, 1).WertInt, 1);
    for (int32_t group : {kGroupAE, kGroupBE})
      for (int32_t i = 0; i < 2; ++i) EXPECT_EQ(st.GetWert(group, i).Quality, kQualityGood) << group << "." << i;
    // The outputs written went out and are confirmed.
    EXPECT_EQ(sim.Registers("1", 2), (std::vector<int>{2, int(r.setpoint)}));
    EXPECT_EQ(st.GetWert(kGroupAA, 0).WertInt, int(r.setpoint));
    EXPECT_FALSE(st.GetWert(kGroupAA, 0).bWritePending);
    EXPECT_EQ(st.GetWert(kGroupBA, 1).Quality, kQualityGood);
    EXPECT_EQ(st.GetWert(kGroupSystem, 0).WertInt, r.crc ? 2 : 1);  // RS_KOM_OK
  }
  EXPECT_EQ(sim.Stats()["crc-requests"], 1);
  EXPECT_EQ(sim.Stats()["crc-errors"], 0);
}

}  // namespace
}  // namespace driver
