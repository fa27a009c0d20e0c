// Captions of a window's own controls come from the language file.
#pragma once

#include <QWidget>
#include <string>

namespace configurator {
class TLanguageTexts;
}

namespace configurator::windows {

// Makes section current and replaces the caption of every label, button, check box, radio
// button and group box in form that begins with "@" by its text, unless that text is empty or
// begins with "@" itself. Edits, lists, menus and the form's own caption are left to their
// owners.
void TranslateForm(QWidget* form, const std::string& section, TLanguageTexts& texts);

}  // namespace configurator::windows
