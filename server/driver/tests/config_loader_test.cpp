#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/testing/fifo_watchdog.h"
#include "server/driver/error_codes.h"
#include "server/driver/tests/model_fixture.h"

namespace driver {
namespace {

class ConfigLoader : public testing::ModelTest {};

TEST_F(ConfigLoader, StationLines) {
  struct Row {
    const char* line;
    const char* name;
    const char* type;
    int32_t sort, adr1, adr2, adr3;
    std::string path;
  } rows[] = {
      {"TYP=Pumpe1,RM3,0,12,3,0", "Pumpe1", "RM3", 1, 12, 3, 0, std::string("\x03\x0C\0\0", 4)},
      {"TYP=S,T,1,40,5,7", "S", "T", 1, 40, 5, 7, std::string("\x05\x07\x28\0", 4)},
      {"TYP=S,T,1,40,0,7", "S", "T", 1, 40, 0, 7, std::string("\x28\0\0\0", 4)},
      {"TYP = Brunnen Nord , T , 3 , 255", "Brunnen Nord", "T", 3, 255, 0, 0, std::string("\xFF\0\0\0", 4)},
      {"S,T,2,300,256", "S", "T", 2, 0, 0, 0, std::string(4, '\0')},
      {"S=1,T,4", "1", "T", 1, 0, 0, 0, std::string(4, '\0')},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    WriteIni(r.line + std::string("\r\n"));
    ASSERT_EQ(CreateFML(), 0);
    ASSERT_EQ(FML->Count(), 2);
    TFuMo& st = Station(1);
    EXPECT_EQ(st.StationName, r.name);
    EXPECT_EQ(st.TypeName, r.type);
    EXPECT_EQ(st.Sort, r.sort);
    EXPECT_EQ(st.Adr1, r.adr1);
    EXPECT_EQ(st.Adr2, r.adr2);
    EXPECT_EQ(st.Adr3, r.adr3);
    EXPECT_EQ(st.GetAdrPath(), r.path);
    EXPECT_EQ(st.StationIndex, 1);
  }
}

TEST_F(ConfigLoader, CentralModemAndStationOrder) {
  WriteIni("TYP=A,T1,1,1\r\nTYP=B,T2,2,2,1\r\n; a comment\r\nTYP=C,T3,3,3\r\n");
  ASSERT_EQ(CreateFML(), 0);
  ASSERT_EQ(FML->Count(), 4);
  TFuMo& zfm = Station(0);
  EXPECT_EQ(zfm.StationName, "ZFM1");
  EXPECT_EQ(zfm.TypeName, "ZT");
  EXPECT_EQ(zfm.Adr1, -1);
  EXPECT_EQ(zfm.GetAdrPath(), std::string(4, '\0'));
  EXPECT_EQ(zfm.Timeout, (std::array<int32_t, 6>{200, 200, 200, 200, 200, 200}));
  EXPECT_EQ(Station(1).Timeout, (std::array<int32_t, 6>{}));
  const char* names[] = {"ZFM1", "A", "B", "C"};
  for (int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Station(i).StationName, names[i]);
    EXPECT_EQ(Station(i).StationIndex, i);
  }
  EXPECT_EQ(Options.MODUS, 1);
}

TEST_F(ConfigLoader, NoStationSectionGivesTheCentralModemAlone) {
  dir.Write("ostrel.ini", "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=0\r\n");  // found whatever its case
  ASSERT_EQ(CreateFML(), 0);
  EXPECT_EQ(FML->Count(), 1);
  EXPECT_EQ(Options.MODUS, 0);
}

TEST_F(ConfigLoader, ChannelLines) {
  struct Row {
    const char* line;
    int32_t group;
    const char* name;
    const char* unit;
    double faktor, offset;
    int32_t nks;
    bool calc, isFloat, re;
  } rows[] = {
      {"KANAL=AE,Druck,bar,0.1,0,1", 1, "Druck", "bar", 0.1, 0, 1, true, true, false},
      {"KANAL=AE,Pegel,%,1,0,0", 1, "Pegel", "%", 1, 0, 0, false, false, false},
      {"KANAL=AA,X,,40000,0,0", 3, "X", "", 40000, 0, 0, true, true, false},
      {"KANAL=AA,X,,32767,0,0", 3, "X", "", 32767, 0, 0, true, false, false},
      {"KANAL=AE,Y,,0,5,0", 1, "Y", "", 0, 5, 0, false, false, false},
      {"KANAL=AE,Y,,1,-40000,0", 1, "Y", "", 1, -40000, 0, true, true, false},
      {"KANAL=AE,Y,,1,2.5,0", 1, "Y", "", 1, 2.5, 0, true, true, false},
      {"KANAL=AE,Z,m,2,0,7", 1, "Z", "m", 2, 0, 0, true, false, false},
      {"KANAL=RE,Zaehler,,1,0,0", 1, "Zaehler", "", 1, 0, 0, false, false, true},
      {"KANAL=RA,Soll,,1,0,3", 3, "Soll", "", 1, 0, 3, false, false, false},
      {"KANAL=BE,&Tuer", 2, "&Tuer", "", 1, 0, 0, false, false, false},
      {"BA , Pumpe , , 99999999, x, 2", 4, "Pumpe", "", 1, 0, 2, false, false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    WriteIni("TYP=S,T,1,7\r\n", "[ADR007]\r\n" + std::string(r.line) + "\r\n");
    ASSERT_EQ(CreateFML(), 0);
    TFuMo& st = Station(1);
    ASSERT_EQ(st.RegCount(r.group), 1);
    const TWert& w = st.GetWert(r.group, 0);
    EXPECT_EQ(w.Name, r.name);
    EXPECT_EQ(w.Einheit, r.unit);
    EXPECT_DOUBLE_EQ(w.Faktor, r.faktor);
    EXPECT_DOUBLE_EQ(w.Offset, r.offset);
    EXPECT_EQ(w.NKs, r.nks);
    EXPECT_EQ(w.bCalc, r.calc);
    EXPECT_EQ(w.bFloat, r.isFloat);
    EXPECT_EQ(w.Quality, 8);
    EXPECT_EQ(st.bRE, r.re);
  }
}

TEST_F(ConfigLoader, ChannelsKeepTheirOrderWithinAGroup) {
  WriteIni("TYP=S,T,1,7\r\n", "[ADR007]\r\nKANAL=AE,a\r\nKANAL=BE,b\r\nKANAL=RE,c\r\nKANAL=AA,d\r\nKANAL=RA,e\r\n");
  ASSERT_EQ(CreateFML(), 0);
  TFuMo& st = Station(1);
  EXPECT_EQ(st.GetWert(1, 0).Name, "a");
  EXPECT_EQ(st.GetWert(1, 1).Name, "c");
  EXPECT_EQ(st.GetWert(2, 0).Name, "b");
  EXPECT_EQ(st.GetWert(3, 0).Name, "d");
  EXPECT_EQ(st.GetWert(3, 1).Name, "e");
}

TEST_F(ConfigLoader, RegisterCountsPerModeAndInfo) {
  struct Row {
    int32_t modus;
    const char* info;
    int32_t zfm0, zfm5, st0, st5, info0;
  } rows[] = {
      {0, "0", 1, 15, 13, 8, 0},  {1, "0", 1, 44, 13, 36, 0}, {2, "0", 3, 56, 13, 36, 0},
      {1, "8", 1, 44, 13, 37, 8}, {0, "8", 1, 15, 13, 8, 8},  {2, "9,1", 3, 56, 13, 37, 9},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.modus) + " INFO=" + r.info);
    WriteIni("TYP=S,T,1,7\r\n", "[ADR007+]\r\nINFO=" + std::string(r.info) + "\r\n",
             "MODUS=" + std::to_string(r.modus) + "\r\n");
    ASSERT_EQ(CreateFML(), 0);
    EXPECT_EQ(Station(0).RegCount(0), r.zfm0);
    EXPECT_EQ(Station(0).RegCount(5), r.zfm5);
    EXPECT_EQ(Station(1).RegCount(0), r.st0);
    EXPECT_EQ(Station(1).RegCount(5), r.st5);
    EXPECT_EQ(Station(1).Info[0], r.info0);
    for (int32_t g = 1; g <= 4; ++g) EXPECT_EQ(Station(0).RegCount(g), 0);
  }
}

