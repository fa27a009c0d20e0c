#include "configurator/zfm_editor.h"

#include <gtest/gtest.h>

#include "configurator/tests/fixture.h"

namespace configurator {
namespace {

using testing::ConfiguratorTest;

TEST(CentralPortItems, TheFixedPortsThenTheMachinesThenTheStoredOne) {
  const std::vector<std::string> fixed{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = fixed;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  struct Row {
    const char* name;
    std::string stored;
    std::vector<std::string> machine;
    std::vector<std::string> items;
  } rows[] = {
      {"one of the fixed", "COM2", {}, fixed},
      {"no port stored", "", {}, fixed},
      {"machine ports under a COM name are not repeated", "COM1", {"ttyS0", "ttyS9", "ttyUSB0"}, with({"ttyS9", "ttyUSB0"})},
      {"stored name the list lacks", "COM12", {"ttyUSB0"}, with({"ttyUSB0", "COM12"})},
      {"stored path of a fixed port", "/dev/ttyS1", {}, with({"/dev/ttyS1"})},
      {"stored machine port", "ttyUSB0", {"ttyUSB0"}, with({"ttyUSB0"})},
  };
  for (const Row& r : rows) EXPECT_EQ(CentralPortItems(r.stored, r.machine), r.items) << r.name;
}

class ZFMEditorTest : public ConfiguratorTest {
 protected:
  ZFMEditorTest() {
    LoadDeviceTables(tables, std::string(QAR_CONFIGURATOR_FILES) + "Brindel.FML", messages);
    texts.SetTextFile(std::string(QAR_CONFIGURATOR_FILES) + "D.spr");
  }
  // The central modem of the tree as the dialog finds it when its node is current.
  TZFMEditor Current() {
    project->CurrentNode = project->Tree.Root();
    TZFMEditor e(*project, {"ttyUSB0"});
    e.Activate();
    return e;
  }
};

TEST_F(ZFMEditorTest, FieldsShowTheCurrentCentralModem) {
  TZFM* zfm = Root("Zentrale", 1)->CentralModem();
  zfm->Port = "COM12";
  zfm->BaudRate = serial::br19200;
  zfm->Parity = serial::prEven;
  zfm->DataBits = serial::dbSeven;
  zfm->StopBits = serial::sbTwoStopBits;
  zfm->ExtraWait = 2500;
  TZFMEditor e = Current();
  EXPECT_EQ(&e.Object(), zfm);
  EXPECT_EQ(e.Caption, "Zentralfunkmodem einrichten");
  EXPECT_EQ(e.Name, "Zentrale");
  EXPECT_EQ(e.TypeIndex, 1);
  EXPECT_EQ(e.Mode, 1);
  EXPECT_EQ(e.Port, "COM12");
  EXPECT_EQ(e.PortItems.back(), "COM12");
  EXPECT_EQ(e.BaudRate + e.DataBits + e.Parity + e.StopBits, "192007Even2");
  EXPECT_EQ(e.ExtraWait, 2500);

  ASSERT_TRUE(e.Ok());  // nothing changed by the user: nothing lost
  EXPECT_EQ(zfm->Port, "COM12");
  EXPECT_EQ(zfm->ExtraWait, 2500);
  EXPECT_EQ(zfm->BaudRate, serial::br19200);
  EXPECT_TRUE(project->Modified);
}

TEST_F(ZFMEditorTest, WithoutACurrentNodeANewObjectTakesTheFields) {
  TZFMEditor e(*project, {});
  e.Activate();
  EXPECT_EQ(e.Port, "COM1");
  e.Name = "Nord";
  e.TypeIndex = 2;
  e.Port = "COM3";
  e.BaudRate = "4800";
  e.DataBits = "";
  e.Parity = "Odd";
  e.StopBits = "1.5";
  ASSERT_TRUE(e.Ok());
  std::unique_ptr<TZFM> zfm = e.TakeNew();
  ASSERT_NE(zfm, nullptr);
  EXPECT_EQ(zfm->Name, "Nord");
  EXPECT_EQ(zfm->DeviceType.TypeId, 3);
  EXPECT_EQ(zfm->Port, "COM3");
  EXPECT_EQ(zfm->BaudRate, serial::br4800);
  EXPECT_EQ(zfm->DataBits, serial::dbEight);
  EXPECT_EQ(zfm->Parity, serial::prOdd);
  EXPECT_EQ(zfm->StopBits, serial::sbOne5StopBits);
}

TEST_F(ZFMEditorTest, OkRefusesEmptyAndForbiddenNames) {
  Root("Alt", 1);
  struct Row {
    const char* name;
    std::string box;
  } rows[] = {
      {"", "Bitte einen Namen f\xFCr das Zentralfunkmodem eingeben."},
      {"Nord/1", "Der Name enth\xE4lt ein unzul\xE4ssiges Zeichen."},
      {"Nord;1", "Der Name enth\xE4lt ein unzul\xE4ssiges Zeichen."},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    messages_service.boxes.clear();
    TZFMEditor e = Current();
    e.Name = r.name;
    e.Port = "COM4";
    EXPECT_FALSE(e.Ok());
    EXPECT_TRUE(e.FocusName);
    EXPECT_EQ(messages_service.Texts(), std::vector<std::string>{r.box});
    EXPECT_EQ(e.Object().Name, "Alt");
    EXPECT_EQ(e.Object().Port, "COM1");
    EXPECT_FALSE(project->Modified);
  }
}

TEST_F(ZFMEditorTest, AModeWithoutNestingIsRefusedWhileStationsAreNested) {
  TStationNode* root = Root("Z", 1);
  Add(root, Station("A", 1));
  TStationNode* b = Add(root, Station("B", 2));
  TZFMEditor flat = Current();
  EXPECT_TRUE(flat.TypeChange(0)) << "no station has stations of its own yet";
  EXPECT_EQ(flat.Mode, 0);

  Add(b, Station("B1", 3));  // under the second station, not the first
  TZFMEditor e = Current();
  EXPECT_FALSE(e.TypeChange(0));
  EXPECT_EQ(e.TypeIndex, 1);
  EXPECT_EQ(e.Mode, 1);
  EXPECT_EQ(messages_service.boxes.back().kind, platform::MessageKind::Information);
  EXPECT_EQ(messages_service.Texts().back(),
            "Solange Stationen unter Stationen h\xE4ngen, ist diese Betriebsart nicht m\xF6glich.");
  EXPECT_TRUE(e.TypeChange(2));
  EXPECT_EQ(e.Mode, 2);
  EXPECT_EQ(e.Object().DeviceType.TypeId, 2) << "the object changes on OK only";
}

TEST_F(ZFMEditorTest, ProjectName) {
  EXPECT_FALSE(AcceptProjectName(*project, ""));
  EXPECT_EQ(messages_service.Texts(), std::vector<std::string>{"Bitte einen Projektnamen eingeben."});
  EXPECT_TRUE(AcceptProjectName(*project, "Anlage Nord"));
  EXPECT_EQ(project->ProjectPath, "Anlage Nord");
}

}  // namespace
}  // namespace configurator
