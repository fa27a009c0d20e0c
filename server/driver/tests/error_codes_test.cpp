#include "server/driver/error_codes.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"
#include "server/driver/utilities.h"

namespace driver {
namespace {

using platform::testing::TempDir;

class ErrorTextTest : public ::testing::Test {
 protected:
  void SetUp() override { ServerDir = dir.Path(); }
  void TearDown() override {
    ServerDir.clear();
    SetFailItemName("");
  }
  void Language(const std::string& lines) {
    dir.Write("CONFIG.CFG", "[ALLGEMEIN]\r\nSPRACHE=deutsch.lng\r\n");
    dir.Write("deutsch.lng", "[OPC-SERVER]\r\n" + lines);
  }
  TempDir dir;
};

TEST_F(ErrorTextTest, BuiltInTexts) {
  struct Row {
    int32_t code;
    const char* want;
  } rows[] = {
      {-13, "FML: configfile not found!\r(code=-13)"},
      {-99, "Unknown Error\r(code=-99)"},
      {-2, "Unknown Error\r(code=-2)"},
      {-14, "Unknown Error\r(code=-14)"},
      {-3, "INI_file: missiong or incorrect text in section Zentralfunkmodem at key MODUS !\r(code=-3)"},
      {-41, "MoP: Thread Initialisierungsfehler!\r(code=-41)"},
  };
  for (const auto& r : rows) EXPECT_EQ(GetErrorText(r.code), r.want) << r.code;
}

TEST_F(ErrorTextTest, LanguageFileTranslates) {
  Language("T-16=Unbekannter Kanaltyp#13in der Konfiguration\r\nT-3=Abschnitt %s, Schluessel %s fehlt\r\n");
  EXPECT_EQ(GetErrorText(-16), "Unbekannter Kanaltyp\rin der Konfiguration\r(code=-16)");
  EXPECT_EQ(GetErrorText(-3), "Abschnitt Zentralfunkmodem, Schluessel MODUS fehlt\r(code=-3)");
  EXPECT_EQ(GetErrorText(-13), "FML: configfile not found!\r(code=-13)");  // no key: built-in
}

TEST_F(ErrorTextTest, MissingPiecesFallBack) {
  struct Row {
    const char* name;
    const char* config;  // nullptr: no CONFIG.CFG
  } rows[] = {{"no CONFIG.CFG", nullptr},
              {"no SPRACHE", "[ALLGEMEIN]\r\nOTHER=1\r\n"},
              {"no language file", "[ALLGEMEIN]\r\nSPRACHE=missing.lng\r\n"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TempDir other;
    ServerDir = other.Path();
    if (r.config) other.Write("CONFIG.CFG", r.config);
    EXPECT_EQ(GetErrorText(-13), "FML: configfile not found!\r(code=-13)");
  }
}

TEST_F(ErrorTextTest, UnformattableTranslationOfMinus3FallsBackToBuiltIn) {
  Language("T-3=Fehler %d in %s\r\n");
  EXPECT_EQ(GetErrorText(-3),
            "INI_file: missiong or incorrect text in section Zentralfunkmodem at key MODUS !\r(code=-3)");
}

TEST_F(ErrorTextTest, ErrorMsg) {
  EXPECT_EQ(GetErrorMsg(-13), "Err= -$0D\rMsg= FML: configfile not found!\r(code=-13)");
  EXPECT_EQ(GetErrorMsg(-4).rfind("Err= -$04\r", 0), 0u);
}

TEST_F(ErrorTextTest, ExceptionsCarryCodeTextAndFailedItem) {
  try {
    throw EFML(kErrIniText);
  } catch (const ECustomFunk& e) {
    EXPECT_EQ(e.Code, -3);
    EXPECT_STREQ(e.what(),
                 "INI_file: missiong or incorrect text in section Zentralfunkmodem at key MODUS !\r(code=-3)");
  }
  SetFailItemName("ZFM1.Pumpe.Druck");
  try {
    throw ENamespace(kErrNsItem);
  } catch (const ECustomFunk& e) {
    EXPECT_EQ(e.Code, -20);
    EXPECT_STREQ(e.what(), "NS: Error creating Item!\r(code=-20)\rZFM1.Pumpe.Druck");
  }
}

// The failing-item text reaches the user through C strings (an exception's message, a box), which
// a NUL would end: it carries one as the log shows it.
TEST_F(ErrorTextTest, FailedItemShowsANulAsTheLogDoes) {
  SetFailItemName(std::string_view("\"A\0b\" (NS: 1:1-0)", 17));
  EXPECT_EQ(FailItemName(), "\"A{0}b\" (NS: 1:1-0)");
  try {
    throw ENamespace(kErrNsItem);
  } catch (const ECustomFunk& e) {
    EXPECT_STREQ(e.what(), "NS: Error creating Item!\r(code=-20)\r\"A{0}b\" (NS: 1:1-0)");
  }
}

}  // namespace
}  // namespace driver
