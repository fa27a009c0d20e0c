#include "configurator/project_file.h"

#include <gtest/gtest.h>

#include <cmath>

#include "configurator/tests/fixture.h"

namespace configurator {
namespace {

using testing::ConfiguratorTest;
using testing::DataFile;
using testing::ReadFile;

TEST(RealText, WholeNumbersPlainOthersScientific) {
  struct Row {
    double value;
    const char* text;
  } rows[] = {
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-250, "-250"},
      {999999, "999999"},
      {0.1, " 1.00000000000000E-0001"},
      {-0.25, "-2.50000000000000E-0001"},
      {1.5, " 1.50000000000000E+0000"},
      {12345.678, " 1.23456780000000E+0004"},
      {1e-300, " 1.00000000000000E-0300"},
      {0.30000000000000004, " 3.00000000000000E-0001"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    std::string text = RealText(r.value);
    EXPECT_EQ(text, r.text);
    if (text.find('E') != std::string::npos) {
      EXPECT_EQ(text.size(), 23u);
    }
  }
  EXPECT_THROW(RealText(NAN), std::domain_error);
  EXPECT_THROW(RealText(-INFINITY), std::domain_error);
}

class ProjectFileTest : public ConfiguratorTest {};

TEST_F(ProjectFileTest, ProjectWithoutStations) {
  Root("Z", 0);
  EXPECT_EQ(ProjectText(project->Tree),
            "[ZENTRALFUNKMODEM]\r\n"
            "TYP=Z,ISM-Modem,6\r\n"
            "Option=0,0\r\n"
            "RS232=COM1,9600,None,8,1\r\n"
            "MODUS=0\r\n"
            "\r\n"
            "[UNTERSTATIONEN]\r\n"
            "\r\n"
            "[KONFIGURATOR]\r\n");
}

TEST_F(ProjectFileTest, StationWithoutChannels) {
  Add(Root("Z", 0), Station("S", 5));
  std::string text = ProjectText(project->Tree);
  EXPECT_NE(text.find("[UNTERSTATIONEN]\r\nTYP=S,RM-Kompakt,0,5,0,0\r\n\r\n[KONFIGURATOR]\r\nS=11\r\n"
                      "\r\n[ADR005+]\r\nInfo=9,2,0,0,0,0\r\nOption=0,0\r\n[ADR005]\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.substr(text.size() - 10), "[ADR005]\r\n");
  EXPECT_EQ(text.find("RELAISSTATIONEN"), std::string::npos);
}

// The whole format at once: every section, all three depths, relays, modules, every channel
// kind, umlauts, the real-number forms. The golden file is Windows-1252 with CR LF.
TEST_F(ProjectFileTest, SampleProjectIsWrittenByteForByte) {
  BuildSampleProject();
  EXPECT_EQ(ProjectText(project->Tree), ReadFile(DataFile("sample.INI")));
}

TEST_F(ProjectFileTest, ParentsComeFromThePlaceInTheTree) {
  BuildSampleProject();
  ProjectText(project->Tree);
  struct Row {
    const char* name;
    int32_t parent1, parent2;
  } rows[] = {
      {"Brunnen", 0, 0}, {"Hochbeh\xE4lter", 3, 0}, {"Wei\xDF" "enbach", 3, 12}, {"\xD6lm\xFChle", 3, 12}, {"Pumpwerk", 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const TFuMo* found = nullptr;
    for (TStationNode* n = project->Tree.Next(nullptr); n; n = project->Tree.Next(n))
      if (n->Text() == r.name) found = n->Station();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Parent1, r.parent1);
    EXPECT_EQ(found->Parent2, r.parent2);
  }
}

}  // namespace
}  // namespace configurator
