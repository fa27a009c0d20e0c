#include "configurator/language.h"

#include <gtest/gtest.h>

#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"

namespace configurator {
namespace {

const char* const kTexts =
    "[GLOBALE-TEXTE]\r\n"
    "T01=OK\r\n"
    "T02=Abbruch\r\n"
    "[ZFM]\r\n"
    "T3=Typ des Zentralfunkmodems:\r\n"
    "T4=@5\r\n"
    "T12=Zwei&#13;Zeilen&#13;\r\n"
    "[FEHLER]\r\n"
    "T8=Projektdatei nicht geschrieben\r\n"
    "T9=Erste&#13;Zweite\r\n"
    "T16=Unit refused\r\n";

class LanguageTest : public ::testing::Test {
 protected:
  LanguageTest() {
    dir.Write("D.spr", kTexts);
    texts.SetTextFile(dir / "d.SPR");  // found whatever its case
  }
  platform::testing::TempDir dir;
  TLanguageTexts texts{""};
};

TEST_F(LanguageTest, TranslateText) {
  texts.SetTextSection("ZFM");
  struct Row {
    const char* caption;
    const char* want;
  } rows[] = {
      {"Name:", "Name:"},                             // no "@": unchanged
      {"", ""},
      {"@", ""},                                      // no digits
      {"@Typ", ""},
      {"@01OK", "OK"},                                // leading 0: the global section
      {"@02", "Abbruch"},
      {"@3Typ:", "Typ des Zentralfunkmodems:"},        // the words after the digits are a hint
      {"@12", "Zwei\rZeilen\r"},
      {"@16Fehlt", "T16"},                            // a missing text shows its key
      {"@011", "T011"},                               // digits are kept as written
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.caption);
    EXPECT_EQ(texts.TranslateText(r.caption), r.want);
  }
}

TEST_F(LanguageTest, TranslateCaptionKeepsCaptionsWithoutAUsableText) {
  texts.SetTextSection("ZFM");
  struct Row {
    const char* caption;
    const char* want;
  } rows[] = {
      {"@3Typ:", "Typ des Zentralfunkmodems:"}, {"@", "@"}, {"@x", "@x"}, {"@4", "@4"}, {"Fest", "Fest"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.caption);
    EXPECT_EQ(texts.TranslateCaption(r.caption), r.want);
  }
}

TEST_F(LanguageTest, SectionNamesAreCutTo40Characters) {
  texts.SetTextSection(std::string(45, 'S'));
  EXPECT_EQ(texts.TextSection(), std::string(40, 'S'));
}

TEST_F(LanguageTest, TextsAreCutTo254Characters) {
  dir.Write("L.spr", "[ZFM]\r\nT1=" + std::string(300, 'x') + "\r\n");
  texts.SetTextFile(dir / "L.spr");
  texts.SetTextSection("ZFM");
  EXPECT_EQ(texts.TranslateText("@1").size(), 254u);
}

TEST_F(LanguageTest, ShowErrorMsg) {
  platform::testing::RecordingMessages service;
  TMessages messages(texts, service);
  texts.SetTextSection("ZFM");
  messages.ShowErrorMsg(8, "/daten/p.INI (Err=28)");
  messages.ShowErrorMsg(9);
  messages.ShowErrorMsg(13);
  ASSERT_EQ(service.boxes.size(), 3u);
  EXPECT_EQ(service.boxes[0].text, "Projektdatei nicht geschrieben\r/daten/p.INI (Err=28)");
  EXPECT_EQ(service.boxes[0].kind, platform::MessageKind::Error);
  EXPECT_EQ(service.boxes[0].buttons, platform::MessageButtons::Ok);
  EXPECT_EQ(service.boxes[1].text, "Erste\rZweite");
  EXPECT_EQ(service.boxes[2].text, "T13");
  EXPECT_EQ(texts.TextSection(), "FEHLER");
}

// Messages the first language files did not have: their own text where the file has one, the
// program's German text where it has none, never the bare key.
TEST_F(LanguageTest, LaterMessagesFallBackToTheProgramsText) {
  EXPECT_EQ(texts.LoadErrorText(msgUnitCharacter), "Unit refused");
  EXPECT_EQ(texts.LoadErrorText(msgNoNumber), "Der Wert ist keine Zahl.");
  texts.SetTextFile(dir / "fehlt.spr");
  EXPECT_EQ(texts.LoadErrorText(msgUnitCharacter), "Die Einheit enth\xE4lt ein unzul\xE4ssiges Zeichen.");
  EXPECT_EQ(texts.LoadErrorText(7), "T7") << "the first messages keep showing their key";
}

TEST(FirstUncodable, FindsTheFirstCharacterWithoutAWindows1252Form) {
  struct Row {
    std::u16string typed;
    char32_t found;
  } rows[] = {
      {u"", 0},           {u"Nord 1", 0},     {u"\u20AC \u00E4\u00DF?", 0},  // euro sign, umlauts, a typed "?"
      {u"\u03A9mega \u20AC", 0x03A9}, {u"a\u0100\u03A9", 0x0100}, {u"x\U0001F600", 0x1F600},  // outside the BMP
      {u"\xD800", 0xD800},  // a lone surrogate
  };
  for (const Row& r : rows) EXPECT_EQ(FirstUncodable(r.typed), r.found) << CharacterName(r.found);
  EXPECT_EQ(CharacterName(0x03A9), "U+03A9");
  EXPECT_EQ(CharacterName(0x1F600), "U+1F600");
}

}  // namespace
}  // namespace configurator
