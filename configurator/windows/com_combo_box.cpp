#include "configurator/windows/com_combo_box.h"

#include "configurator/windows/qt_text.h"

namespace configurator::windows {

TComComboBox::TComComboBox(QWidget* parent, std::vector<std::string> (*systemPorts)())
    : QComboBox(parent), select_(systemPorts) {
  setEditable(false);
  connect(this, &QComboBox::activated, this, [this](int index) { select_.Change(index); });
}

void TComComboBox::Show() {
  QStringList items;
  for (const std::string& s : select_.Items) items << Q(s);
  bool same = count() == items.size();
  for (int i = 0; same && i < count(); ++i) same = itemText(i) == items[i];
  if (!same) {
    clear();
    addItems(items);
  }
  setCurrentIndex(select_.ItemIndex);
}

void TComComboBox::SetComProperty(serial::TComProperty kind) {
  select_.SetComProperty(kind);
  Show();
}

void TComComboBox::SetComPort(serial::TCustomComPort* port) {
  select_.SetComPort(port);
  Show();
}

void TComComboBox::SetText(const std::string& text) {
  select_.SetText(text);
  Show();
}

}  // namespace configurator::windows
