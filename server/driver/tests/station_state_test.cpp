#include "server/driver/station_state.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "server/driver/tests/model_fixture.h"

namespace driver {
namespace {

int32_t I32At(const std::string& bytes, size_t off) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t(uint8_t(bytes[off + size_t(i)])) << (8 * i);
  return int32_t(u);
}

TEST(StationStateRecord, LayoutIsLittleEndianAt532Bytes) {
  TStationState rec;
  rec.Adr = 0x01020304;
  rec.nBE = 80, rec.nAE = 40, rec.nBA = 3, rec.nAA = -1;
  rec.BE[0] = 0xAB, rec.BE[79] = 0xCD;
  rec.AE[0] = -2, rec.AE[39] = 0x11223344;
  rec.BA[0] = 0x5A;
  rec.AA[39] = 77;
  rec.Words[0] = 0xFFFF, rec.Words[7] = 9;
  const TStateBytes b = EncodeState(rec);
  const std::string s(b.begin(), b.end());
  ASSERT_EQ(s.size(), 532u);
  EXPECT_EQ(s.substr(0, 4), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(I32At(s, 4), 80);
  EXPECT_EQ(I32At(s, 16), -1);
  EXPECT_EQ(uint8_t(s[20]), 0xAB);
  EXPECT_EQ(uint8_t(s[99]), 0xCD);
  EXPECT_EQ(I32At(s, 100), -2);
  EXPECT_EQ(I32At(s, 256), 0x11223344);
  EXPECT_EQ(uint8_t(s[260]), 0x5A);
  EXPECT_EQ(I32At(s, 496), 77);
  EXPECT_EQ(I32At(s, 500), 0xFFFF);
  EXPECT_EQ(I32At(s, 528), 9);
  const TStationState back = DecodeState(b);
  EXPECT_EQ(EncodeState(back), b);
}

// Three outstations with PERMANENTDATEN on: 7 (2 AE, 3 BE, 1 AA, 2 BA), 8 (1 AE), 9 (1 AA).
class StationStateFile : public testing::ModelTest {
 protected:
  void Configure(const std::string& extra7 = "", int be7 = 3, int32_t adr2 = 8) {
    std::string ch7 = "[ADR007]\r\nAE,a0\r\nAE,a1\r\nAA,o0\r\nBA,q0\r\nBA,q1\r\n" + extra7;
    for (int i = 0; i < be7; ++i) ch7 += "BE,b" + std::to_string(i) + "\r\n";
    WriteIni("S7,T,1,7\r\nS8,T,1," + std::to_string(adr2) + "\r\nS9,T,1,9\r\n",
             ch7 + "[ADR008]\r\nAE,x\r\n[ADR009]\r\nAA,y\r\n[ADR" + (adr2 < 10 ? "00" : "0") + std::to_string(adr2) +
                 "]\r\nAE,x\r\n",
             "MODUS=1\r\nPERMANENTDATEN=1\r\n");
  }
  // Gives every register of the station a raw value of its own and marks it changed.
  void Fill(int32_t i, int32_t base) {
    TFuMo& st = Station(i);
    for (int32_t g = 0; g <= 4; ++g)
      for (int32_t j = 0; j < st.RegCount(g); ++j) st.SetWertInt(g, j, base + 10 * g + j, 0xC0);
    st.bStateDirty = true;
  }
  void Restart() {
    FML.reset();
    ASSERT_EQ(CreateFML(), 0);
  }
  std::string File() const { return dir.Read("Ostrel.STS"); }
};

TEST_F(StationStateFile, RoundTripRestoresRawValuesAsGood) {
  Configure();
  ASSERT_EQ(CreateFML(), 0);
  EXPECT_TRUE(dir.Exists("Ostrel.STS"));
  EXPECT_EQ(File().size(), 0u);
  AnswerTime = platform::U64ToFileTime(12345);
  for (int32_t i = 1; i <= 3; ++i) Fill(i, 100 * i);
  StationStates(true);
  EXPECT_EQ(File().size(), 3 * 532u);
  EXPECT_FALSE(Station(1).bStateDirty);
  StartStationUnit();
  Restart();
  TFuMo& st = Station(1);
  struct Row {
    int32_t group, index, raw;
  } rows[] = {{1, 0, 110}, {1, 1, 111}, {2, 2, 122}, {3, 0, 130}, {4, 1, 141}, {0, 5, 105}, {0, 12, 112}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.group) + "." + std::to_string(r.index));
    const TWert& w = st.GetWert(r.group, r.index);
    EXPECT_EQ(w.Raw, r.raw);
    EXPECT_EQ(w.WertInt, r.raw);
    EXPECT_EQ(w.Quality, 0xC0);
    EXPECT_EQ(platform::FileTimeToU64(w.TimeStamp), 0u);
  }
  EXPECT_EQ(st.GetWert(0, 4).Quality, 8);  // only the word registers are kept of group 0
  EXPECT_EQ(Station(3).GetWert(3, 0).Raw, 330);
}

