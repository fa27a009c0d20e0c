#include "configurator/channel_grid.h"

#include <gtest/gtest.h>

#include "configurator/tests/fixture.h"

namespace configurator {
namespace {

using testing::ConfiguratorTest;

TEST(GeneralText, ShortestFormWithAPointWhateverTheLocale) {
  struct Row {
    double value;
    const char* text;
  } rows[] = {
      {0, "0"},          {1, "1"},           {-250, "-250"},       {0.1, "0.1"},        {-0.25, "-0.25"},
      {0.0001, "0.0001"}, {0.00001, "1E-5"}, {1.5e20, "1.5E20"},   {123456.789, "123456.789"},
      {0.1 + 0.2, "0.3"}, {1e14, "100000000000000"},               {1e15, "1E15"},      {-2.5e-7, "-2.5E-7"},
  };
  for (const Row& r : rows) EXPECT_EQ(GeneralText(r.value), r.text) << r.value;
}

TEST(ParseReal, TakesWhatAUserTypesAndNothingElse) {
  struct Row {
    const char* text;
    std::optional<double> value;
  } rows[] = {
      {"1.5", 1.5},  {" 2,5 ", 2.5}, {"-0.25", -0.25}, {"+3", 3},          {"1e3", 1000},     {"1,5E2", 150},
      {"", {}},      {"  ", {}},     {"abc", {}},      {"1.2.3", {}},      {"1,2.3", {}},     {"1,2,3", {}},
      {"inf", {}},   {"nan", {}},    {"--1", {}},      {"+-1", {}},        {"++1", {}},       {"1 2", {}},
  };
  for (const Row& r : rows) EXPECT_EQ(ParseReal(r.text), r.value) << "'" << r.text << "'";
}

TEST(ParseInteger, DecimalIntegersOnly) {
  struct Row {
    const char* text;
    std::optional<int32_t> value;
  } rows[] = {{"3", 3}, {" 10 ", 10}, {"-1", -1}, {"+7", 7}, {"", {}}, {"1.5", {}}, {"99999999999", {}}, {"x", {}}};
  for (const Row& r : rows) EXPECT_EQ(ParseInteger(r.text), r.value) << "'" << r.text << "'";
}

TEST(ChannelColumnWidths, TheNameColumnFillsTheRest) {
  EXPECT_EQ(ChannelColumnWidths(400), (std::array<int, 6>{64, 120, 64, 64, 64, 64}));
  EXPECT_EQ(ChannelColumnWidths(440), (std::array<int, 6>{64, 120, 64, 64, 64, 64}));
  EXPECT_EQ(ChannelColumnWidths(457), (std::array<int, 6>{64, 137, 64, 64, 64, 64}));
  // A header wider than its column widens it; the name column gives up what it grew by.
  EXPECT_EQ(ChannelColumnWidths(457, {0, 0, 0, 0, 0, 79}), (std::array<int, 6>{64, 122, 64, 64, 64, 79}));
  EXPECT_EQ(ChannelColumnWidths(400, {70, 0, 0, 0, 0, 79}), (std::array<int, 6>{70, 99, 64, 64, 64, 79}));
  EXPECT_EQ(ChannelColumnWidths(300, {0, 150, 0, 0, 0, 0}), (std::array<int, 6>{64, 150, 64, 64, 64, 64}));
}

TEST(ChannelLabels, NumbersRestartWithEveryChangeOfKind) {
  auto ch = [](const char* kind) {
    TWert w;
    InitChannel(w, "x", kind);
    return w;
  };
  TChannelLabelFormats f{"AO%d", "AI%d", "DO%d", "DI%d"};
  EXPECT_EQ(ChannelLabels({ch("AA"), ch("AA"), ch("AA"), ch("AE"), ch("AE")}, f),
            (std::vector<std::string>{"AO1", "AO2", "AO3", "AI1", "AI2"}));
  EXPECT_EQ(ChannelLabels({ch("BE"), ch("BA"), ch("BE"), ch("xx")}, f), (std::vector<std::string>{"DI1", "DO1", "DI1", ""}));
}

class ChannelGridTest : public ConfiguratorTest {
 protected:
  ChannelGridTest() {
    TStationNode* root = Root();
    auto st = Station("Brunnen", 3);
    st->Channels = {Channel("AA", "Stell", "%", 0.5, 0, 1), Channel("AE", "Pegel", "m", 0.1, -2, 2),
                    Channel("BE", "Alarm")};
    node = Add(root, std::move(st));
    project->CurrentNode = node;
    grid.SetHeaders({"", "Name", "Einheit", "Faktor", "Offset", "Nachkomma"});
    grid.LabelFormats = {"AO %d", "AI %d", "DO %d", "DI %d"};
    grid.Fill(*node->Station());
  }

