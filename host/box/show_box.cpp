#include "host/box/show_box.h"

#include <QGuiApplication>

#include "platform/qt/display_text.h"
#include "platform/qt/message_boxes.h"

namespace host::box {

void ShowBox(const std::string& caption, const std::string& text) {
  QGuiApplication::setApplicationDisplayName(platform::qt::DisplayText(caption));
  platform::qt::QtMessageService boxes;
  boxes.Show(platform::MessageKind::Error, text, platform::MessageButtons::Ok);
}

}  // namespace host::box