TEST_F(StationStateFile, ChangedLayoutOrAddressIsIgnored) {
  struct Row {
    const char* name;
    std::string extra7;
    int be7;
    int32_t adr2;
    bool restored1, restored2;
  } rows[] = {
      {"one more AE", "AE,a2\r\n", 3, 8, false, true},
      {"one BE less", "", 2, 8, false, true},
      {"another station's record", "", 3, 18, true, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(dir / "Ostrel.STS");
    Configure();
    ASSERT_EQ(CreateFML(), 0);
    for (int32_t i = 1; i <= 3; ++i) Fill(i, 100 * i);
    StationStates(true);
    Configure(r.extra7, r.be7, r.adr2);
    Restart();
    EXPECT_EQ(Station(1).GetWert(1, 0).Quality, r.restored1 ? 0xC0 : 8);
    EXPECT_EQ(Station(1).GetWert(0, 5).Quality, r.restored1 ? 0xC0 : 8);
    EXPECT_EQ(Station(2).GetWert(1, 0).Quality, r.restored2 ? 0xC0 : 8);
    EXPECT_EQ(Station(3).GetWert(3, 0).Quality, 0xC0);
  }
}

TEST_F(StationStateFile, OnlyTheFirst80BinaryInputsAreKept) {
  Configure("", 100);
  ASSERT_EQ(CreateFML(), 0);
  TFuMo& st = Station(1);
  for (int32_t j = 0; j < 100; ++j) st.SetWertInt(2, j, j == 79 ? 0x1FF : 1, 0xC0);
  st.bStateDirty = true;
  StationStates(true);
  EXPECT_EQ(I32At(File(), 4), 80);
  Restart();
  EXPECT_EQ(Station(1).GetWert(2, 0).Quality, 0xC0);
  EXPECT_EQ(Station(1).GetWert(2, 79).Raw, 0xFF);  // one byte per binary input
  EXPECT_EQ(Station(1).GetWert(2, 80).Quality, 8);
  EXPECT_EQ(Station(1).GetWert(2, 99).Quality, 8);
}

TEST_F(StationStateFile, SurplusRecordsAreCutAtLoad) {
  Configure();
  ASSERT_EQ(CreateFML(), 0);
  for (int32_t i = 1; i <= 3; ++i) Fill(i, 100 * i);
  StationStates(true);
  const std::string three = File();
  dir.Write("Ostrel.STS", three + std::string(2 * 532 + 17, '\x55'));
  Restart();
  EXPECT_EQ(File(), three);
  EXPECT_EQ(Station(3).GetWert(3, 0).Quality, 0xC0);
}

TEST_F(StationStateFile, ShortFileLoadsTheWholeRecords) {
  Configure();
  ASSERT_EQ(CreateFML(), 0);
  for (int32_t i = 1; i <= 3; ++i) Fill(i, 100 * i);
  StationStates(true);
  dir.Write("Ostrel.STS", File().substr(0, 2 * 532 + 300));
  Restart();
  EXPECT_EQ(Station(1).GetWert(1, 0).Quality, 0xC0);
  EXPECT_EQ(Station(2).GetWert(1, 0).Quality, 0xC0);
  EXPECT_EQ(Station(3).GetWert(3, 0).Quality, 8);
  EXPECT_EQ(File().size(), 2 * 532u + 300);
  Fill(3, 300);
  StationStates(true);
  EXPECT_EQ(File().size(), 3 * 532u);
  Restart();
  EXPECT_EQ(Station(3).GetWert(3, 0).Raw, 330);
}

TEST_F(StationStateFile, SaveWritesOnlyChangedStations) {
  Configure();
  ASSERT_EQ(CreateFML(), 0);
  Fill(3, 300);  // records 1 and 2 do not exist yet: they must not load as valid
  StationStates(true);
  ASSERT_EQ(File().size(), 3 * 532u);
  EXPECT_EQ(I32At(File(), 0), -1);
  EXPECT_EQ(I32At(File(), 532), -1);
  EXPECT_EQ(I32At(File(), 2 * 532), 9);
  Fill(1, 100);
  StationStates(true);
  Station(1).SetWertInt(1, 0, 999, 0xC0);  // not marked: not written
  StationStates(true);
  Restart();
  EXPECT_EQ(Station(1).GetWert(1, 0).Raw, 110);
  EXPECT_EQ(Station(2).GetWert(1, 0).Quality, 8);
  EXPECT_EQ(Station(3).GetWert(3, 0).Raw, 330);
}

TEST_F(StationStateFile, SaveDoesNotCreateAMissingFile) {
  Configure();
  ASSERT_EQ(CreateFML(), 0);
  std::filesystem::remove(dir / "Ostrel.STS");
  Fill(1, 100);
  StationStates(true);
  EXPECT_FALSE(dir.Exists("Ostrel.STS"));
  EXPECT_FALSE(Station(1).bStateDirty);
}

TEST_F(StationStateFile, FoundWhateverItsCase) {
  Configure();
  ASSERT_EQ(CreateFML(), 0);
  std::filesystem::rename(dir / "Ostrel.STS", dir / "OSTREL.sts");
  Fill(1, 100);
  StationStates(true);
  Restart();
  EXPECT_FALSE(dir.Exists("Ostrel.STS"));
  EXPECT_EQ(Station(1).GetWert(1, 0).Quality, 0xC0);
}

// A link's target may be any file of the machine: Ostrel.STS is used only as a regular file of
// its own, anything else is neither read, cut nor written, and the log says so.
TEST_F(StationStateFile, OnlyARegularFileIsUsed) {
  StartLog(-1);
  Configure();
  ASSERT_EQ(CreateFML(), 0);
  for (int32_t i = 1; i <= 3; ++i) Fill(i, 100 * i);
  StationStates(true);
  const std::string records = File() + std::string(532, '\x55');  // loads, and would be cut
  const std::filesystem::path sts = dir / "Ostrel.STS";
  struct Row {
    const char* name;
    bool targetExists;
    std::function<void(const std::filesystem::path& target)> make;
  } rows[] = {
      {"link to a file", true, [&](const auto& target) { std::filesystem::create_symlink(target, sts); }},
      {"dangling link", false, [&](const auto& target) { std::filesystem::create_symlink(target, sts); }},
      {"folder", true, [&](const auto&) { std::filesystem::create_directory(sts); }},
      {"fifo", true, [&](const auto&) { ASSERT_EQ(mkfifo(sts.c_str(), 0644), 0); }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    platform::testing::TempDir elsewhere;
    if (r.targetExists) elsewhere.Write("other.dat", records);
    std::filesystem::remove_all(sts);
    r.make(elsewhere / "other.dat");
    Restart();
    EXPECT_EQ(Station(1).GetWert(1, 0).Quality, 8) << "restored from what is no state file";
    Fill(1, 500);
    StationStates(true);
    EXPECT_EQ(elsewhere.Exists("other.dat"), r.targetExists);
    if (r.targetExists) {
      EXPECT_TRUE(elsewhere.Read("other.dat") == records) << "the link's target changed";
    }
    EXPECT_NE(LogText().find("FML: StationStates: " + sts.string() + " is no regular file, not used"),
              std::string::npos)
        << LogText();
  }
}

TEST_F(StationStateFile, UntouchedWithoutPermanentData) {
  WriteIni("S7,T,1,7\r\n", "[ADR007]\r\nAE,a0\r\n");
  ASSERT_EQ(CreateFML(), 0);
  EXPECT_FALSE(dir.Exists("Ostrel.STS"));
  TStationState rec;
  rec.Adr = 7, rec.nAE = 1, rec.AE[0] = 42;
  const TStateBytes b = EncodeState(rec);
  const std::string stored = std::string(b.begin(), b.end()) + std::string(532, '\0');
  dir.Write("Ostrel.STS", stored);
  Restart();
  EXPECT_EQ(Station(1).GetWert(1, 0).Quality, 8);
  Station(1).bStateDirty = true;
  StationStates(true);
  EXPECT_EQ(File(), stored);
}

}  // namespace
}  // namespace driver
