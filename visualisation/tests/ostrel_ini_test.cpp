// Reading the server's configuration file: sections and keys, and the fields of its lines.
#include "visualisation/ostrel_ini.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/temp_dir.h"

namespace lumaro {
namespace {

TEST(MemIni, SectionsAndKeysMatchIgnoringCaseAndSkipWhatIsNoContent) {
  TMemIni ini;
  ini.LoadFromText(
      "stray=before any header\r\n"
      "[ZentralFunkModem]\r\n"
      "; a comment\r\n"
      "  TYP = Zentrale,ZFM,3  \r\n"
      "\r\n"
      "TYP=second\n"
      "no equals sign\r\n"
      "[ADR007]\r\n"
      "KANAL=BE,a\r\n"
      "[adr007]\r\n"
      "KANAL=BE,b\r\n");
  EXPECT_TRUE(ini.ValueExists("ZENTRALFUNKMODEM", "typ"));
  EXPECT_EQ(ini.ReadString("zentralfunkmodem", "TYP"), "Zentrale,ZFM,3");  // the first of two
  EXPECT_EQ(ini.ReadString("ZENTRALFUNKMODEM", "MODUS", "def"), "def");
  EXPECT_FALSE(ini.SectionExists("UNTERSTATIONEN"));
  EXPECT_TRUE(ini.SectionLines("UNTERSTATIONEN").empty());

  const auto& zfm = ini.SectionLines("ZENTRALFUNKMODEM");
  ASSERT_EQ(zfm.size(), 3u);
  EXPECT_EQ(zfm[2].key, "no equals sign");
  EXPECT_EQ(zfm[2].value, "");

  // A header met again continues its section.
  const auto& adr = ini.SectionLines("ADR007");
  ASSERT_EQ(adr.size(), 2u);
  EXPECT_EQ(adr[1].value, "BE,b");
}

TEST(MemIni, FileIsFoundWhateverTheCaseOfItsName) {
  platform::testing::TempDir dir;
  dir.Write("Ostrel.INI", "[ZENTRALFUNKMODEM]\r\nTYP=Z,T,1\r\n");
  TMemIni ini;
  ASSERT_TRUE(ini.LoadFromFile(dir / "ostrel.ini"));
  EXPECT_EQ(ini.ReadString("ZENTRALFUNKMODEM", "TYP"), "Z,T,1");
  EXPECT_FALSE(ini.LoadFromFile(dir / "missing.ini"));
  EXPECT_FALSE(ini.SectionExists("ZENTRALFUNKMODEM"));  // a failed load leaves nothing behind
}

// The lines as the server reads them: CR, LF and CR LF each end a line, and a NUL its text.
TEST(MemIni, LinesEndAsTheServerReadsThem) {
  struct Row {
    const char* name;
    std::string text;
    const char* typ;
    std::vector<std::string> channels;  // values of [ADR007]
  } rows[] = {
      {"CR LF", "[ZFM]\r\nTYP=Z,T\r\n[ADR007]\r\nKANAL=AE,a\r\n", "Z,T", {"AE,a"}},
      {"CR CR LF", "[ZFM]\r\r\nTYP=Z,T\r\r\n[ADR007]\r\r\nKANAL=AE,a\r\r\n", "Z,T", {"AE,a"}},
      {"CR", "[ZFM]\rTYP=Z,T\r[ADR007]\rKANAL=AE,a\r", "Z,T", {"AE,a"}},
      {"CR inside a line", "[ZFM]\r\nTYP=Z,T\rMODUS=1\r\n[ADR007]\r\nKANAL=AE,a\rKANAL=BE,b\r\n", "Z,T",
       {"AE,a", "BE,b"}},
      {"NUL", std::string("[ZFM]\r\nTYP=Z,T\0x\r\n[ADR007]\r\nKANAL=AE,a\0b,bar\r\n", 46), "Z,T", {"AE,a"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TMemIni ini;
    ini.LoadFromText(r.text);
    EXPECT_EQ(ini.ReadString("ZFM", "TYP"), r.typ);
    std::vector<std::string> channels;
    for (const auto& line : ini.SectionLines("ADR007")) channels.push_back(line.value);
    EXPECT_EQ(channels, r.channels);
  }
}

TEST(SplitFields, EveryFieldKeepsItsPlace) {
  struct Case {
    const char* name;
    const char* value;
    std::vector<std::string> fields;
  } cases[] = {
      {"plain", "BE,Taster,V,1,0,0", {"BE", "Taster", "V", "1", "0", "0"}},
      {"empty unit stays empty", "BE,Taster,,0,0,0", {"BE", "Taster", "", "0", "0", "0"}},
      {"blanks around fields", " AE , Druck ,bar, 1.5E-0001,0,2", {"AE", "Druck", "bar", "1.5E-0001", "0", "2"}},
      {"trailing comma", "a,", {"a", ""}},
      {"empty text", "", {""}},
      {"double quotes hold a comma", "AE,\"a,b\",V", {"AE", "a,b", "V"}},
      {"single quotes hold a comma", "'x,y',z", {"x,y", "z"}},
      {"unclosed quote runs to the end", "\"x,y", {"x,y"}},
      {"quote inside a field is a character", "Kessel'A,B", {"Kessel'A", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitFields(c.value), c.fields);
  }
}

TEST(ChannelLine, DefaultsAndRules) {
  struct Case {
    const char* name;
    const char* value;
    std::string unit;
    double factor;
    double offset;
    int decimals;
  } cases[] = {
      {"as the configurator writes a new channel", "BE,T,,0,0,0", "%", 1.0, 0.0, 0},
      {"scientific factor with a leading blank", "AE,T,bar, 1.00000000000000E-0001,-2.50000000000000E-0001,2", "bar",
       0.1, -0.25, 2},
      {"integer factor and offset", "AE,T,V,10,-250,1", "V", 10.0, -250.0, 1},
      {"factor that is no number", "AE,T,V,x,0,0", "V", 1.0, 0.0, 0},
      {"offset that is no number", "AE,T,V,2,y,0", "V", 2.0, 0.0, 0},
      {"factor with a stray character", "AE,T,V,1;5,0,0", "V", 1.0, 0.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = ParseChannelLine(c.value);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->name, "T");
    EXPECT_EQ(line->unit, c.unit);
    EXPECT_DOUBLE_EQ(line->factor, c.factor);
    EXPECT_DOUBLE_EQ(line->offset, c.offset);
    EXPECT_EQ(line->decimals, c.decimals);
  }
}

TEST(ChannelLine, NamesWithoutAnItemMakeNoChannelAndBadDecimalsFail) {
  for (const char* none : {"BE,,,0,0,0", "BE", "AE,#,,1,0,0", "AE,&,,1,0,0"}) {
    SCOPED_TRACE(none);
    EXPECT_FALSE(ParseChannelLine(none).has_value());
  }
  // The writable mark is not part of the server's item name.
  EXPECT_EQ(ParseChannelLine("AE,&Frei,,1,0,0")->name, "Frei");
  for (const char* bad : {"BE,T,,0,0,", "BE,T,,0,0,1.5", "BE,T,,0,0,x", "BE,T,,0,0"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseChannelLine(bad), BadIniLine);
  }
}

TEST(StationLine, AddressIsTheFourthFieldInDecimal) {
  StationLine s = ParseStationLine("Pumpe,PT100,0,12,3,0,Modul1");
  EXPECT_EQ(s.name, "Pumpe");
  EXPECT_EQ(s.type_name, "PT100");
  EXPECT_EQ(s.address, 12);
  // An empty type name does not move the address up.
  EXPECT_EQ(ParseStationLine("Pumpe,,0,12,0,0").address, 12);
  for (const char* bad : {"Pumpe,PT100,0,0x0C,0,0", "Pumpe,PT100,0,,0,0", "Pumpe,PT100,0,12a,0,0", "Pumpe"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseStationLine(bad), BadIniLine);
  }
}

TEST(ChannelSectionName, AtLeastThreeDigits) {
  EXPECT_EQ(ChannelSectionName(7), "ADR007");
  EXPECT_EQ(ChannelSectionName(123), "ADR123");
  EXPECT_EQ(ChannelSectionName(1000), "ADR1000");
}

}  // namespace
}  // namespace lumaro
