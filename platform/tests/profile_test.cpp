#include "platform/profile.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

using testing::TempDir;

const char* const kConfig =
    "; settings\r\n"
    "[Allgemein]\r\n"
    "  Sprache = E.spr  \r\n"
    "LETZE AKTIVE KONFIGURATION=\"/daten/Pumpen Nord\"\r\n"
    "Quoted='x'\r\n"
    "Half=\"x\r\n"
    "Semi=a;b\r\n"
    "Sprache=second.spr\r\n"
    "NoValue\r\n"
    "\r\n"
    "[ALLGEMEIN]\r\n"
    "Later=1\r\n"
    "[Texte]\r\n"
    "T1=Gr\xFC\xDF" "e\n";

TEST(Profile, Lookup) {
  TempDir dir;
  dir.Write("CONFIG.CFG", kConfig);
  struct Row {
    const char* section;
    const char* key;
    const char* want;
  } rows[] = {
      {"ALLGEMEIN", "SPRACHE", "E.spr"},           // names ignore case, blanks dropped, first key wins
      {" allgemein ", "sprache", "E.spr"},
      {"ALLGEMEIN", "LETZE AKTIVE KONFIGURATION", "/daten/Pumpen Nord"},  // quotes stripped
      {"ALLGEMEIN", "Quoted", "x"},
      {"ALLGEMEIN", "Half", "\"x"},                 // quotes that do not match stay
      {"ALLGEMEIN", "Semi", "a;b"},                 // no comments inside values
      {"ALLGEMEIN", "Later", "default"},            // only the first of two equal sections counts
      {"ALLGEMEIN", "NoValue", "default"},
      {"Texte", "T1", "Gr\xFC\xDF" "e"},            // Windows-1252 bytes pass unchanged, LF alone ends a line
      {"Missing", "T1", "default"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.section) + "/" + r.key);
    EXPECT_EQ(GetPrivateProfileString(r.section, r.key, "default", dir / "config.cfg"), r.want);
  }
  EXPECT_EQ(GetPrivateProfileString("A", "B", "default", dir / "none.cfg"), "default");
}

TEST(Profile, ValuesAreCutToTheCapacity) {
  TempDir dir;
  dir.Write("x.ini", "[S]\r\nK=" + std::string(300, 'a') + "\r\n");
  EXPECT_EQ(GetPrivateProfileString("S", "K", "", dir / "x.ini").size(), 254u);
  EXPECT_EQ(GetPrivateProfileString("S", "K", "", dir / "x.ini", 10), std::string(10, 'a'));
  EXPECT_EQ(GetPrivateProfileString("S", "none", std::string(300, 'd'), dir / "x.ini").size(), 254u);
}

TEST(Profile, WriteChangesOneLineAndKeepsTheRest) {
  struct Row {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  } rows[] = {
      {"replace in place, other lines byte for byte",
       "; c\n[Allgemein]\r\n  sprache = D.spr ; x\r\nA=1\n\n[Other]\r\nSPRACHE=keep\r\n",
       "ALLGEMEIN", "SPRACHE", "E.spr",
       "; c\n[Allgemein]\r\nsprache=E.spr\r\nA=1\n\n[Other]\r\nSPRACHE=keep\r\n"},
      {"first duplicate is the one written",
       "[S]\r\nK=1\r\nK=2\r\n", "S", "k", "3", "[S]\r\nK=3\r\nK=2\r\n"},
      {"new key after the section's last entry, before blank lines",
       "[S]\r\nA=1\r\n\r\n[T]\r\nB=2\r\n", "S", "New", "x", "[S]\r\nA=1\r\nNew=x\r\n\r\n[T]\r\nB=2\r\n"},
      {"new key in an empty last section without a line end",
       "[S]", "S", "K", "v", "[S]\r\nK=v\r\n"},
      {"new section at the end", "[S]\r\nA=1", "T", "K", "", "[S]\r\nA=1\r\n[T]\r\nK=\r\n"},
      {"new file", "", "ALLGEMEIN", "ZULETZT VERWENDET0", "/a b", "[ALLGEMEIN]\r\nZULETZT VERWENDET0=/a b\r\n"},
      {"CR alone and CR CR LF end lines, and stay as they were",
       "[S]\r\r\nK=1\r\r\nA=2\rB=3\r", "S", "K", "4", "[S]\r\r\nK=4\r\r\nA=2\rB=3\r"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TempDir dir;
    if (!r.before.empty()) dir.Write("CONFIG.CFG", r.before);
    ASSERT_TRUE(WritePrivateProfileString(r.section, r.key, r.value, dir / "CONFIG.CFG"));
    EXPECT_EQ(dir.Read("CONFIG.CFG"), r.after);
    EXPECT_EQ(GetPrivateProfileString(r.section, r.key, "?", dir / "CONFIG.CFG"), r.value);
  }
}

TEST(Profile, WriteGoesToTheFileWhateverTheCaseOfItsName) {
  TempDir dir;
  dir.Write("config.cfg", "[S]\r\nK=1\r\n");
  ASSERT_TRUE(WritePrivateProfileString("S", "K", "2", dir / "CONFIG.CFG"));
  EXPECT_EQ(dir.Read("config.cfg"), "[S]\r\nK=2\r\n");
  EXPECT_FALSE(dir.Exists("CONFIG.CFG"));
}

TEST(Profile, WritesThatCouldNotStandInTheFileAreRefused) {
  struct Row {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
  } rows[] = {
      {"line break in value", "S", "K", "a\r\nB=1"}, {"line break in key", "S", "K\nX", "v"},
      {"bracket in section", "S]x", "K", "v"},        {"equals in key", "S", "K=1", "v"},
      {"empty key", "S", " ", "v"},                    {"empty section", "", "K", "v"},
  };
  TempDir dir;
  dir.Write("x.ini", "[S]\r\nK=old\r\n");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_FALSE(WritePrivateProfileString(r.section, r.key, r.value, dir / "x.ini"));
    EXPECT_EQ(dir.Read("x.ini"), "[S]\r\nK=old\r\n");
  }
  EXPECT_FALSE(WritePrivateProfileString("S", "K", "v", dir / "missing/x.ini"));
}

}  // namespace
}  // namespace platform
