#include "configurator/model.h"

#include <gtest/gtest.h>

#include "configurator/tests/fixture.h"

namespace configurator {
namespace {

TEST(TCustomFM, SetName) {
  struct Row {
    const char* name;
    bool taken;
  } rows[] = {
      {"Nord 1", true}, {"", true}, {"Stra\xDF" "e;2", true}, {"Nord.1", false}, {"A!", false}, {"a,b", false},
      {"a/b", false},   {"a\\b", false}, {"a|b", false},  {"a\"b", false},  {"#1", false},   {"it's", false},
      {"a\xB4", false}, {"a`", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TCustomFM fm;
    fm.Name = "alt";
    fm.SetName(r.name);
    EXPECT_EQ(fm.Name, r.taken ? r.name : "alt");
    EXPECT_EQ(fm.ErrorCode, r.taken ? 0 : 2);
  }
}

TEST(TZFM, NewObjectAndNesting) {
  TZFM z;
  EXPECT_EQ(z.Address, 0);
  EXPECT_EQ(z.Port, "COM1");
  EXPECT_EQ(z.BaudRate, serial::br9600);
  EXPECT_EQ(z.StopBits, serial::sbOneStopBit);
  for (int flags : {0, 1, 2, 3}) {
    z.DeviceType.Flags = flags;
    EXPECT_EQ(z.IsNestingMode(), flags == 1 || flags == 2) << flags;
  }
}

class StationLineTest : public testing::ConfiguratorTest {
 protected:
  std::unique_ptr<TFuMo> FromLine(const std::string& line, const std::string& config) {
    return std::make_unique<TFuMo>(line, config, TStationContext{project->Addresses(), tables, messages});
  }
};

TEST_F(StationLineTest, Fields) {
  struct Row {
    const char* line;
    const char* config;
    const char* name;
    int32_t address, parent1, parent2;
    const char* type;
    std::vector<std::string> modules;
  } rows[] = {
      {"Pumpe,RM-Gro\xDF,0,12,3,0", "11", "Pumpe", 12, 3, 0, "RM-Kompakt", {}},  // the id wins over the name
      {"Pumpe,RM-Gro\xDF,0,12,3,0", "", "Pumpe", 12, 3, 0, "RM-Gro\xDF", {}},
      {"S,RM-Kompakt,0,300,0,256", "", "S", 1, 0, 0, "RM-Kompakt", {}},          // out of range: defaults
      {" Nord.1 ,RM-Kompakt,x,5", "", "Nord.1", 5, 0, 0, "RM-Kompakt", {}},      // no name check when reading
      {"M,RM-Kompakt,0,6,0,0,AO-2,DI-8", "11,0,21", "M", 6, 0, 0, "RM-Kompakt", {"AO-2", "DI-8"}},
      {"M,RM-Kompakt,0,6,0,0,,", "", "M", 6, 0, 0, "RM-Kompakt", {"kein Modul"}},
      {"M,RM-Kompakt,0,6,0,0,a,b,c,d,e,f,g,h,i,j", "11,21,21,21,21,21,21,21,21,21,21", "M", 6, 0, 0, "RM-Kompakt",
       std::vector<std::string>(8, "DI-8")},  // more modules than slots: the rest is ignored
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    project->ResetProject();
    auto st = FromLine(r.line, r.config);
    EXPECT_EQ(st->Name, r.name);
    EXPECT_EQ(st->Address, r.address);
    EXPECT_EQ(st->Parent1, r.parent1);
    EXPECT_EQ(st->Parent2, r.parent2);
    EXPECT_EQ(st->DeviceType.Name, r.type);
    ASSERT_EQ(st->ModuleCount, int32_t(r.modules.size()));
    for (size_t i = 0; i < r.modules.size(); ++i) EXPECT_EQ(st->Modules[i].Name, r.modules[i]);
    EXPECT_FALSE(project->Addresses().IsFree(r.address));
    EXPECT_TRUE(st->Channels.empty());
  }
}

TEST_F(StationLineTest, NewStationTakesTheFirstFreeAddressWithoutUsingIt) {
  project->Addresses().SetFree(1, false);
  TFuMo st(project->Addresses());
  EXPECT_EQ(st.Address, 2);
  EXPECT_EQ(st.Parent1, -1);
  EXPECT_EQ(st.Parent2, -1);
  EXPECT_TRUE(project->Addresses().IsFree(2));
}

TEST(TFuMo, CountsAndChannelNames) {
  TGeraeteAdr addresses;
  TFuMo st(addresses);
  for (auto [kind, name] : {std::pair{"BE", "T1"}, {"BE", "T2"}, {"be", "T3"}, {"AA", "T4"}, {"BAx", "T5"}}) {
    TWert w;
    InitChannel(w, name, kind);
    st.Channels.push_back(w);
  }
  EXPECT_EQ(st.Channels[4].Kind, "BA");
  EXPECT_EQ(st.CountBE(), 2);
  EXPECT_EQ(st.CountAA(), 1);
  EXPECT_EQ(st.CountBA(), 1);
  EXPECT_EQ(st.CountAE(), 0);

  struct Row {
    const char* name;
    int32_t position;
    bool used;
  } rows[] = {
      {"T2", 2, false}, {"T2", 1, true}, {"T2", 0, true}, {"t2", 0, false}, {"T9", 0, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.name) + "@" + std::to_string(r.position));
    EXPECT_EQ(st.ChannelNameUsed(r.name, r.position), r.used);
  }
  st.Channels[0].Name = "T2";
  EXPECT_TRUE(st.ChannelNameUsed("T2", 2));
}

TEST(InitChannel, ResetsTheRecord) {
  TWert w{"AE", "alt", "bar", 2, 3, 4};
  InitChannel(w, "AI1", "AE-Kanal");
  EXPECT_EQ(w.Kind, "AE");
  EXPECT_EQ(w.Name, "AI1");
  EXPECT_EQ(w.Einheit, "");
  EXPECT_EQ(w.Faktor, 0);
  EXPECT_EQ(w.Offset, 0);
  EXPECT_EQ(w.NKs, 0);
}

}  // namespace
}  // namespace configurator
