// The message boxes, beep and wait cursor of the windowed programs, as Qt shows them.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/message_service.h"

namespace platform::qt {

class QtMessageService final : public MessageService {
 public:
  // Boxes are shown over parent once it is set (a program's main window), else over the active
  // window. Their title is the application's display name (its name unless one is set).
  void SetParent(QWidget* parent) { parent_ = parent; }
  MessageAnswer Show(MessageKind kind, const std::string& text, MessageButtons buttons) override;
  void Beep() override;
  void SetWaitCursor(bool on) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace platform::qt
