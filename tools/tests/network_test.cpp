#include "tools/radiosim/network.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/testing/temp_dir.h"

namespace radiosim {
namespace {

TEST(Network, ReadsWhatTheServerReads) {
  platform::testing::TempDir dir;
  dir.Write("Ostrel.PAR", "[OPTIONEN]\r\nTIMEOUT=300\r\n");
  dir.Write("ostrel.ini",
            "[Zentralfunkmodem]\r\nTyp=Zentrale,ZT\r\nMODUS=1\r\nTIMEOUT=120\r\n\r\n"
            "[Unterstationen]\r\nTYP=Pumpe1,RM3,0,12,3,0\r\nTYP=Turm,RM3,1,40,5,7\r\nTYP=Nah,RM3,1,9\r\n\r\n"
            "[ADR012+]\r\nInfo=8,0,0,0,0,0\r\n"
            "[ADR012]\r\nKANAL=BE,a,,1,0,0\r\nKANAL=AE,b,,1,0,0\r\nKANAL=RE,c,,1,0,0\r\nKANAL=BA,d,,1,0,0\r\n"
            "KANAL=AA,e,,1,0,0\r\nKANAL=RA,f,,1,0,0\r\n"
            "[ADR040]\r\n" + [] {
              std::string lines;
              for (int i = 0; i < 17; ++i) lines += "KANAL=BE,x,,1,0,0\r\n";
              return lines;
            }());
  Network net;
  std::string error;
  ASSERT_TRUE(LoadNetwork(dir.Path(), net, error)) << error;
  EXPECT_EQ(net.modus, 1);
  EXPECT_EQ(net.timeoutMs, 120);  // the INI file wins over the options file
  EXPECT_EQ(net.central.params, 44);
  EXPECT_EQ(net.central.path, (std::array<uint8_t, 4>{}));
  ASSERT_EQ(net.stations.size(), 3u);

  struct Row {
    const char* name;
    int index;
    std::array<uint8_t, 4> path;
    int be, ae, ba, aa, params;
  } rows[] = {
      {"Pumpe1", 1, {3, 12, 0, 0}, 1, 2, 1, 2, 37},
      {"Turm", 2, {5, 7, 40, 0}, 17, 0, 0, 0, 36},
      {"Nah", 3, {9, 0, 0, 0}, 0, 0, 0, 0, 36},
  };
  for (size_t i = 0; i < 3; ++i) {
    const Row& r = rows[i];
    const StationShape& s = net.stations[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(s.name, r.name);
    EXPECT_EQ(s.index, r.index);
    EXPECT_EQ(s.path, r.path);
    EXPECT_EQ(s.binaryInputs, r.be);
    EXPECT_EQ(s.analogInputs, r.ae);
    EXPECT_EQ(s.binaryOutputs, r.ba);
    EXPECT_EQ(s.analogOutputs, r.aa);
    EXPECT_EQ(s.params, r.params);
  }
}

TEST(Network, LeavesTheServersFolderAsItWas) {
  platform::testing::TempDir dir;
  dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=1\r\nPERMANENTDATEN=1\r\n");
  Network net;
  std::string error;
  ASSERT_TRUE(LoadNetwork(dir.Path(), net, error)) << error;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"Ostrel.INI"}) << "no station-state file or anything else";
}

TEST(Network, ReportsAFolderWithoutConfiguration) {
  platform::testing::TempDir dir;
  Network net;
  std::string error;
  EXPECT_FALSE(LoadNetwork(dir.Path(), net, error));
  EXPECT_NE(error.find("Ostrel.INI"), std::string::npos) << error;
  EXPECT_NE(error.find("(code=-13)"), std::string::npos) << error;
}

TEST(Network, ReportsABadMode) {
  platform::testing::TempDir dir;
  dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=7\r\n");
  Network net;
  std::string error;
  EXPECT_FALSE(LoadNetwork(dir.Path(), net, error));
  EXPECT_NE(error.find("(code=-3)"), std::string::npos) << error;
}

}  // namespace
}  // namespace radiosim
