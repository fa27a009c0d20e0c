// The station window's decisions without a window: channels from the configuration file, the
// LEDs, gauges and labels after data changes, the pending-quality timer and the clicks.
#include "visualisation/station_core.h"

#include <gtest/gtest.h>

#include <functional>

#include "visualisation/tests/lumaro_fixture.h"

namespace lumaro::testing {
namespace {

using com::Variant;
using com::WORD;

constexpr WORD kGood = com::OPC_QUALITY_GOOD;
constexpr WORD kBad = com::OPC_QUALITY_NOT_CONNECTED;

class StationCoreTest : public LumaroTest {
 protected:
  TMemIni ini;
  std::unique_ptr<TStationCore> core;

  // Opens the station window's core for station Pumpe (address 7) of the text.
  void Open(const std::string& text, bool logging = false) {
    ini.LoadFromText(text);
    core = std::make_unique<TStationCore>(context, ini, StationParams{"Pumpe", "PT100", 7, "Zentrale", kServerProgId},
                                          logging);
    core->Init();
  }
  void OpenTwoStations(bool logging = false) {
    Know(TwoStationItems());
    Open(kTwoStations, logging);
  }
  // A configuration whose station 7 has these channel lines; every channel is known.
  void OpenWithChannels(const std::vector<std::string>& kanal) {
    std::string text = "[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,Z,1\r\n[ADR007]\r\n";
    std::vector<std::string> ids = TwoStationItems();
    for (const std::string& k : kanal) {
      text += "KANAL=" + k + "\r\n";
      ids.push_back("Zentrale.Pumpe." + SplitFields(k)[1]);
    }
    Know(ids);
    Open(text);
  }
  kopl::testing::ScriptedGroup& Remote(const char* group) { return *servers.back()->Group(group); }
  void Send(const char* group, const std::string& reg, Variant v, WORD quality = kGood) {
    Remote(group).SendData(0, {"Zentrale.Pumpe." + reg}, {v}, quality);
    Run();
  }
  int Led(int row) const { return core->LedColours()[size_t(row)]; }
};

TEST_F(StationCoreTest, BuildsTheChannelsOfItsSectionAndResetsTheDisplay) {
  OpenTwoStations();
  EXPECT_TRUE(core->Active());
  EXPECT_FALSE(core->ClosesItself());
  EXPECT_EQ(core->Caption(), "Station - Pumpe (PT100)");
  EXPECT_EQ(core->InputCount(), 1u);
  EXPECT_EQ(core->OutputCount(), 1u);
  EXPECT_EQ(core->AnalogCount(), 1u);
  EXPECT_EQ(core->Output(0).ItemID(), "Zentrale.Pumpe.Motor");
  EXPECT_EQ(Remote("BINPUT").items.size(), 3u);
  EXPECT_EQ(Remote("STATUS").items.size(), 8u);
  EXPECT_EQ(core->LogColumns(), (std::vector<std::string>{"RS_STATUS", "RS_KOM_OK", "RS_KOM_FAIL", "RM_RECPOWER",
                                                          "Druck", "Motor", "Taster"}));

  for (int row = 0; row < 16; ++row) EXPECT_EQ(Led(row), 4) << row;  // every input LED, valid and off
  EXPECT_EQ(Led(16), 6);                                             // the one output
  EXPECT_EQ(Led(17), -1);                                            // the rest is the picture's
  const int bar_off[] = {6, 6, 6, 2, 4, 4, 4, 4};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(Led(32 + k), bar_off[k]) << k;
  EXPECT_EQ(Led(40), -1);  // not driven

  EXPECT_TRUE(core->AnalogPictureShown());
  EXPECT_FALSE(core->OutputBlockCopied());
  EXPECT_TRUE(core->Analog(1).visible);
  EXPECT_EQ(core->Analog(1).caption, "Druck");
  EXPECT_EQ(core->Analog(1).unit, "bar");
  EXPECT_EQ(core->Analog(1).panel, "");
  EXPECT_FALSE(core->Analog(2).visible);
  EXPECT_EQ(core->Label(SLStatus).text, "unbekannt");
  EXPECT_EQ(core->ActiveText(), "Aktiv");
  EXPECT_EQ(core->ConnectionText(), "verbunden");
  EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(StationCoreTest, ChannelLimitsAndPictureBlocks) {
  auto many = [](const char* kind, int n) {
    std::vector<std::string> lines;
    for (int i = 1; i <= n; ++i) lines.push_back(std::string(kind) + "," + kind + std::to_string(i) + ",,0,0,0");
    return lines;
  };
  auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    size_t outputs, inputs, analogs;
    bool block, analog_picture;
  } cases[] = {
      {"20 outputs: 16 of them", many("BA", 20), 16, 0, 0, true, false},
      {"8 outputs: no block", many("BA", 8), 8, 0, 0, false, false},
      {"three analog inputs", many("AE", 3), 0, 0, 3, false, true},
      {"five analog inputs: 4 of them", many("AE", 5), 0, 0, 4, false, true},
      {"9 outputs and an analog input", join(many("BA", 9), many("AE", 1)), 9, 0, 1, true, false},
      {"17 inputs are all channels", many("BE", 17), 0, 17, 0, false, false},
      {"other kinds make no channel", join(many("AA", 2), many("RE", 1)), 0, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenWithChannels(c.lines);
    EXPECT_TRUE(core->Active());
    EXPECT_EQ(core->OutputCount(), c.outputs);
    EXPECT_EQ(core->InputCount(), c.inputs);
    EXPECT_EQ(core->AnalogCount(), c.analogs);
    EXPECT_EQ(core->OutputBlockCopied(), c.block);
    EXPECT_EQ(core->AnalogPictureShown(), c.analog_picture);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(core->Analog(n).visible, size_t(n) <= c.analogs) << n;
    for (int k = 0; k < 16; ++k) EXPECT_EQ(Led(16 + k) >= 0, size_t(k) < c.outputs) << k;
    // Every line's item is added, channel or not.
    EXPECT_EQ(Remote("BINPUT").items.size(), c.lines.size());
  }
}

TEST_F(StationCoreTest, InputsPastTheSixteenthAreLoggedButNeverDrawn) {
  std::vector<std::string> lines = {"BA,Motor,,0,0,0"};
  for (int i = 1; i <= 17; ++i) lines.push_back("BE,E" + std::to_string(i) + ",,0,0,0");
  OpenWithChannels(lines);
  Send("BINPUT", "E17", Variant::I4(1));
  EXPECT_EQ(Led(16), 6);  // output 1's LED, untouched
  EXPECT_EQ(core->LogValues()[4 + 17], Variant::I4(1));
  Send("BINPUT", "E16", Variant::I4(1));
  EXPECT_EQ(Led(15), 5);
}

TEST_F(StationCoreTest, EmptyNamesAndEmptyUnits) {
  OpenWithChannels({"AE,Pegel,,0,0,1", "BE,,,0,0,0", "BE,Taster,,0,0,0"});
  EXPECT_EQ(core->Analog(1).unit, "%");
  EXPECT_EQ(core->InputCount(), 1u);
  EXPECT_EQ(core->LogColumns()[5], "");  // the unnamed line made no channel
  EXPECT_EQ(core->LogColumns()[6], "Taster");
}

TEST_F(StationCoreTest, ChannelsNamedAsTheServerNamesItsItems) {
  // "&Frei" is the server's writable item "Frei"; "#" is a register without an item.
  Know({"Zentrale.Pumpe.Frei", "Zentrale.Pumpe.Taster"});
  Open("[ADR007]\r\nKANAL=AE,&Frei,,1,0,0\r\nKANAL=AE,#,,1,0,0\r\nKANAL=BE,Taster,,0,0,0\r\n");
  EXPECT_TRUE(core->Active());
  EXPECT_TRUE(messages.boxes.empty());
  ASSERT_EQ(core->AnalogCount(), 1u);
  EXPECT_EQ(core->AnalogInput(0).ItemID(), "Zentrale.Pumpe.Frei");
  EXPECT_EQ(core->Analog(1).caption, "Frei");
  EXPECT_EQ(core->InputCount(), 1u);
  EXPECT_EQ(Remote("BINPUT").items.size(), 2u);
  EXPECT_EQ(core->LogColumns(), (std::vector<std::string>{"RS_STATUS", "RS_KOM_OK", "RS_KOM_FAIL", "RM_RECPOWER",
                                                          "Frei", "", "Taster"}));
}

TEST_F(StationCoreTest, AnUnknownChannelDeactivatesTheWindowAndStopsTheBuild) {
  Know({"Zentrale.Pumpe.Taster", "Zentrale.Pumpe.Danach"});
  Open(
      "[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,Z,1\r\n[ADR007]\r\n"
      "KANAL=BE,Taster,,0,0,0\r\nKANAL=BE,Fehlt,,0,0,0\r\nKANAL=BE,Danach,,0,0,0\r\n");
  EXPECT_FALSE(core->Active());
  EXPECT_EQ(core->ActiveText(), "Inaktiv");
  EXPECT_EQ(core->InputCount(), 1u);
  EXPECT_EQ(Remote("BINPUT").items.size(), 1u);
  EXPECT_EQ(messages.Texts(), (std::vector<std::string>{
                                  "IOKanal \"Fehlt\" konnte nicht gefunden werden!\n\rDie Konfig-Datei ist fehlerhaft!",
                                  "Die Stationsanzeige wird wegen eines Fehler deaktiviert!"}));
  EXPECT_EQ(core->Label(SLStatus).text, "n/v");  // status items still come, here unknown
  EXPECT_EQ(Led(0), -1);                         // no reset of an inactive display
}

TEST_F(StationCoreTest, DecimalsThatAreNoNumberDeactivateToo) {
  OpenWithChannels({"BE,Taster,,0,0,x"});
  EXPECT_FALSE(core->Active());
  EXPECT_EQ(messages.Texts()[0],
            "IOKanal \"Taster\" konnte nicht gefunden werden!\n\rDie Konfig-Datei ist fehlerhaft!");
}

TEST_F(StationCoreTest, WithoutAConnectionTheWindowClosesItself) {
  activation_result = com::E_FAIL;
  Open(kTwoStations);
  EXPECT_FALSE(core->Active());
  EXPECT_TRUE(core->ClosesItself());
  EXPECT_EQ(core->ConnectionText(), "nicht verbunden");
  EXPECT_EQ(
      messages.Texts(),
      (std::vector<std::string>{"Es kann keine Verbindung zum OPC-Server \"Qar.OPC_DA_Server_RM\" hergestellt werden!",
                                "Die Stationsanzeige wird wegen eines Fehler deaktiviert!"}));
  EXPECT_EQ(clock.TickMs(), 0u);  // no connect delay without a server object
}

TEST_F(StationCoreTest, TheConnectDelayGoesThroughTheClock) {
  OpenTwoStations();
  EXPECT_EQ(clock.TickMs(), 300u);
}

TEST_F(StationCoreTest, BinaryAndAnalogChannelsFollowTheirValues) {
  OpenTwoStations();
  Send("BINPUT", "Taster", Variant::I4(1));
  EXPECT_EQ(Led(0), 5);
  Send("BINPUT", "Motor", Variant::I4(1));
  EXPECT_EQ(Led(16), 7);
  Send("BINPUT", "Druck", Variant::R8(2.5));
  EXPECT_EQ(core->Analog(1).panel, "2.50");
  EXPECT_EQ(core->Analog(1).panel_colour, LabelColour::Good);
  EXPECT_EQ(core->Analog(1).gauge, 25);  // 2.5 / 0.1
  EXPECT_FALSE(core->Analog(1).gauge_bad);
  EXPECT_EQ(core->LogValues()[4], Variant::R8(2.5));
}

TEST_F(StationCoreTest, BadQualityShowsOnlyAfterATimerTick) {
  OpenTwoStations();
  Send("BINPUT", "Motor", Variant::I4(1));
  Send("BINPUT", "Druck", Variant::R8(2.5));

  // Bad, then good within the tick: never invalid.
  Send("BINPUT", "Motor", Variant::I4(0), kBad);
  EXPECT_EQ(Led(16), 7);
  EXPECT_TRUE(core->TimerRunning());
  EXPECT_EQ(core->PendingCount(), 1u);
  Send("BINPUT", "Motor", Variant::I4(1));
  EXPECT_EQ(core->PendingCount(), 0u);
  core->TimerTick();
  EXPECT_EQ(Led(16), 7);
  EXPECT_FALSE(core->TimerRunning());

  // Bad through a tick: invalid; the value of the bad change is not taken.
  Send("BINPUT", "Motor", Variant::I4(0), kBad);
  Send("BINPUT", "Druck", Variant::R8(9.0), kBad);
  EXPECT_EQ(core->PendingCount(), 2u);
  core->TimerTick();
  EXPECT_EQ(Led(16), 0);
  EXPECT_EQ(core->Analog(1).panel, "2.50");
  EXPECT_EQ(core->Analog(1).panel_colour, LabelColour::Bad);
  EXPECT_TRUE(core->Analog(1).gauge_bad);
  EXPECT_EQ(core->PendingCount(), 0u);
  EXPECT_FALSE(core->TimerRunning());
  EXPECT_EQ(core->LogValues()[4], Variant::R8(2.5));  // channels log good values only

  // Still bad: stays invalid without a new entry; good: valid again.
  Send("BINPUT", "Motor", Variant::I4(0), kBad);
  EXPECT_EQ(core->PendingCount(), 0u);
  Send("BINPUT", "Motor", Variant::I4(0));
  EXPECT_EQ(Led(16), 6);
}

TEST_F(StationCoreTest, ReceivePowerDrivesTheBar) {
  struct Case {
    const char* name;
    Variant value;
    WORD quality;
    int lit;  // bar LEDs on, from the first
    bool valid;
  } cases[] = {
      {"0", Variant::I4(0), kGood, 0, true},
      {"1", Variant::I4(1), kGood, 1, true},
      {"10", Variant::I4(10), kGood, 3, true},
      {"28", Variant::I4(28), kGood, 7, true},
      {"29", Variant::I4(29), kGood, 8, true},
      {"12.9", Variant::R8(12.9), kGood, 3, true},
      {"bad quality", Variant::I4(29), kBad, 8, false},
  };
  OpenTwoStations();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Send("STATUS", "RM_RECPOWER", c.value, c.quality);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(Led(32 + k), LedColourNumber(32 + k, c.valid, k < c.lit)) << k;
    EXPECT_EQ(core->Label(SLRecPower).colour, c.valid ? LabelColour::Good : LabelColour::Bad);
  }
}

TEST_F(StationCoreTest, StatusLabelsAndTheirLogColumns) {
  OpenTwoStations();
  Send("STATUS", "RS_STATUS", Variant::R8(1.0));
  EXPECT_EQ(core->Label(SLStatus).text, "1");
  EXPECT_EQ(core->Label(SLStatus).colour, LabelColour::Good);
  Send("STATUS", "RS_RESPTIME", Variant::R8(0.25), kBad);
  EXPECT_EQ(core->Label(SLResponse).text, "0.25");
  EXPECT_EQ(core->Label(SLResponse).colour, LabelColour::Bad);
  Send("STATUS", "RS_KOM_FAIL", Variant::I4(3), kBad);  // status values are logged whatever their quality
  EXPECT_EQ(core->LogValues()[0], Variant::R8(1.0));
  EXPECT_EQ(core->LogValues()[2], Variant::I4(3));
  EXPECT_EQ(core->LogValues()[1], Variant());
}

TEST_F(StationCoreTest, ClicksSwitchOutputsOnly) {
  struct Case {
    const char* name;
    int x, y;
    bool writes;
  } cases[] = {
      {"output 1 centre", 37, 204, true},          {"five pixels off", 42, 199, true},
      {"six pixels beside", 43, 204, false},       {"an input", 37, 112, false},
      {"output 2 has no channel", 55, 204, false}, {"a bar LED", 442, 204, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenTwoStations();
    core->Click(c.x, c.y);
    auto& writes = Remote("BINPUT").writes;
    ASSERT_EQ(writes.size(), c.writes ? 1u : 0u);
    if (c.writes) {
      EXPECT_EQ(writes[0].values, std::vector<Variant>{Variant::I4(1)});
      EXPECT_EQ(Led(16), 7);  // shown before the server confirms
    }
  }
}

TEST_F(StationCoreTest, AClickWritesTheOppositeOfWhatIsShown) {
  OpenTwoStations();
  Send("BINPUT", "Motor", Variant::I4(1));
  core->Click(37, 204);
  ASSERT_EQ(Remote("BINPUT").writes.size(), 1u);
  EXPECT_EQ(Remote("BINPUT").writes[0].values, std::vector<Variant>{Variant::I4(0)});
  EXPECT_EQ(Led(16), 6);
}

TEST_F(StationCoreTest, AClickedOutputShowsItsNewValueWhileTheWriteIsUnderWayAndGoesBackWhenItFails) {
  struct Case {
    const char* name;
    std::function<void(ScriptedServer&)> refuse;
    int led_after;  // 7 on, 6 off
    bool error_box;
  } cases[] = {
      {"write taken", [](ScriptedServer&) {}, 7, false},
      {"write call refused", [](ScriptedServer& s) { s.fail["AsyncWrite2"] = com::E_FAIL; }, 6, true},
      {"the item's write refused",
       [](ScriptedServer& s) { s.known["Zentrale.Pumpe.Motor"].write_error = com::OPC_E_BADRIGHTS; }, 6, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.boxes.clear();
    OpenTwoStations();
    ScriptedServer& server = *servers.back();
    c.refuse(server);
    int shown_at_once = 0;
    core->OnChanged = [&] { ++shown_at_once; };
    int led_while_writing = -1;
    int shown_while_writing = -1;
    server.while_writing = [&] {
      led_while_writing = Led(16);
      shown_while_writing = shown_at_once;
    };
    core->Click(37, 204);
    EXPECT_EQ(led_while_writing, 7) << "the LED waits for the write";
    EXPECT_GE(shown_while_writing, 1) << "the window was not told to show it before the call";
    EXPECT_EQ(Led(16), c.led_after);
    EXPECT_EQ(messages.boxes.size(), c.error_box ? 1u : 0u);
    if (c.error_box) {
      EXPECT_EQ(messages.boxes[0].text, "Konnte auf \"Zentrale.Pumpe.Motor\" nicht schreiben!");
    }
  }
}

TEST_F(StationCoreTest, NoSwitchingWhileInactiveOrDisconnected) {
  Know({"Zentrale.Pumpe.Motor"});
  Open("[ADR007]\r\nKANAL=BA,Motor,,0,0,0\r\nKANAL=BE,Fehlt,,0,0,0\r\n");
  core->Click(37, 204);
  EXPECT_TRUE(Remote("BINPUT").writes.empty());

  messages.boxes.clear();
  OpenTwoStations();
  servers.back()->ShutdownSink()->ShutdownRequest("stop");
  Run();
  EXPECT_EQ(core->ConnectionText(), "nicht verbunden");
  core->Click(37, 204);
  EXPECT_TRUE(messages.boxes.empty());
  EXPECT_EQ(Led(16), 6);
}

TEST_F(StationCoreTest, LoggingModeWritesTheStationsFile) {
  OpenTwoStations(true);
  Send("STATUS", "RS_STATUS", Variant::I4(1));
  clock.Advance(std::chrono::milliseconds(400));
  Send("BINPUT", "Motor", Variant::I4(1));
  clock.Advance(std::chrono::milliseconds(600));
  Send("BINPUT", "Druck", Variant::R8(2.5));
  const std::string day = "231114";  // the test clock's day
  EXPECT_EQ(program.Read("Log/Stationslog-Pumpe-" + day + ".csv"),
            "Zeitstempel,RS_STATUS,RS_KOM_OK,RS_KOM_FAIL,RM_RECPOWER,Druck,Motor,Taster\r\n"
            "14.11.2023 22:13:20,1,,,,,,\r\n"
            "14.11.2023 22:13:21,1,,,,2.5,1,\r\n");
}

}  // namespace
}  // namespace lumaro::testing
