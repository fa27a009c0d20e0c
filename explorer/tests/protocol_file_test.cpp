// The text protocol: its file name, its lines and its file.
#include <gtest/gtest.h>

#include <chrono>

#include "explorer/protocol_file.h"
#include "platform/testing/temp_dir.h"

namespace explorer {
namespace {

kopl::TDateTime At(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  auto days = sys_days{year{y} / month{mo} / day{d}} - sys_days{1899y / December / 30};
  return double(days.count()) + (h * 3600 + mi * 60 + s) / 86400.0;
}

TEST(ProtocolFile, NameFromDateAndTimeWithoutColonsAndDots) {
  EXPECT_EQ(ProtocolFileName(At(2026, 12, 8, 14, 3, 7)), "OPC_08_12_2026 14-03-07.csv");
  EXPECT_EQ(ProtocolFileName(At(2027, 1, 31, 0, 0, 0)), "OPC_31_01_2027 00-00-00.csv");
}

TEST(ProtocolFile, OneLinePerRowWithFourFields) {
  TItemRowTexts before{"Zentrale.Station1.AE1", "", "X", "-", "", "-", "-"};
  TItemRowTexts after{"Zentrale.Station1.BA1", "path", "X", "255", "$ FF", "14:03:07", "good"};
  TItemRowTexts array{"Zentrale.List", "", " ", "1;2;", "", "14:03:08", "bad"};
  EXPECT_EQ(ProtocolText({&before, &after, &array}),
            "Zentrale.Station1.AE1;-;-;-\r\n"
            "Zentrale.Station1.BA1;255;good;14:03:07\r\n"
            "Zentrale.List;1;2;;bad;14:03:08\r\n");
  EXPECT_EQ(ProtocolText({}), "");
}

TEST(ProtocolFile, OverwritesAnOldFileAndReportsOneItCannotCreate) {
  platform::testing::TempDir dir;
  dir.Write("OPC_x.csv", "old text that is longer than the new one\r\n");
  WriteProtocolFile(dir / "OPC_x.csv", "a;1;good;00:00:01\r\n");
  EXPECT_EQ(dir.Read("OPC_x.csv"), "a;1;good;00:00:01\r\n");
  WriteProtocolFile(dir / "OPC_empty.csv", "");
  EXPECT_TRUE(dir.Exists("OPC_empty.csv"));
  EXPECT_EQ(dir.Read("OPC_empty.csv"), "");

  // A date layout with "/" would make such a name: a folder that is not there.
  EXPECT_THROW(WriteProtocolFile(dir / "OPC_08/12/2026 14-03-07.csv", "x"), EInOutError);
  EXPECT_FALSE(dir.Exists("OPC_08"));
}

}  // namespace
}  // namespace explorer
