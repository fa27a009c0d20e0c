// The station CSV log: the one-second throttle on the test clock, the file's layout, and the
// purge of old files.
#include "visualisation/station_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/testing/temp_dir.h"

namespace lumaro {
namespace {

using namespace std::chrono_literals;
using platform::com::Variant;

// 01.02.2026 10:00:00 UTC (the tests run in UTC).
const platform::Clock::TimePoint kFebFirst{std::chrono::seconds{1769940000}};

class StationLogTest : public ::testing::Test {
 protected:
  platform::testing::TempDir dir;
  platform::ManualClock clock{kFebFirst};
  std::string log_dir = dir.Path() + "Log/";
  std::vector<std::string> columns = {"RS_STATUS", "RS_KOM_OK", "RS_KOM_FAIL", "RM_RECPOWER", "Druck", "", "Motor"};
  std::vector<Variant> values = std::vector<Variant>(7);

  std::string Read(const std::string& name) { return dir.Read("Log/" + name); }
  void MakeLogDir() { std::filesystem::create_directories(log_dir); }
};

TEST_F(StationLogTest, AtMostOneLinePerSecond) {
  TStationLog log(log_dir, "Pumpe", NumberFormat{',', ';'}, clock);
  values[0] = Variant::I4(1);
  values[4] = Variant::R8(2.5);
  log.DataChanged(columns, values);  // the first change writes at once
  clock.Advance(400ms);
  values[0] = Variant::I4(-1);
  log.DataChanged(columns, values);  // within the second: nothing
  clock.Advance(600ms);
  log.DataChanged(columns, values);  // a second after the first line
  EXPECT_EQ(Read("Stationslog-Pumpe-260201.csv"),
            "Zeitstempel;RS_STATUS;RS_KOM_OK;RS_KOM_FAIL;RM_RECPOWER;Druck;;Motor\r\n"
            "01.02.2026 10:00:00;1;;;;2,5;;\r\n"
            "01.02.2026 10:00:01;-1;;;;2,5;;\r\n");
}

TEST_F(StationLogTest, ScaledValuesAreWrittenAsValueTextsNotAsEveryDigitOfTheDouble) {
  TStationLog log(log_dir, "Pumpe", NumberFormat{',', ';'}, clock);
  values[3] = Variant::R4(1.0f / 3.0f);
  values[4] = Variant::R8(237 * 0.1);  // raw value 237 with factor 0.1
  log.DataChanged(columns, values);
  EXPECT_EQ(Read("Stationslog-Pumpe-260201.csv"),
            "Zeitstempel;RS_STATUS;RS_KOM_OK;RS_KOM_FAIL;RM_RECPOWER;Druck;;Motor\r\n"
            "01.02.2026 10:00:00;;;;0,3333333;23,7;;\r\n");
}

TEST_F(StationLogTest, StationWithoutChannelsHasTheFourStatusColumns) {
  TStationLog log(log_dir, "Brunnen", NumberFormat{'.', ','}, clock);
  log.DataChanged({"RS_STATUS", "RS_KOM_OK", "RS_KOM_FAIL", "RM_RECPOWER"}, std::vector<Variant>(4));
  EXPECT_EQ(Read("Stationslog-Brunnen-260201.csv"),
            "Zeitstempel,RS_STATUS,RS_KOM_OK,RS_KOM_FAIL,RM_RECPOWER\r\n"
            "01.02.2026 10:00:00,,,,\r\n");
}

TEST_F(StationLogTest, AnExistingFileIsContinuedAndTheNextDayGetsItsOwn) {
  MakeLogDir();
  dir.Write("Log/Stationslog-Pumpe-260201.csv", "earlier\r\n");
  TStationLog log(log_dir, "Pumpe", NumberFormat{'.', ','}, clock);
  log.DataChanged(columns, values);
  EXPECT_EQ(Read("Stationslog-Pumpe-260201.csv"), "earlier\r\n01.02.2026 10:00:00,,,,,,,\r\n");
  clock.Advance(24h);
  log.DataChanged(columns, values);
  EXPECT_EQ(Read("Stationslog-Pumpe-260202.csv").substr(0, 12), "Zeitstempel,");
}

TEST_F(StationLogTest, NoFolderNoLineAndNoFailure) {
  dir.Write("Log", "a file where the folder should be");
  TStationLog log(log_dir, "Pumpe", NumberFormat{}, clock);
  log.DataChanged(columns, values);
  EXPECT_FALSE(std::filesystem::exists(log_dir + "Stationslog-Pumpe-260201.csv"));
}

TEST_F(StationLogTest, PurgeComparesDayNumbersNotCalendarDays) {
  struct Case {
    const char* file;
    bool kept;
  } cases[] = {
      {"Stationslog-A-260131.csv", false},  // 260131 + 30 < 260201: last month's files go
      {"Stationslog-A-260102.csv", false},
      {"Stationslog-A-251231.csv", false},
      {"Stationslog-A-260201.csv", true},
      {"Stationslog-B-260171.csv", true},   // 260171 + 30 is not below 260201
      {"Stationslog-A-26020x.csv", false},  // no number: date 0
      {"notes.csv", false},
      {"x.CSV", false},
      {"Stationslog-A-260131.txt", true},  // not a CSV file
  };
  MakeLogDir();
  for (const Case& c : cases) dir.Write(std::string("Log/") + c.file, "x");
  std::filesystem::create_directory(log_dir + "old-260101.csv");
  TStationLog::Purge(log_dir, 260201);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(dir.Exists(std::string("Log/") + c.file), c.kept);
  }
  EXPECT_TRUE(std::filesystem::exists(log_dir + "old-260101.csv"));  // folders stay
}

TEST_F(StationLogTest, PurgeRunsOnlyWhenANewFileIsMade) {
  MakeLogDir();
  dir.Write("Log/Stationslog-Pumpe-260201.csv", "");
  dir.Write("Log/Stationslog-Alt-251001.csv", "");
  TStationLog log(log_dir, "Pumpe", NumberFormat{}, clock);
  log.DataChanged(columns, values);
  EXPECT_TRUE(dir.Exists("Log/Stationslog-Alt-251001.csv"));
  clock.Advance(24h);
  log.DataChanged(columns, values);
  EXPECT_FALSE(dir.Exists("Log/Stationslog-Alt-251001.csv"));
}

TEST_F(StationLogTest, FileNameOfAStationWithAnUmlaut) {
  TStationLog log(log_dir,
                  "Br\xFC"
                  "cke",
                  NumberFormat{}, clock);
  EXPECT_EQ(log.FileName(kFebFirst), log_dir +
                                         "Stationslog-Br\xC3\xBC"
                                         "cke-260201.csv");
}

}  // namespace
}  // namespace lumaro
