// The configurator's user-interface texts: captions and messages are text ids ("@" + digits)
// looked up in a language file, and the numbered error messages of section FEHLER shown
// through the program's message service.
#pragma once

#include <string>

#include "platform/message_service.h"

namespace configurator {

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
  // A plain box with OK.
  void ShowMessage(const std::string& text);

  TLanguageTexts& Texts() { return texts_; }
  platform::MessageService& Service() { return service_; }

 private:
  TLanguageTexts& texts_;
  platform::MessageService& service_;
};

}  // namespace configurator
