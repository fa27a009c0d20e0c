#include "configurator/device_types.h"

#include <gtest/gtest.h>

#include "configurator/language.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"

namespace configurator {
namespace {

class DeviceTypesTest : public ::testing::Test {
 protected:
  DeviceTypesTest() {
    dir.Write("D.spr", "[FEHLER]\r\nT13=Typ unbekannt\r\n");
    texts.SetTextFile(dir / "D.spr");
  }
  TDeviceTable Load(const std::string& section_lines) {
    dir.Write("Brindel.FML", "[Vorher]\r\nTYP=Falsch,1\r\n[UNTERSTATIONEN]\r\n" + section_lines + "[ERWEITERUNGSMODULE]\r\nTYP=M\r\n");
    TDeviceTable table;
    LoadDeviceTypes(table, dir / "brindel.fml", "UNTERSTATIONEN", messages);
    return table;
  }
  platform::testing::TempDir dir;
  platform::testing::RecordingMessages service;
  TLanguageTexts texts{""};
  TMessages messages{texts, service};
};

TEST_F(DeviceTypesTest, TypLines) {
  TDeviceTable t = Load(
      "typ=Modem A,0,0,0,0,0,0,1,0,3\r\n"                  // key in lower case
      "; a comment\r\n"
      "NAME=not a type\r\n"
      "TYP=" + std::string(45, 'N') + ",4,2,1,3,5,6,9,8,7 ; note\r\n"
      "TYP=Kaputt,x,-2,10000,,-1\r\n");                     // malformed numbers become 0
  ASSERT_EQ(t.Count, 3);
  EXPECT_EQ(t.Entries[0], (DeviceType{"Modem A", 0, 0, 0, 0, 0, 0, 0, 1, 0, 3}));
  EXPECT_EQ(t.Entries[1], (DeviceType{std::string(40, 'N'), 1, 4, 2, 1, 3, 5, 6, 9, 8, 7}));
  EXPECT_EQ(t.Entries[2], (DeviceType{"Kaputt", 2, 0, 0, 0, 0, -1, 0, 0, 0, 0}));
  EXPECT_TRUE(service.boxes.empty());
}

TEST_F(DeviceTypesTest, MoreThan50LinesAreDroppedWithAMessageEach) {
  std::string lines;
  for (int i = 1; i <= 52; ++i) lines += "TYP=T" + std::to_string(i) + ",0,0,0,0,0,0,0,0," + std::to_string(i) + "\r\n";
  TDeviceTable t = Load(lines);
  EXPECT_EQ(t.Count, 50);
  EXPECT_EQ(t.Entries[49].Name, "T50");
  EXPECT_EQ(service.Texts(), (std::vector<std::string>{"Modulliste zu lang! Eintrag vor T51 ignoriert!",
                                                       "Modulliste zu lang! Eintrag vor T52 ignoriert!"}));
  EXPECT_EQ(service.boxes[0].kind, platform::MessageKind::Plain);
}

TEST_F(DeviceTypesTest, MissingFileOrSectionGivesAnEmptyTable) {
  TDeviceTable t;
  EXPECT_EQ(LoadDeviceTypes(t, dir / "none.FML", "UNTERSTATIONEN", messages), 0);
  Load("");
  EXPECT_EQ(LoadDeviceTypes(t, dir / "Brindel.FML", "ZENTRALFUNKMODEM", messages), 0);
}

TEST_F(DeviceTypesTest, FindDeviceType) {
  TDeviceTable t = Load(
      "TYP=Modem A,0,0,0,0,0,0,1,0,3\r\n"
      "TYP=Modem B,0,0,0,0,0,0,1,0,3\r\n"
      "TYP=Modem A,0,0,0,0,0,0,1,0,4\r\n");
  struct Row {
    const char* name;
    int32_t id;
    int32_t want;
    bool message;
  } rows[] = {
      {"", 0, 0, false},         // nothing asked for
      {"Modem A", 3, 1, false},  // by id, the last entry with it
      {"Modem B", 4, 2, false},  // the id wins over the name
      {"Modem A", 0, 2, false},  // by name, the last entry with it
      {"Modem A", 9, 2, false},  // an unknown id falls back to the name
      {"modem a", 0, 0, true},   // names match exactly
      {"Modem X", 0, 0, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.name) + "/" + std::to_string(r.id));
    service.boxes.clear();
    EXPECT_EQ(FindDeviceType(t, r.name, r.id, "Nord Modul 2", messages), r.want);
    EXPECT_EQ(service.Texts(), r.message ? std::vector<std::string>{"Typ unbekannt\rNord Modul 2"} : std::vector<std::string>{});
  }
}

TEST(TGeraeteAdr, FreeAddresses) {
  TGeraeteAdr a;
  EXPECT_EQ(a.FirstFree(), 1);
  for (int i : {1, 2, 3}) a.SetFree(i, false);
  EXPECT_EQ(a.FirstFree(), 4);
  a.SetFree(2, true);
  EXPECT_EQ(a.FirstFree(), 2);
  for (int i = 1; i <= 255; ++i) a.SetFree(i, false);
  EXPECT_EQ(a.FirstFree(), 0);
  for (int outside : {-1, 0, 256}) {
    a.SetFree(outside, true);  // ignored
    EXPECT_FALSE(a.IsFree(outside)) << outside;
  }
  EXPECT_EQ(a.FirstFree(), 0);
}

}  // namespace
}  // namespace configurator
