// Message boxes, beep and wait cursor of the visualisation client, as Qt shows them.
#pragma once

#include <QString>
#include <string>

#include "platform/message_service.h"

namespace lumaro {

// A system text (Windows-1252, lines separated by CR, LF or both) as a window shows it.
QString DisplayText(const std::string& text);

class QtMessages final : public platform::MessageService {
 public:
  platform::MessageAnswer Show(platform::MessageKind kind, const std::string& text,
                               platform::MessageButtons buttons) override;
  void Beep() override;
  void SetWaitCursor(bool on) override;
};

}  // namespace lumaro
