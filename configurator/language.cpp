#include "configurator/language.h"

#include <cstdio>

#include "platform/cp1252.h"
#include "platform/profile.h"

namespace configurator {

namespace {
constexpr size_t kSectionLength = 40;
constexpr size_t kTextLength = 254;

void ReplaceLineBreaks(std::string& text) {
  const std::string mark = "&#13;";
  for (size_t p = text.find(mark); p != std::string::npos; p = text.find(mark, p + 1)) text.replace(p, mark.size(), "\r");
}
// The program's own texts of the messages that older language files lack.
const char* ProgramErrorText(int number) {
  switch (number) {
    case msgUnitCharacter: return "Die Einheit enth\xE4lt ein unzul\xE4ssiges Zeichen.";
    case msgUncodable: return "Dieses Zeichen kann nicht gespeichert werden.";
    case msgNoNumber: return "Der Wert ist keine Zahl.";
    case msgNoInteger: return "Der Wert ist keine ganze Zahl.";
    case msgOutOfRange: return "Der Wert liegt au\xDF" "erhalb des zul\xE4ssigen Bereichs.";
    case msgNoStationName: return "Bitte einen Namen f\xFCr das Funkmodem eingeben.";
    case msgNoFreeAddress: return "Keine freie Adresse f\xFCr das Funkmodem!";
    case msgProjectNamePath: return "Der Projektname darf keinen Ordner enthalten.";
    case msgProjectNameLong: return "Der Projektname ist zu lang.";
    default: return nullptr;
  }
}
}  // namespace

char32_t FirstUncodable(std::u16string_view typed) {
  for (size_t i = 0; i < typed.size();) {
    const bool pair = i + 1 < typed.size() && typed[i] >= 0xD800 && typed[i] < 0xDC00 && typed[i + 1] >= 0xDC00 &&
                      typed[i + 1] < 0xE000;
    const size_t n = pair ? 2 : 1;
    const std::u16string_view one = typed.substr(i, n);
    if (one != u"?" && platform::Utf16ToCp1252(one, '?') == "?")
      return pair ? 0x10000 + ((char32_t(typed[i]) - 0xD800) << 10) + (char32_t(typed[i + 1]) - 0xDC00) : typed[i];
    i += n;
  }
  return 0;
}

std::string CharacterName(char32_t c) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", unsigned(c));
  return name;
}

TLanguageTexts::TLanguageTexts(std::string textFile) : file_(std::move(textFile)) {}

// File names are not cut to the platform's old 255 characters: installation paths may be longer.
void TLanguageTexts::SetTextFile(const std::string& name) { file_ = name; }

void TLanguageTexts::SetTextSection(const std::string& name) { section_ = name.substr(0, kSectionLength); }

std::string TLanguageTexts::TranslateText(const std::string& caption) const {
  if (caption.empty() || caption[0] != '@') return caption;
  size_t n = 1;
  while (n < caption.size() && caption[n] >= '0' && caption[n] <= '9') ++n;
  if (n == 1) return {};
  std::string key = "T" + caption.substr(1, n - 1);
  std::string section = caption[1] == '0' ? "GLOBALE-TEXTE" : section_;
  std::string text = platform::GetPrivateProfileString(section, key, key, file_, kTextLength);
  ReplaceLineBreaks(text);
  return text;
}

std::string TLanguageTexts::TranslateCaption(const std::string& caption) const {
  if (caption.empty() || caption[0] != '@') return caption;
  std::string text = TranslateText(caption);
  return text.empty() || text[0] == '@' ? caption : text;
}

std::string TLanguageTexts::LoadErrorText(int number) {
  SetTextSection("FEHLER");
  std::string text = TranslateText("@" + std::to_string(number));
  const char* own = ProgramErrorText(number);
  if (own && text == "T" + std::to_string(number)) text = own;
  return text;
}

void TMessages::ShowErrorMsg(int number, const std::string& extra) {
  std::string text = texts_.LoadErrorText(number);
  if (!extra.empty()) text += "\r" + extra;
  service_.Show(platform::MessageKind::Error, text, platform::MessageButtons::Ok);
}

void TMessages::ShowUncodable(char32_t c) { ShowErrorMsg(msgUncodable, CharacterName(c)); }

void TMessages::ShowMessage(const std::string& text) {
  service_.Show(platform::MessageKind::Plain, text, platform::MessageButtons::Ok);
}

}  // namespace configurator
