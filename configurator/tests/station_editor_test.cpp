#include "configurator/station_editor.h"

#include <gtest/gtest.h>

#include "configurator/tests/fixture.h"

namespace configurator {
namespace {

using testing::ConfiguratorTest;

std::vector<std::string> Names(const TFuMo& st) {
  std::vector<std::string> n;
  for (const TWert& w : st.Channels) n.push_back(w.Kind + ":" + w.Name);
  return n;
}

const TChannelPrefixes kPrefixes{"AO", "AI", "DO", "DI"};

TEST(RebuildChannels, BlocksInTheirOrderNumberedFromOne) {
  TGeraeteAdr addresses;
  TFuMo st(addresses);
  RebuildChannels(st, {.AA = 1, .AE = 2, .BA = 2, .BE = 4}, kPrefixes);
  EXPECT_EQ(Names(st), (std::vector<std::string>{"AA:AO1", "AE:AI1", "AE:AI2", "BA:DO1", "BA:DO2", "BE:DI1", "BE:DI2",
                                                 "BE:DI3", "BE:DI4"}));
}

TEST(RebuildChannels, BlocksGrowAndShrinkAtTheirEndsAndKeepTheRest) {
  TGeraeteAdr addresses;
  TFuMo st(addresses);
  RebuildChannels(st, {.AA = 1, .AE = 1, .BA = 0, .BE = 2}, kPrefixes);
  st.Channels[1].Name = "Pegel";
  st.Channels[1].Faktor = 0.1;
  st.Channels[1].NKs = 2;
  RebuildChannels(st, {.AA = 1, .AE = 3, .BA = 1, .BE = 1}, kPrefixes);
  EXPECT_EQ(Names(st), (std::vector<std::string>{"AA:AO1", "AE:Pegel", "AE:AI2", "AE:AI3", "BA:DO1", "BE:DI1"}));
  EXPECT_EQ(st.Channels[1].Faktor, 0.1);
  EXPECT_EQ(st.Channels[1].NKs, 2);
  RebuildChannels(st, {.AA = 0, .AE = 1, .BA = 1, .BE = 1}, kPrefixes);
  EXPECT_EQ(Names(st), (std::vector<std::string>{"AE:Pegel", "BA:DO1", "BE:DI1"}));
}

TEST(RebuildChannels, ANameInUseGetsALetter) {
  TGeraeteAdr addresses;
  TFuMo st(addresses);
  RebuildChannels(st, {.AE = 2}, kPrefixes);
  st.Channels[0].Name = "DI1";
  st.Channels[1].Name = "DI1_A";
  RebuildChannels(st, {.AE = 2, .BE = 2}, kPrefixes);
  EXPECT_EQ(Names(st), (std::vector<std::string>{"AE:DI1", "AE:DI1_A", "BE:DI1_B", "BE:DI2"}));
}

TEST(RebuildChannels, ANegativeCountMeansNone) {
  TGeraeteAdr addresses;
  TFuMo st(addresses);
  RebuildChannels(st, {.AA = 1, .AE = 1}, kPrefixes);
  RebuildChannels(st, {.AA = 1, .AE = -1, .BA = -1, .BE = -1}, kPrefixes);
  EXPECT_EQ(Names(st), (std::vector<std::string>{"AA:AO1"}));
}

// The example installation's tables: RM-Kompakt (flags 9), RM-Gross (flags 1), RM-Relais
// (flags 8); modules: none, DI-8 and AO-2 (mask 1), AI-4 (mask 8).
class StationEditorTest : public ConfiguratorTest {
 protected:
  StationEditorTest() {
    LoadDeviceTables(tables, std::string(QAR_CONFIGURATOR_FILES) + "Brindel.FML", messages);
    texts.SetTextFile(std::string(QAR_CONFIGURATOR_FILES) + "D.spr");
    root = Root();
  }
  std::vector<std::string> Offered(const TStationEditor& e, int slot) {
    std::vector<std::string> n;
    for (const auto& item : e.Modules[size_t(slot - 1)].Items) n.push_back(item.Name);
    return n;
  }
  // A station made with the dialog under the root, the way the insert command does it.
  TStationNode* Insert(const std::function<void(TStationEditor&)>& fill) {
    TStationEditor e(*project, false);
    e.Activate();
    fill(e);
    EXPECT_TRUE(e.Ok());
    std::unique_ptr<TFuMo> st = e.TakeNewStation();
    std::string name = st->Name;
    return project->Tree.AddChild(root, name, std::move(st));
  }
  // Opens the dialog on node for editing.
  std::unique_ptr<TStationEditor> EditorFor(TStationNode* node) {
    project->CurrentNode = node;
    project->StationEditFlag = true;
    auto e = std::make_unique<TStationEditor>(*project, true);
    e->Activate();
    return e;
  }

