// A drop-down list for one serial setting: it lists the setting's texts and keeps the chosen
// value (serial::TComSelect holds the list and decides).
#pragma once

#include <QComboBox>
#include <string>
#include <vector>

#include "serial/com_select.h"

namespace configurator::windows {

class TComComboBox : public QComboBox {
 public:
  explicit TComComboBox(QWidget* parent, std::vector<std::string> (*systemPorts)() = nullptr);

  serial::TComProperty ComProperty() const { return select_.ComProperty(); }
  void SetComProperty(serial::TComProperty kind);
  void SetComPort(serial::TCustomComPort* port);
  bool AutoApply() const { return select_.AutoApply; }
  void SetAutoApply(bool on) { select_.AutoApply = on; }
  std::string Text() const { return select_.Text(); }
  void SetText(const std::string& text);
  const serial::TComSelect& Select() const { return select_; }

 private:
  // Shows the selection object's items and selection.
  void Show();

  serial::TComSelect select_;
};

}  // namespace configurator::windows
