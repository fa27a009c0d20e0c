// The configurator's user-interface texts: captions and messages are text ids ("@" + digits)
// looked up in a language file, and the numbered error messages of section FEHLER shown
// through the program's message service.
#pragma once

#include <string>
#include <string_view>

#include "platform/message_service.h"

namespace configurator {

// Messages of section FEHLER beyond the numbers the language files were first written with.
// A language file that lacks one of them gets the program's own (German) text.
enum TMessageNumber : int {
  msgUnitCharacter = 16,  // forbidden character in a unit
  msgUncodable = 17,      // a typed character without a Windows-1252 form; the character
  msgNoNumber = 18,       // a grid cell that takes a number; the text
  msgNoInteger = 19,      // the decimals cell; the text
  msgOutOfRange = 20,     // a number the project file cannot keep; the text and the range
  msgNoStationName = 21,  // empty station name
  msgNoFreeAddress = 22,  // every station address is in use
  msgProjectNamePath = 23,  // a project name holding a path separator; the character
  msgProjectNameLong = 24,  // a project name too long for a file name
};

// The first character of typed that Windows-1252 lacks (it would be stored as "?"), 0 when
// every one has a form.
char32_t FirstUncodable(std::u16string_view typed);
// How a message names a character that the code page lacks: "U+03A9".
std::string CharacterName(char32_t c);

class TLanguageTexts {
 public:
  // The start text file: the program's path + ".TXT", until the settings name another.
  explicit TLanguageTexts(std::string textFile);

  void SetTextFile(const std::string& name);
  void SetTextSection(const std::string& name);  // the first 40 characters
  const std::string& TextFile() const { return file_; }
  const std::string& TextSection() const { return section_; }

  // "@12Typ:" gives key T12 of the current section ("@0.." of GLOBALE-TEXTE), at most 254
  // characters, the key itself when the text is missing, "&#13;" turned into CR. A caption
  // without "@" comes back unchanged; "@" without digits gives "".
  std::string TranslateText(const std::string& caption) const;
  // What a caption of a form becomes: its translation, unless that is empty or begins with
  // "@", in which case the caption stays.
  std::string TranslateCaption(const std::string& caption) const;
  // Text of message number (section FEHLER, which stays current).
  std::string LoadErrorText(int number);

 private:
  std::string file_;
  std::string section_ = "GLOBALE-TEXTE";
};

// The boxes the configurator's core shows.
class TMessages {
 public:
  TMessages(TLanguageTexts& texts, platform::MessageService& service) : texts_(texts), service_(service) {}

  // Message number in an error box with OK; extra, when given, as its second line.
  void ShowErrorMsg(int number, const std::string& extra = {});
  // Message msgUncodable naming the character c.
  void ShowUncodable(char32_t c);
  // A plain box with OK.
  void ShowMessage(const std::string& text);

  TLanguageTexts& Texts() { return texts_; }
  platform::MessageService& Service() { return service_; }

 private:
  TLanguageTexts& texts_;
  platform::MessageService& service_;
};

}  // namespace configurator
