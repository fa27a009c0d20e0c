// The program's message boxes, beep and wait cursor as real windows.
#pragma once

#include "platform/message_service.h"

namespace configurator::windows {

class TQtMessageService final : public platform::MessageService {
 public:
  // Boxes carry the application's display name as their title and belong to the active window.
  platform::MessageAnswer Show(platform::MessageKind kind, const std::string& text,
                               platform::MessageButtons buttons) override;
  void Beep() override;
  void SetWaitCursor(bool on) override;
};

}  // namespace configurator::windows