TEST_F(ConfigLoader, FloatingSystemRegistersOfTheCentralModem) {
  WriteIni("", "", "MODUS=2\r\n");
  ASSERT_EQ(CreateFML(), 0);
  const char* names[] = {"RS_STATUS", "RS_DCF_TIME", "RS_DCF_PCREF"};
  for (int32_t j = 0; j < 3; ++j) {
    EXPECT_EQ(Station(0).GetWert(0, j).Name, names[j]);
    EXPECT_EQ(Station(0).GetWert(0, j).bFloat, j > 0);
  }
}

TEST_F(ConfigLoader, PlusSections) {
  WriteIni("TYP=S,T,1,7\r\nTYP=U,T,1,12\r\n",
           "[ADR0-1+]\r\nINFO=8\r\n"
           "[ADR007+]\r\nINFO=8, 1,2,3,65535,65536\r\nOPTION=1,250\r\n"
           "[ADR012+]\r\nOPTION=2,10000\r\n");
  ASSERT_EQ(CreateFML(), 0);
  EXPECT_EQ(Station(0).Info[0], 8);
  EXPECT_EQ(Station(1).Info, (std::array<int32_t, 6>{8, 1, 2, 3, 65535, 0}));
  EXPECT_TRUE(Station(1).bOnlineCheck);
  EXPECT_EQ(Station(1).ExtraWait, 250);
  EXPECT_FALSE(Station(2).bOnlineCheck);
  EXPECT_EQ(Station(2).ExtraWait, 0);
}