  TStationNode* root;
};

TEST_F(StationEditorTest, ANewStationStartsWithTheDefaults) {
  project->Addresses().SetFree(1, false);
  TStationEditor e(*project, false);
  e.Activate();
  EXPECT_EQ(e.Caption, "Funkmodem einrichten");
  EXPECT_EQ(e.Name, "Station");
  EXPECT_EQ(e.TypeIndex, 0);
  EXPECT_EQ(e.FreeAddresses.front(), 2);
  EXPECT_EQ(e.FreeAddresses.size(), 254u);
  EXPECT_EQ(e.AddressIndex, 0);
  EXPECT_EQ(e.ModuleLabels[7], "Zusatzmodul &8:");
  EXPECT_TRUE(e.Modules[0].Enabled);
  EXPECT_FALSE(e.Modules[1].Enabled);
  EXPECT_EQ(Offered(e, 1), (std::vector<std::string>{"kein Modul", "DI-8", "AO-2", "AI-4"}));
  EXPECT_TRUE(e.OnlineCheckVisible);
  EXPECT_TRUE(e.WaitVisible);
}

TEST_F(StationEditorTest, TheTypeDecidesTheModulesAndTheOptionalFields) {
  TStationEditor e(*project, false);
  e.Activate();
  e.ExtraWait = 120;
  e.OnlineCheck = true;
  e.ModuleChange(1, 3);  // AI-4 stays offered in slot 1 while chosen there
  e.TypeChange(1);       // RM-Gross: mask 1
  EXPECT_EQ(Offered(e, 1), (std::vector<std::string>{"kein Modul", "DI-8", "AO-2", "AI-4"}));
  EXPECT_EQ(Offered(e, 2), (std::vector<std::string>{"kein Modul", "DI-8", "AO-2"}));
  EXPECT_FALSE(e.WaitVisible);
  EXPECT_EQ(e.ExtraWait, 0);
  EXPECT_TRUE(e.OnlineCheckVisible);
  e.TypeChange(2);  // RM-Relais: mask 8
  EXPECT_TRUE(e.WaitVisible);
  EXPECT_FALSE(e.OnlineCheckVisible);
  EXPECT_FALSE(e.OnlineCheck);
  EXPECT_EQ(Offered(e, 2), (std::vector<std::string>{"kein Modul", "AI-4"}));
  EXPECT_EQ(Offered(e, 1), (std::vector<std::string>{"kein Modul", "AI-4"}));
  EXPECT_EQ(e.Modules[0].SelectedPos(), 3);
}

TEST_F(StationEditorTest, ASlotOpensTheNextAndNoModuleClosesTheRest) {
  TStationEditor e(*project, false);
  e.Activate();
  for (int slot = 1; slot <= 5; ++slot) e.ModuleChange(slot, 1);
  EXPECT_EQ(e.FocusSlot, 6);
  EXPECT_TRUE(e.Modules[5].Enabled);
  e.ModuleChange(3, 0);
  for (int slot = 4; slot <= 8; ++slot) {
    EXPECT_FALSE(e.Modules[size_t(slot - 1)].Enabled) << slot;
    EXPECT_EQ(e.Modules[size_t(slot - 1)].Index, 0) << slot;
  }
  EXPECT_TRUE(e.Modules[2].Enabled);
}

TEST_F(StationEditorTest, OkStoresTheStationWithItsChannels) {
  project->Addresses().SetFree(1, false);
  TStationNode* node = Insert([](TStationEditor& e) {
    e.Name = "Brunnen";
    e.AddressIndex = 3;  // address 5
    e.ExtraWait = 40;
    e.OnlineCheck = true;
    e.Relay = true;
    e.ModuleChange(1, 3);  // AI-4
  });
  const TFuMo& st = *node->Station();
  EXPECT_EQ(st.Name, "Brunnen");
  EXPECT_EQ(st.DeviceType.TypeId, 11);
  EXPECT_EQ(st.Address, 5);
  EXPECT_FALSE(project->Addresses().IsFree(5));
  EXPECT_EQ(st.ExtraWait, 40);
  EXPECT_EQ(st.OnlineCheck, 1);
  EXPECT_TRUE(st.Relay);
  EXPECT_EQ(st.ModuleCount, 1);
  EXPECT_EQ(st.Modules[0].TypeId, 23);
  EXPECT_EQ(st.Parent1, 0);
  EXPECT_EQ(st.Parent2, 0);
  EXPECT_TRUE(project->Modified);
  EXPECT_EQ(Names(st), (std::vector<std::string>{"AA:AO1", "AE:AI1", "AE:AI2", "AE:AI3", "AE:AI4", "AE:AI5", "AE:AI6",
                                                 "BA:DO1", "BA:DO2", "BE:DI1", "BE:DI2", "BE:DI3", "BE:DI4"}));
}

TEST_F(StationEditorTest, EditingKeepsChannelsUnlessTheTypeChanges) {
  TStationNode* node = Insert([](TStationEditor& e) { e.Name = "S"; });
  TFuMo& st = *node->Station();
  st.Channels[0].Name = "Stellwert";
  st.Channels[0].Einheit = "%";

  auto e = EditorFor(node);
  e->ModuleChange(1, 2);  // AO-2: two more AA channels at the end of their block
  ASSERT_TRUE(e->Ok());
  EXPECT_EQ(Names(st)[0], "AA:Stellwert");
  EXPECT_EQ(st.Channels[0].Einheit, "%");
  EXPECT_EQ(st.CountAA(), 3);
  EXPECT_EQ(st.Channels[2].Name, "AO3");

  e = EditorFor(node);
  EXPECT_EQ(e->Modules[0].SelectedPos(), 2) << "the stored module is shown";
  EXPECT_TRUE(e->Modules[1].Enabled);
  e->ModuleChange(1, 0);
  ASSERT_TRUE(e->Ok());
  EXPECT_EQ(Names(st)[0], "AA:Stellwert");
  EXPECT_EQ(st.CountAA(), 1);

  e = EditorFor(node);
  e->TypeChange(1);
  ASSERT_TRUE(e->Ok());
  EXPECT_EQ(Names(st)[0], "AA:AO1") << "a new type builds all channels anew";
  EXPECT_EQ(st.CountBE(), 8);
}

TEST_F(StationEditorTest, CancelLeavesTheStationAsItWas) {
  TStationNode* node = Insert([](TStationEditor& e) { e.Name = "S"; });
  const TFuMo before = *node->Station();
  auto e = EditorFor(node);
  EXPECT_TRUE(project->Addresses().IsFree(before.Address)) << "its own address is offered";
  e->TypeChange(2);
  e->Name = "T";
  e->Cancel();
  const TFuMo& st = *node->Station();
  EXPECT_EQ(st.DeviceType, before.DeviceType);
  EXPECT_EQ(st.Name, "S");
  EXPECT_FALSE(project->Addresses().IsFree(before.Address));
}

TEST_F(StationEditorTest, OkRefusesWhatCannotBeStored) {
  Insert([](TStationEditor& e) { e.Name = "Nord"; });
  struct Row {
    const char* name;
    std::string stationName;
    bool noAddress;
    std::string box;
  } rows[] = {
      {"name of another station", "Nord", false, "Der Name ist schon vergeben.\rNord"},
      {"that name in other case", "NORD", false, "Der Name ist schon vergeben.\rNORD"},
      {"no name", "", false, "Bitte einen Namen f\xFCr das Funkmodem eingeben."},
      {"forbidden character", "Nord.2", false, "Der Name enth\xE4lt ein unzul\xE4ssiges Zeichen."},
      {"semicolon", "Nord;2", false, "Der Name enth\xE4lt ein unzul\xE4ssiges Zeichen."},
      {"no free address", "Sued", true, "Keine freie Adresse f\xFCr das Funkmodem!"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    messages_service.boxes.clear();
    project->Modified = false;
    TStationEditor e(*project, false);
    e.Activate();
    e.Name = r.stationName;
    if (r.noAddress) {
      e.FreeAddresses.clear();
      e.AddressIndex = -1;
    }
    EXPECT_FALSE(e.Ok());
    EXPECT_EQ(messages_service.Texts(), std::vector<std::string>{r.box});
    EXPECT_EQ(messages_service.boxes[0].kind, platform::MessageKind::Error);
    EXPECT_FALSE(project->Modified);
    EXPECT_TRUE(e.Station().Name.empty());
  }
}

TEST_F(StationEditorTest, ALaterActivationKeepsWhatTheUserTyped) {
  TStationEditor e(*project, false);
  e.Activate();
  e.Name = "Ost";
  e.TypeChange(1);
  e.Activate();
  EXPECT_EQ(e.Name, "Ost");
  EXPECT_EQ(e.TypeIndex, 1);
}

}  // namespace
}  // namespace configurator
