#include <gtest/gtest.h>

#include <algorithm>

#include "server/driver/fml.h"
#include "server/driver/utilities.h"
#include "server/opc/item_handle.h"
#include "server/opc/name_space.h"
#include "server/opc/tests/exports_fixture.h"

namespace opc::testing {
namespace {

namespace com = platform::com;

struct HandleRow {
  const char* name;
  ItemHandle parts;
  int32_t handle;
};

class ItemHandles : public ::testing::TestWithParam<HandleRow> {};

TEST_P(ItemHandles, EncodeAndDecode) {
  const HandleRow& row = GetParam();
  EXPECT_EQ(row.parts.Encode(), row.handle);
  ItemHandle back = ItemHandle::Decode(row.handle);
  EXPECT_EQ(back.property, row.parts.property);
  EXPECT_EQ(back.group, row.parts.group);
  EXPECT_EQ(back.station, row.parts.station);
  EXPECT_EQ(back.reg, row.parts.reg);
}

INSTANTIATE_TEST_SUITE_P(
    NameSpace, ItemHandles,
    ::testing::Values(HandleRow{"CentralModemValue", {0, 5, 0, 16}, 80 + 16 * 65536},
                      HandleRow{"StationThreeFirstSystemRegister", {0, 0, 3, 0}, 768},
                      HandleRow{"StationThreeRmType", {5, 0, 3, 0}, 773},
                      HandleRow{"StationThreeAddress", {6, 0, 3, 0}, 774},
                      HandleRow{"LastStationLastRegister", {0, 4, 255, 32767}, 64 + 255 * 256 + 32767 * 65536}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ItemHandlesOverflow, RegisterAbove32767IsRefused) {
  EXPECT_THROW((ItemHandle{0, 1, 1, 32768}.Encode()), std::overflow_error);
  EXPECT_THROW((ItemHandle{0, 1, -1, 0}.Encode()), std::overflow_error);
}

TEST(AddressTextTest, SkipsZeroBytesAndNeverShowsTheFourth) {
  struct Row {
    std::string path;
    const char* text;
  } rows[] = {
      {{12, 0, 7, 0}, "12-7"},
      {{3, 12, 0, 0}, "3-12"},
      {{5, 7, 40, 9}, "5-7-40"},
      {{0, 0, 0, 0}, "0"},
      {{char(200), char(255), 1, 0}, "200-255-1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    driver::TFuMo st;
    st.AdrPath = row.path;
    EXPECT_EQ(AddressText(st), row.text);
  }
}

class NameSpaceTest : public ExportsTest {};

struct TagRow {
  const char* item_id;
  com::VARTYPE type;
  uint32_t access;
  int32_t handle;
};

TEST_F(NameSpaceTest, TagsCarryTypeAccessAndHandle) {
  WriteIni(kStations, kChannels);
  StartLog();
  Load();
  ASSERT_EQ(driver::FatalErrorCode, 0);
  const TagRow rows[] = {
      {"ZFM1.RS_STATUS", com::VT_I4, 1, 0},
      {"ZFM1.RM_FUNKLAYER", com::VT_I4, 1, 80},
      {"ZFM1.RM_STATNR", com::VT_I4, 3, 80 + 16 * 65536},
      {"ZFM1.Pumpe.RS_KOM_OK", com::VT_I4, 3, 256},
      {"ZFM1.Pumpe.RS_KOM_FAIL", com::VT_I4, 1, 256 + 2 * 65536},
      {"ZFM1.Pumpe.DIN16-31", com::VT_I4, 1, 256 + 6 * 65536},
      {"ZFM1.Pumpe.DOUT0-15", com::VT_I4, 3, 256 + 7 * 65536},
      {"ZFM1.Pumpe.Druck", com::VT_R8, 1, 272},
      {"ZFM1.Pumpe.Pegel", com::VT_I4, 1, 272 + 65536},
      {"ZFM1.Pumpe.Frei", com::VT_I4, 3, 272 + 2 * 65536},
      {"ZFM1.Pumpe.E19", com::VT_I4, 1, 288 + 19 * 65536},
      {"ZFM1.Pumpe.Stell", com::VT_I4, 3, 304},
      {"ZFM1.Pumpe.A9", com::VT_I4, 3, 320 + 9 * 65536},
      {"ZFM1.Turm.Temp", com::VT_I4, 1, 528},
  };
  for (const TagRow& row : rows) {
    SCOPED_TRACE(row.item_id);
    const Tag* tag = host.FindTag(row.item_id);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->type, row.type);
    EXPECT_EQ(tag->access, row.access);
    EXPECT_EQ(tag->handle, row.handle);
  }
}

TEST_F(NameSpaceTest, StationsHangAtTheRootWhateverTheirRelayPath) {
  WriteIni(kStations, kChannels);
  StartLog();
  Load();
  ASSERT_EQ(host.Nodes().size(), 3u);
  EXPECT_EQ(host.Nodes()[0].parent, 0u);
  EXPECT_EQ(host.Nodes()[0].name, "ZFM1");
  EXPECT_EQ(host.Nodes()[1].parent, 1u);
  EXPECT_EQ(host.Nodes()[2].parent, 1u);  // Turm, behind relay 3
  EXPECT_EQ(host.Nodes()[2].name, "Turm");
}

TEST_F(NameSpaceTest, PlaceholdersGetNoTagAndTheWriteMarkIsDroppedFromTheRecord) {
  WriteIni(kStations, kChannels);
  StartLog();
  Load();
  for (const Tag& t : host.Tags()) {
    EXPECT_NE(t.name, "#");
    EXPECT_FALSE(t.name.empty());
    EXPECT_NE(t.name[0], '&') << t.item_id;
  }
  const auto pumpe_inputs = std::count_if(host.Tags().begin(), host.Tags().end(), [](const Tag& t) {
    return ItemHandle::Decode(t.handle).station == 1 && ItemHandle::Decode(t.handle).group == 1;
  });
  EXPECT_EQ(pumpe_inputs, 3);  // Druck, Pegel, Frei
  EXPECT_EQ(driver::FML->Items(1).GetWert(1, 2).Name, "Frei");
  EXPECT_EQ(driver::FML->Items(1).GetWert(1, 4).Name, "");
}

TEST_F(NameSpaceTest, SimulationMakesEveryRegisterWritable) {
  WriteIni(kStations, kChannels);
  dir.Write("Ostrel.PAR", "[OPTIONEN]\r\nSIMULATION=1\r\n");
  StartLog();
  Load();
  for (const Tag& t : host.Tags()) EXPECT_EQ(t.access, 3u) << t.item_id;
}

struct PropertyRow {
  const char* item_id;
  uint32_t id;
  const char* description;
  com::Variant value;
  int32_t handle;
};

TEST_F(NameSpaceTest, PropertiesOfChannelsAndStations) {
  WriteIni(kStations, kChannels);
  StartLog();
  Load();
  const PropertyRow rows[] = {
      {"ZFM1.Pumpe.Druck", 5001, "Item Unit", com::Variant::Str("bar"), 273},
      {"ZFM1.Pumpe.Druck", 5002, "Item Faktor", com::Variant::R8(0.1), 274},
      {"ZFM1.Pumpe.Druck", 5003, "Item Offset", com::Variant::R8(0), 275},
      {"ZFM1.Pumpe.Druck", 5004, "Item Decimals", com::Variant::I2(1), 276},
      {"ZFM1.Pumpe.Druck", 5007, "Item Infos", com::Variant::I2(3), 277},
      {"ZFM1.Pumpe.E19", 5007, "Item Infos", com::Variant::I2(1), 288 + 19 * 65536 + 5},
      {"ZFM1.Pumpe.Stell", 5007, "Item Infos", com::Variant::I2(2), 309},
      {"ZFM1.Pumpe.A9", 5007, "Item Infos", com::Variant::I2(0), 320 + 9 * 65536 + 5},
      {"ZFM1.Turm.Temp", 5001, "Item Unit", com::Variant::Str("\u00B0C"), 529},
      {"ZFM1.RS_STATUS", 5005, "RM Type", com::Variant::Str("ZT"), 5},
      {"ZFM1.RS_STATUS", 5006, "Adress", com::Variant::Str("0"), 6},
      {"ZFM1.Pumpe.RS_KOM_OK", 5005, "RM Type", com::Variant::Str("RM3"), 261},
      {"ZFM1.Pumpe.RS_KOM_OK", 5006, "Adress", com::Variant::Str("12"), 262},
      {"ZFM1.Turm.RS_KOM_OK", 5006, "Adress", com::Variant::Str("3-40"), 518},
  };
  for (const PropertyRow& row : rows) {
    SCOPED_TRACE(std::string(row.item_id) + " " + std::to_string(row.id));
    auto props = host.PropertiesOf(row.item_id);
    ASSERT_TRUE(props.count(row.id));
    const Property& p = props.at(row.id);
    EXPECT_EQ(p.description, row.description);
    EXPECT_EQ(p.type, row.value.vt());
    EXPECT_EQ(p.value, row.value);
    EXPECT_EQ(p.access, 1u);
    EXPECT_EQ(p.handle, row.handle);
  }
  // Only channels and each station's first system register carry properties.
  EXPECT_TRUE(host.PropertiesOf("ZFM1.Pumpe.RS_KOM_FAIL").empty());
  EXPECT_TRUE(host.PropertiesOf("ZFM1.RM_FUNKLAYER").empty());
}

TEST_F(NameSpaceTest, TraceLinesWithDebugBits32And1) {
  WriteIni(kStations, kChannels);
  StartLog({{"DEBUG", "33"}});
  Load();
  const std::vector<std::string> expected = {
      "NS: FM.Name=Pumpe",
      "\"RS_KOM_OK\" (NS: 1:0-0)",
      " NS: BuildProperties.Typ RM3",
      " NS: BuildProperties.Adressen 12",
      "\"Druck\" (NS: 1:1-0)",
      " NS: BuildProperties  .Einheit=bar .Faktor=0.1 .Offset=0 .NKs=1 .Infos=3",
  };
  auto log = LogTexts();
  auto at = log.begin();
  for (const std::string& line : expected) {
    at = std::find(at, log.end(), line);
    ASSERT_NE(at, log.end()) << "missing in order: " << line;
  }
  EXPECT_EQ(log.back(), "Build-NS: Ende");
}

struct NodeFailureRow {
  const char* name;
  const char* node;
  uint32_t last_error;
  int32_t fatal;
  const char* last_line;
  bool pumpe_built, turm_built;
};

class NodeFailures : public NameSpaceTest, public ::testing::WithParamInterface<NodeFailureRow> {};

TEST_P(NodeFailures, EndInTheFatalCode) {
  const NodeFailureRow& row = GetParam();
  WriteIni(kStations, kChannels);
  StartLog();
  host.Initialize();
  host.FailNode(row.node, row.last_error);
  host.BuildNameSpace();
  EXPECT_EQ(driver::FatalErrorCode, row.fatal);
  EXPECT_EQ(LogTexts().back(), row.last_line);
  auto has = [&](int32_t handle) {
    return std::any_of(host.Tags().begin(), host.Tags().end(), [&](const Tag& t) { return t.handle == handle; });
  };
  EXPECT_EQ(has(272), row.pumpe_built);  // Pumpe.Druck
  EXPECT_EQ(has(528), row.turm_built);   // Turm.Temp
}

INSTANTIATE_TEST_SUITE_P(
    NameSpace, NodeFailures,
    ::testing::Values(
        NodeFailureRow{"CentralHandle", "ZFM1", 6, -23,
                       "NS: Create, Exception=-$17, Name: Error at createNode ZFM handle!|(code=-23)|\"ZFM1\" (NS: 0)", false, false},
        NodeFailureRow{"CentralParameter", "ZFM1", 87, -24,
                       "NS: Create, Exception=-$18, Name: Error at createNode ZFM parameter!|(code=-24)|\"ZFM1\" (NS: 0)", false,
                       false},
        NodeFailureRow{"CentralException", "ZFM1", 1064, -25,
                       "NS: Create, Exception=-$19, Name: Error at createNode ZFM exception!|(code=-25)|\"ZFM1\" (NS: 0)", false,
                       false},
        NodeFailureRow{"CentralOtherGoesOn", "ZFM1", 5, 0, "Build-NS: Ende", true, true},
        NodeFailureRow{"StationOther", "Turm", 5, -26,
                       "NS: Create, Exception=-$1A, Name: Error at creating ZFM!|(code=-26)|\"Turm\" (NS: 2)", true, false},
        NodeFailureRow{"StationParameter", "Turm", 87, -24,
                       "NS: Create, Exception=-$18, Name: Error at createNode ZFM parameter!|(code=-24)|\"Turm\" (NS: 2)", true,
                       false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NameSpaceTest, RefusedTagEndsItsStationOnlyAndNamesTheItemAtStart) {
  WriteIni(kStations, kChannels);
  StartLog();
  host.Initialize();
  host.FailTag("Pegel");
  host.BuildNameSpace();
  EXPECT_EQ(driver::FatalErrorCode, -20);
  EXPECT_EQ(driver::FailItemName(), "\"Pegel\" (NS: 1:1-1)");
  EXPECT_GE(host.Handle("ZFM1.Pumpe.Druck"), 0);  // before the refused one
  EXPECT_LT(host.Handle("ZFM1.Pumpe.Frei"), 0);   // the rest of the group
  EXPECT_LT(host.Handle("ZFM1.Pumpe.E0"), 0);     // and the station's later groups
  EXPECT_GE(host.Handle("ZFM1.Turm.Temp"), 0);    // the next station is built
  auto log = LogFrom("NS: Create");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "NS: Create, Exception=NS: Error creating Item!|(code=-20)|\"Pegel\" (NS: 1:1-1)");
  EXPECT_EQ(log[1], "Build-NS: Ende");

  EXPECT_FALSE(host.Start());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0],
            "OPC-Server could not be started!\rErr= -$14\rMsg= NS: Error creating Item!\r(code=-20)\r"
            "\"Pegel\" (NS: 1:1-1)");
}

// A station whose node the host refuses is named in the message, not an item that failed in an
// earlier station.
TEST_F(NameSpaceTest, ARefusedNodeNamesItsOwnStation) {
  WriteIni(kStations, kChannels);
  StartLog();
  host.Initialize();
  host.FailTag("Pegel");
  host.FailNode("Turm", 87);
  host.BuildNameSpace();
  EXPECT_EQ(LogTexts().back(),
            "NS: Create, Exception=-$18, Name: Error at createNode ZFM parameter!|(code=-24)|\"Turm\" (NS: 2)");
  EXPECT_EQ(driver::FailItemName(), "\"Turm\" (NS: 2)");
}

struct DuplicateRow {
  const char* name;
  std::string stations, channels;
  const char* box;                 // after "OPC-Server could not be started!" CR
  std::vector<std::string> built;  // item IDs the build made before the refusal
};

class DuplicateNames : public NameSpaceTest, public ::testing::WithParamInterface<DuplicateRow> {};

// Item IDs must be unique, so a second station or channel of one name is refused; the message
// says which name it is and where both stand in Ostrel.INI.
TEST_P(DuplicateNames, AreRefusedWithTheNameAndWhereItStands) {
  const DuplicateRow& row = GetParam();
  WriteIni(row.stations, row.channels);
  StartLog();
  Load();
  EXPECT_NE(driver::FatalErrorCode, 0);
  for (const std::string& id : row.built) EXPECT_GE(host.Handle(id), 0) << id;
  EXPECT_FALSE(host.Start());
  EXPECT_EQ(boxes, std::vector<std::string>{std::string("OPC-Server could not be started!\r") + row.box});
}

const std::string kPumpeChannels = "[ADR012]\r\nKANAL=AE,Druck,bar,1,0,0\r\n";
const std::string kTurmChannels = "[ADR040]\r\nKANAL=AE,Temp,,1,0,0\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    NameSpace, DuplicateNames,
    ::testing::Values(
        DuplicateRow{"TwoStations", "TYP=Pumpe,RM3,1,12\r\nTYP=Turm,RM3,1,40\r\nTYP=Pumpe,RM3,1,13\r\n",
                     kPumpeChannels + "\r\n" + kTurmChannels,
                     "Err= -$18\rMsg= Name: Error at createNode ZFM parameter!\r(code=-24)\r"
                     "Name \"Pumpe\" used twice: station 1 [ADR012] and station 3 [ADR013]",
                     {"ZFM1.Pumpe.Druck", "ZFM1.Turm.Temp"}},
        DuplicateRow{"TwoChannelsOfOneKind", kStations, kPumpeChannels + "KANAL=AE,Druck,bar,1,0,0\r\n\r\n" + kTurmChannels,
                     "Err= -$14\rMsg= NS: Error creating Item!\r(code=-20)\r"
                     "Name \"Druck\" used twice in station \"Pumpe\" [ADR012]",
                     {"ZFM1.Pumpe.Druck", "ZFM1.Turm.Temp"}},
        DuplicateRow{"TwoChannelsOfTwoKinds", kStations,
                     kPumpeChannels + "KANAL=BA,Ventil,,1,0,0\r\nKANAL=AA,Ventil,,1,0,0\r\n\r\n" + kTurmChannels,
                     "Err= -$14\rMsg= NS: Error creating Item!\r(code=-20)\r"
                     "Name \"Ventil\" used twice in station \"Pumpe\" [ADR012]",
                     {"ZFM1.Pumpe.Druck", "ZFM1.Turm.Temp"}},
        DuplicateRow{"OnceWithTheWriteMark", kStations, kPumpeChannels + "KANAL=AE,&Druck,bar,1,0,0\r\n\r\n" + kTurmChannels,
                     "Err= -$14\rMsg= NS: Error creating Item!\r(code=-20)\r"
                     "Name \"Druck\" used twice in station \"Pumpe\" [ADR012]",
                     {"ZFM1.Pumpe.Druck", "ZFM1.Turm.Temp"}},
        // A name ends at a NUL in the loader as in every C string the name goes through.
        DuplicateRow{"TwoChannelsThatDifferOnlyAfterANul", kStations,
                     kPumpeChannels + std::string("KANAL=AE,A\0b\r\nKANAL=AE,A\0c\r\n\r\n", 30) + kTurmChannels,
                     "Err= -$14\rMsg= NS: Error creating Item!\r(code=-20)\r"
                     "Name \"A\" used twice in station \"Pumpe\" [ADR012]",
                     {"ZFM1.Pumpe.Druck", "ZFM1.Pumpe.A", "ZFM1.Turm.Temp"}},
        DuplicateRow{"ChannelNamedLikeASystemRegister", kStations,
                     "[ADR012]\r\nKANAL=AE,RS_KOM_OK,,1,0,0\r\n\r\n" + kTurmChannels,
                     "Err= -$14\rMsg= NS: Error creating Item!\r(code=-20)\r"
                     "Name \"RS_KOM_OK\" used twice in station \"Pumpe\" [ADR012]: a channel has the name of a "
                     "system register",
                     {"ZFM1.Pumpe.RS_KOM_OK", "ZFM1.Turm.Temp"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NameSpaceTest, BuildAfterFailedInitialiseLogsOnlyStartAndRefusal) {
  StartLog();  // no Ostrel.INI
  host.Initialize();
  ASSERT_EQ(driver::FatalErrorCode, -13);
  host.BuildNameSpace();
  EXPECT_EQ(LogFrom("Build-NS:"),
            (std::vector<std::string>{"Build-NS: Start",
                                      "NS: Create, Exception=-$1B, Error before creating names, Abbort!|(code=-27)"}));
  EXPECT_EQ(driver::FatalErrorCode, -27);
  EXPECT_TRUE(host.Nodes().empty());
}

TEST_F(NameSpaceTest, StationWithoutNameFailsTheBuild) {
  WriteIni("TYP=Pumpe,RM3,1,12\r\nTYP=,RM3,1,13\r\n");
  StartLog();
  Load();
  EXPECT_EQ(driver::FatalErrorCode, -27);
  EXPECT_EQ(LogTexts().back(), "NS: Create, Exception=station 2 has no name");
  EXPECT_EQ(host.Nodes().size(), 2u);
}

TEST_F(NameSpaceTest, FailedPropertyIsOnlyLogged) {
  StartLog();
  TNameSpaceBuilder builder(nullptr, nullptr, [](uint32_t, uint32_t, const char*, com::VARTYPE, uint32_t,
                                                 const com::RawVariant*, int32_t, uint32_t*) { return int32_t(1); });
  driver::TWert w;
  w.NKs = 40000;  // no 16-bit form
  EXPECT_EQ(builder.BuildProperties(1, &w, 272, 3), -22);
  EXPECT_EQ(builder.BuildProperties(1, nullptr, 272, 3), -22);
  EXPECT_EQ(builder.BuildSystemProperties(1, nullptr, 256), -22);
  EXPECT_EQ(LogFrom("NS: BuildProperties"), (std::vector<std::string>{
                            "NS: BuildProperties, Exception=Range check error",
                            "NS: BuildProperties, Exception=-$16, NS: Error at BuildProperty!|(code=-22)",
                            "NS: BuildSystemProperties, Exception=-$16, NS: Error at BuildProperty!|(code=-22)",
                        }));
  EXPECT_EQ(driver::FatalErrorCode, 0);
}

}  // namespace
}  // namespace opc::testing