TEST_F(ConfigLoader, InputAndOutputWordNames) {
  struct Row {
    int be, ba;
    std::vector<std::string> names;  // group-0 registers 5..12
  } rows[] = {
      {20, 40, {"DIN0-15", "DIN16-31", "&DOUT0-15", "&DOUT16-31", "&DOUT32-47", "#", "#", "#"}},
      {130, 0, {"DIN0-15", "DIN16-31", "DIN32-47", "DIN48-63", "DIN64-79", "DIN80-95", "DIN96-111", "DIN112-127"}},
      {128, 5, {"DIN0-15", "DIN16-31", "DIN32-47", "DIN48-63", "DIN64-79", "DIN80-95", "DIN96-111", "DIN112-127"}},
      {0, 17, {"&DOUT0-15", "&DOUT16-31", "#", "#", "#", "#", "#", "#"}},
      {0, 0, {"#", "#", "#", "#", "#", "#", "#", "#"}},
      {1, 200, {"DIN0-15", "&DOUT0-15", "&DOUT16-31", "&DOUT32-47", "&DOUT48-63", "&DOUT64-79", "&DOUT80-95",
                "&DOUT96-111"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.be) + " BE, " + std::to_string(r.ba) + " BA");
    std::string channels = "[ADR007]\r\n";
    for (int i = 0; i < r.be; ++i) channels += "KANAL=BE,e" + std::to_string(i) + "\r\n";
    for (int i = 0; i < r.ba; ++i) channels += "KANAL=BA,a" + std::to_string(i) + "\r\n";
    WriteIni("TYP=S,T,1,7\r\n", channels);
    ASSERT_EQ(CreateFML(), 0);
    for (int32_t k = 0; k < 8; ++k) EXPECT_EQ(Station(1).GetWert(0, 5 + k).Name, r.names[size_t(k)]) << k;
    EXPECT_EQ(Station(1).GetWert(0, 4).Name, "&RS_STATUS");
  }
}

