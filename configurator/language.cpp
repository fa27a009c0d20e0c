#include "configurator/language.h"

#include "platform/profile.h"

namespace configurator {

namespace {
constexpr size_t kSectionLength = 40;
constexpr size_t kTextLength = 254;

void ReplaceLineBreaks(std::string& text) {
  const std::string mark = "&#13;";
  for (size_t p = text.find(mark); p != std::string::npos; p = text.find(mark, p + 1)) text.replace(p, mark.size(), "\r");
}
}  // namespace

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
  return TranslateText("@" + std::to_string(number));
}

void TMessages::ShowErrorMsg(int number, const std::string& extra) {
  std::string text = texts_.LoadErrorText(number);
  if (!extra.empty()) text += "\r" + extra;
  service_.Show(platform::MessageKind::Error, text, platform::MessageButtons::Ok);
}

void TMessages::ShowMessage(const std::string& text) {
  service_.Show(platform::MessageKind::Plain, text, platform::MessageButtons::Ok);
}

}  // namespace configurator
