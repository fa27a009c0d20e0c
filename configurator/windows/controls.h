// Small helpers that the windows share to place their controls at fixed pixel positions.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QRect>
#include <string>

namespace configurator {
class TMessages;
}

namespace configurator::windows {

// OK of a dialog whose field holds a character without a Windows-1252 form: the message names
// it and the field gets the focus back. True when refused.
bool RefuseUncodable(QLineEdit* edit, TMessages& messages);

// A label with text (Windows-1252, shown as plain text) at geometry.
QLabel* NewLabel(QWidget* parent, const std::string& text, const QRect& geometry);

// Puts a window of its final size in the middle of the screen it will show on (its parent's),
// where a dialog would otherwise come up over the window that opened it.
void CentreOnScreen(QWidget* window);

// A new control at geometry with its label at labelGeometry; the label's "&" key focuses it.
template <class Control>
Control* Labelled(QWidget* parent, const std::string& caption, const QRect& labelGeometry, const QRect& geometry) {
  QLabel* label = NewLabel(parent, caption, labelGeometry);
  auto* control = new Control(parent);
  control->setGeometry(geometry);
  label->setBuddy(control);
  return control;
}

}  // namespace configurator::windows