TEST_F(ConfigLoader, ErrorCodes) {
  struct Row {
    const char* name;
    const char* ini;  // nullptr: no Ostrel.INI at all
    int32_t fatal, code;
  } rows[] = {
      {"no INI file", nullptr, 0, kErrConfigNotFound},
      {"no MODUS", "[Zentralfunkmodem]\r\nTyp=Z,T\r\n", 0, kErrIniText},
      {"MODUS out of range", "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=3\r\n", 0, kErrIniText},
      {"MODUS not a number", "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=eins\r\n", 0, kErrIniText},
      {"kind in lower case",
       "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=1\r\n[Unterstationen]\r\nS,T,1,7\r\n[ADR007]\r\nKANAL=ae,x\r\n", 0,
       kErrUnknownChannelType},
      {"unknown kind",
       "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=1\r\n[Unterstationen]\r\nS,T,1,7\r\n[ADR007]\r\nKANAL=DE,x\r\n", 0,
       kErrUnknownChannelType},
      {"other failure", "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=1\r\n[Unterstationen]\r\nS,T,$FFFFFFFFF\r\n", 0,
       kErrFmlGeneral},
      {"other failure after a fatal one",
       "[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=1\r\n[Unterstationen]\r\nS,T,$FFFFFFFFF\r\n", -33, -33},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    platform::testing::TempDir own;
    ServerDir = own.Path();
    if (r.ini) own.Write("Ostrel.INI", r.ini);
    FatalErrorCode = r.fatal;
    EXPECT_EQ(CreateFML(), r.code);
    EXPECT_EQ(FML != nullptr, r.ini != nullptr);
    FML.reset();
  }
}

TEST_F(ConfigLoader, FailureIsLoggedWithItsCode) {
  StartLog(-1);
  WriteIni("TYP=S,T,1,7\r\n", "[ADR007]\r\nKANAL=AE,ok\r\nKANAL=XX,bad\r\n");
  EXPECT_EQ(CreateFML(), kErrUnknownChannelType);
  EXPECT_NE(LogText().find(">FML: CreateFML, Exception=-$10, Unknown channeltyp in configfile!|(code=-16)<"),
            std::string::npos)
      << LogText();
  ASSERT_NE(FML, nullptr);
  EXPECT_EQ(FML->Count(), 2);  // what was built stays for the stop export to free
  EXPECT_EQ(Station(1).RegCount(1), 1);
}