 public:
  TWert& Ch(int row) { return node->Station()->Channels[size_t(row - 1)]; }

 protected:
  TStationNode* node;
  TChannelGrid grid{*project, messages};
};

TEST_F(ChannelGridTest, CellsShowTheStationsChannels) {
  ASSERT_EQ(grid.RowCount(), 4);
  std::vector<std::string> row2;
  for (int c = 0; c < 6; ++c) row2.push_back(grid.Cell(c, 2));
  EXPECT_EQ(row2, (std::vector<std::string>{"AI 1", "Pegel", "m", "0.1", "-2", "2"}));
  EXPECT_EQ(grid.Cell(3, 0), "Faktor");
  EXPECT_EQ(grid.Cell(0, 3), "DI 1");
}

TEST_F(ChannelGridTest, CommitChecksAndStoresTheCell) {
  struct Row {
    const char* name;
    int col, row;
    const char* text;
    bool accepted;
    std::vector<std::string> boxes;
    std::function<bool(ChannelGridTest&)> stored;
  } rows[] = {
      {"new name", 1, 1, "Sollwert", true, {}, [](auto& t) { return t.Ch(1).Name == "Sollwert"; }},
      {"empty name", 1, 1, "", true, {}, [](auto& t) { return t.Ch(1).Name.empty(); }},
      {"full stop in name", 1, 1, "Soll.wert", false, {"T7"}, [](auto& t) { return t.Ch(1).Name == "Stell"; }},
      {"sharp s in name", 1, 2, "Ma\xDF", false, {"T7"}, [](auto& t) { return t.Ch(2).Name == "Pegel"; }},
      {"name of another channel", 1, 1, "Alarm", false, {"T12\rAlarm"}, [](auto& t) { return t.Ch(1).Name == "Stell"; }},
      {"own name again", 1, 3, "Alarm", true, {}, [](auto& t) { return t.Ch(3).Name == "Alarm"; }},
      {"unit with a comma", 2, 1, "m,s", false, {"Die Einheit enth\xE4lt ein unzul\xE4ssiges Zeichen."}, [](auto& t) { return t.Ch(1).Einheit == "%"; }},
      {"unit", 2, 1, "m\xB3/h", true, {}, [](auto& t) { return t.Ch(1).Einheit == "m\xB3/h"; }},
      {"factor with a comma", 3, 1, "0,25", true, {}, [](auto& t) { return t.Ch(1).Faktor == 0.25; }},
      {"factor no number", 3, 1, "abc", false, {"Der Wert ist keine Zahl.\rabc"},
       [](auto& t) { return t.Ch(1).Faktor == 0.5; }},
      {"factor the reader would drop", 3, 1, "2e6", false, {"Der Wert liegt au\xDF" "erhalb des zul\xE4ssigen Bereichs.\r2e6 (-999999..999999)"},
       [](auto& t) { return t.Ch(1).Faktor == 0.5; }},
      {"offset", 4, 2, "-999999", true, {}, [](auto& t) { return t.Ch(2).Offset == -999999; }},
      {"decimals", 5, 2, "10", true, {}, [](auto& t) { return t.Ch(2).NKs == 10; }},
      {"decimals too many", 5, 2, "11", false, {"Der Wert liegt au\xDF" "erhalb des zul\xE4ssigen Bereichs.\r11 (0..10)"}, [](auto& t) { return t.Ch(2).NKs == 2; }},
      {"decimals no integer", 5, 2, "1.5", false, {"Der Wert ist keine ganze Zahl.\r1.5"},
       [](auto& t) { return t.Ch(2).NKs == 2; }},
  };
  const std::vector<TWert> original = node->Station()->Channels;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    node->Station()->Channels = original;
    grid.Fill(*node->Station());
    messages_service.boxes.clear();
    project->Modified = false;
    grid.SetCellText(r.col, r.row, r.text);
    EXPECT_EQ(grid.CommitChannelCell(r.col, r.row), r.accepted);
    EXPECT_EQ(messages_service.Texts(), r.boxes);
    for (const auto& box : messages_service.boxes) EXPECT_EQ(box.kind, platform::MessageKind::Error) << box.text;
    EXPECT_TRUE(r.stored(*this));
    EXPECT_EQ(project->Modified, node->Station()->Channels != original) << "changed exactly when a value did";
  }
}

// Text as the window's editor holds it: a character that Windows-1252 lacks would be stored as
// "?", so the cell is refused with a message that names it, until the text can be stored.
TEST_F(ChannelGridTest, ACharacterTheCodePageLacksRefusesTheCell) {
  struct Row {
    const char* name;
    int col;
    std::u16string typed;
    std::vector<std::string> boxes;
    std::string stored;
  } rows[] = {
      {"omega in a name", 1, u"\u03A91", {"Dieses Zeichen kann nicht gespeichert werden.\rU+03A9"}, "Stell"},
      {"omega in a unit", 2, u"k\u03A9", {"Dieses Zeichen kann nicht gespeichert werden.\rU+03A9"}, "%"},
      {"euro sign in a unit", 2, u"\u20AC/h", {}, "\x80/h"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    grid.Fill(*node->Station());
    messages_service.boxes.clear();
    ASSERT_TRUE(grid.SelectCell(r.col, 1));
    grid.SetCellText(r.col, 1, r.typed);
    EXPECT_EQ(grid.SelectCell(r.col + 1, 1), r.boxes.empty());
    EXPECT_EQ(messages_service.Texts(), r.boxes);
    EXPECT_EQ(TChannelGrid::ValueText(Ch(1), r.col), r.stored);
    grid.Exit();
    EXPECT_EQ(grid.Cell(r.col, 1), r.stored) << "leaving the grid brings the stored value back";
    EXPECT_TRUE(grid.SelectCell(1, 1));
  }
}

// A cell taken with the value it has is no change to save, however the value is typed.
TEST_F(ChannelGridTest, ACellTakenAsItWasIsNoChange) {
  struct Row {
    int col, row;
    const char* text;
  } rows[] = {{1, 1, "Stell"}, {2, 1, "%"},  {3, 1, "0,5"},  {3, 1, " 0.50 "},
              {4, 2, "-2"},    {5, 2, "+2"}, {1, 3, "Alarm"}};
  const std::vector<TWert> original = node->Station()->Channels;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    project->Modified = false;
    grid.SetCellText(r.col, r.row, r.text);
    EXPECT_TRUE(grid.CommitChannelCell(r.col, r.row));
    EXPECT_FALSE(project->Modified);
    EXPECT_TRUE(node->Station()->Channels == original);
  }
  grid.SetCellText(2, 1, "%%");
  EXPECT_TRUE(grid.CommitChannelCell(2, 1));
  EXPECT_TRUE(project->Modified) << "a change still is one";
}

TEST_F(ChannelGridTest, AStationWithoutAddressTakesNothing) {
  node->Station()->Address = 0;
  grid.SetCellText(1, 1, "Neu");
  EXPECT_TRUE(grid.CommitChannelCell(1, 1));
  EXPECT_EQ(Ch(1).Name, "Stell");
  EXPECT_FALSE(project->Modified);
}

TEST_F(ChannelGridTest, ARefusedCellHoldsTheSelectionAndGetsItsValueBackOnExit) {
  ASSERT_TRUE(grid.SelectCell(3, 1));
  grid.SetCellText(3, 1, "viel");
  EXPECT_FALSE(grid.SelectCell(4, 1));
  EXPECT_EQ(grid.Col, 3);
  EXPECT_EQ(grid.Cell(3, 1), "viel");
  grid.Exit();
  EXPECT_EQ(grid.Cell(3, 1), "0.5") << "the factor comes back, not the name";
  EXPECT_TRUE(grid.SelectCell(4, 1));
  EXPECT_EQ(messages_service.boxes.size(), 2u);
}

}  // namespace
}  // namespace configurator
