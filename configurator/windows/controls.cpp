#include "configurator/windows/controls.h"

#include "configurator/windows/qt_text.h"

namespace configurator::windows {

QLabel* NewLabel(QWidget* parent, const std::string& text, const QRect& geometry) {
  auto* l = new QLabel(Q(text), parent);
  l->setTextFormat(Qt::PlainText);
  l->setGeometry(geometry);
  return l;
}

}  // namespace configurator::windows