TEST_F(ConfigLoader, Options) {
  struct Row {
    const char* name;
    const char* par;  // nullptr: no options file
    const char* zfm;
    TOptions want;
  } rows[] = {
      {"initial values", nullptr, "", TOptions{}},
      {"options file", "[OPTIONEN]\r\nSIMULATION=1\r\nSYSREGCOUNT=20\r\nTIMEOUT=300\r\nMOP2CRC=1\r\n", "",
       TOptions{true, 2, false, 20, 0, 10, true, 300, 1}},
      {"INI wins", "[OPTIONEN]\r\nSYSPOLLZYKLUS=5\r\nHILFSZYKLEN=3\r\n", "SYSPOLLZYKLUS=7\r\nHILFSFAILMAX=99\r\n",
       TOptions{false, 7, false, 999, 3, 99, false, 150, 1}},
      {"small SYSREGCOUNT", nullptr, "SYSREGCOUNT=5\r\n", TOptions{}},
      {"SYSREGCOUNT out of range keeps the options file's",
       "[OPTIONEN]\r\nSYSREGCOUNT=20\r\n", "SYSREGCOUNT=50\r\n", TOptions{false, 2, false, 20, 0, 10, false, 150, 1}},
      {"TIMEOUT out of range", nullptr, "TIMEOUT=2000\r\nPERMANENTDATEN=2\r\n", TOptions{}},
      {"TIMEOUT out of range keeps the options file's", "[OPTIONEN]\r\nTIMEOUT=300\r\nPERMANENTDATEN=1\r\n",
       "TIMEOUT=2000\r\n", TOptions{false, 2, true, 999, 0, 10, false, 300, 1}},
      {"SIMULATION switched off again", "[OPTIONEN]\r\nSIMULATION=1\r\n", "SIMULATION=0\r\n", TOptions{}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    ResetOptions();
    platform::testing::TempDir own;
    ServerDir = own.Path();
    if (r.par) own.Write("Ostrel.PAR", r.par);
    own.Write("Ostrel.INI", std::string("[Zentralfunkmodem]\r\nTyp=Z,T\r\nMODUS=1\r\n") + r.zfm);
    ASSERT_EQ(CreateFML(), 0);
    TOptions want = r.want;
    want.MODUS = 1;
    EXPECT_EQ(Options.SIMULATION, want.SIMULATION);
    EXPECT_EQ(Options.SYSPOLLZYKLUS, want.SYSPOLLZYKLUS);
    EXPECT_EQ(Options.PERMANENTDATEN, want.PERMANENTDATEN);
    EXPECT_EQ(Options.SYSREGCOUNT, want.SYSREGCOUNT);
    EXPECT_EQ(Options.HILFSZYKLEN, want.HILFSZYKLEN);
    EXPECT_EQ(Options.HILFSFAILMAX, want.HILFSFAILMAX);
    EXPECT_EQ(Options.MOP2CRC, want.MOP2CRC);
    EXPECT_EQ(Options.TIMEOUT, want.TIMEOUT);
    EXPECT_EQ(Options.MODUS, want.MODUS);
    FML.reset();
  }
}

TEST_F(ConfigLoader, AtMost255Outstations) {
  StartLog(-1);
  std::string lines;
  for (int i = 1; i <= 257; ++i) lines += "TYP=S" + std::to_string(i) + ",T,1," + std::to_string(i % 255 + 1) + "\r\n";
  WriteIni(lines);
  ASSERT_EQ(CreateFML(), 0);
  ASSERT_EQ(FML->Count(), 256);
  EXPECT_EQ(Station(255).StationName, "S255");
  const std::string log = LogText();
  EXPECT_NE(log.find("more than 255 stations, not loaded: TYP=S256,T,1,2<"), std::string::npos) << log;
  EXPECT_NE(log.find("more than 255 stations, not loaded: TYP=S257,T,1,3<"), std::string::npos);
}

// Register indexes run from 0 to 32767, the most that an item handle carries.
TEST_F(ConfigLoader, AtMost32768RegistersInAGroup) {
  StartLog(-1);
  std::string channels = "[ADR007]\r\n";
  for (int i = 0; i < 32768; ++i) channels += "BE,b" + std::to_string(i) + "\r\n";
  channels += "BE,over\r\nAE,a\r\n";
  WriteIni("TYP=S,T,1,7\r\n", channels);
  ASSERT_EQ(CreateFML(), 0);
  ASSERT_EQ(Station(1).RegCount(2), 32768);
  EXPECT_EQ(Station(1).GetWert(2, 32767).Name, "b32767");
  EXPECT_EQ(Station(1).RegCount(1), 1);
  EXPECT_NE(LogText().find("ADR007: more than 32768 channels in group 2, the rest not loaded<"), std::string::npos)
      << LogText().substr(0, 2000);
}

// A file whose line ends were converted twice (CR CR LF) loads as it was written.
TEST_F(ConfigLoader, LineEndsConvertedTwiceLoad) {
  dir.Write("Ostrel.INI",
            "[ZENTRALFUNKMODEM]\r\r\nTyp=ZFM1,RMZ\r\r\nMODUS=1\r\r\n[UNTERSTATIONEN]\r\r\nTYP=S1,T,1,12\r\r\n"
            "[ADR012]\r\r\nKANAL=AE,Druck,bar,0.1,0,1\r\r\n");
  ASSERT_EQ(CreateFML(), 0);
  EXPECT_EQ(Options.MODUS, 1);
  ASSERT_EQ(FML->Count(), 2);
  EXPECT_EQ(Station(0).TypeName, "RMZ");
  EXPECT_EQ(Station(1).Adr1, 12);
  ASSERT_EQ(Station(1).RegCount(1), 1);
  EXPECT_EQ(Station(1).GetWert(1, 0).Einheit, "bar");
  EXPECT_EQ(Station(1).GetWert(1, 0).NKs, 1);
}

// Ostrel.INI that is no file is not found, and the log says what stands in its place.
TEST_F(ConfigLoader, ConfigurationThatIsNoFileIsNotFound) {
  StartLog(-1);
  const std::string fifo = dir / "Ostrel.INI", folder = dir / "sub/Ostrel.INI";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directories(folder);
  struct Row {
    std::string server_dir, path;
    const char* kind;
  } rows[] = {{dir.Path(), fifo, "a FIFO"}, {dir / "sub/", folder, "a folder"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    platform::testing::FifoWatchdog watchdog(fifo, "[Zentralfunkmodem]\nTyp=Z,T\nMODUS=1\n");
    ServerDir = row.server_dir;
    EXPECT_EQ(CreateFML(), kErrConfigNotFound);
    EXPECT_EQ(FML, nullptr);
    const std::string log = LogText();
    EXPECT_NE(log.find(">* No Config: " + row.path + " is " + row.kind + ", not read<"), std::string::npos) << log;
    FML.reset();
  }
  EXPECT_NE(LogText().find(">FML: CreateFML, Exception=-$0D, FML: configfile not found!|(code=-13)<"),
            std::string::npos);
}

TEST_F(ConfigLoader, TraceLinesUnderTheirBits) {
  struct Row {
    int32_t flag;
    const char* line;
    bool present;
  } rows[] = {
      {8, ">FML: CreateFML START<", true},
      {8, ">FML: CreateFML ENDE<", true},
      {8, ">FML: CreateFML, ZFM=ZFM1<", true},
      {8, ">FML: CreateFML: Name=S, Typ=T, Sort=2Adr=7/3/0Timeout=0<", true},
      {8, "> FML: Create: 1:7-3-0<", true},
      {8, "> FML: Create: 0:-1--1--1<", true},
      {8, ">FML: CreateFML, ADR007<", true},
      {8, "> FML: Create: 1:0.0=&RS_KOM_OK<", false},
      {9, "> FML: Create: 1:0.0=&RS_KOM_OK<", true},
      {9, "> FML: Create: 1:0.13=<", true},
      {9, "> FML: CreateFML, AE Name=P Einheit=bar Faktor=0.500 Ofs=-1.000 NKs=2 bCalc=TRUE  bFloat=TRUE <", true},
      {1, ">FML: CreateFML START<", false},
      {16, "TRM-Timeout=150", true},
  };
  for (int32_t flag : {1, 8, 9, 16}) {
    SCOPED_TRACE(flag);
    platform::testing::TempDir own;
    ServerDir = own.Path();
    own.Write("DEBUG", std::to_string(flag));
    own.Write("Ostrel.INI",
              "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nMODUS=1\r\n[Unterstationen]\r\nTYP=S,T,2,7,3\r\n"
              "[ADR007]\r\nKANAL=AE,P,bar,0.5,-1,2\r\n");
    support::StartErrorLog(support::LogBuild::Server, own.Path());
    ASSERT_EQ(CreateFML(), 0);
    FML.reset();
    support::StopErrorLog();
    const std::string log = own.Read("Problem2.TXT");
    for (const auto& r : rows) {
      if (r.flag != flag) continue;
      EXPECT_EQ(log.find(r.line) != std::string::npos, r.present) << r.line << "\n" << log;
    }
  }
}

}  // namespace
}  // namespace driver
