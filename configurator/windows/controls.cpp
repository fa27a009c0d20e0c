#include "configurator/windows/controls.h"

#include <QScreen>

#include "configurator/language.h"
#include "configurator/windows/qt_text.h"

namespace configurator::windows {

void CentreOnScreen(QWidget* window) {
  const QWidget* parent = window->parentWidget();
  const QScreen* screen = parent ? parent->screen() : window->screen();
  if (!screen) return;
  QRect r(QPoint(0, 0), window->size());
  r.moveCenter(screen->availableGeometry().center());
  window->move(r.topLeft());
}

bool RefuseUncodable(QLineEdit* edit, TMessages& messages) {
  const char32_t c = FirstUncodable(U16(edit->text()));
  if (c == 0) return false;
  messages.ShowUncodable(c);
  edit->setFocus();
  return true;
}

QLabel* NewLabel(QWidget* parent, const std::string& text, const QRect& geometry) {
  auto* l = new QLabel(Q(text), parent);
  l->setTextFormat(Qt::PlainText);
  l->setGeometry(geometry);
  return l;
}

}  // namespace configurator::windows
