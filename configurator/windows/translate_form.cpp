#include "configurator/windows/translate_form.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>

#include "configurator/language.h"
#include "configurator/windows/qt_text.h"

namespace configurator::windows {

void TranslateForm(QWidget* form, const std::string& section, TLanguageTexts& texts) {
  texts.SetTextSection(section);
  auto translated = [&](const QString& caption) {
    return caption.startsWith(QLatin1Char('@')) ? Q(texts.TranslateCaption(Cp(caption))) : caption;
  };
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (auto* label = qobject_cast<QLabel*>(w))
      label->setText(translated(label->text()));
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
      button->setText(translated(button->text()));
    else if (auto* group = qobject_cast<QGroupBox*>(w))
      group->setTitle(translated(group->title()));
  }
}

}  // namespace configurator::windows
