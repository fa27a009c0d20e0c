// Message boxes, the beep and the hourglass of the explorer's windows.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/message_service.h"

namespace explorer {

class TQtMessages final : public platform::MessageService {
 public:
  // Boxes are shown over parent (the main window once it exists).
  void SetParent(QWidget* parent) { parent_ = parent; }
  platform::MessageAnswer Show(platform::MessageKind kind, const std::string& text,
                               platform::MessageButtons buttons) override;
  void Beep() override;
  void SetWaitCursor(bool on) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace explorer
