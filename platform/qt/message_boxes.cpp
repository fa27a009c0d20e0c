#include "platform/qt/message_boxes.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include "platform/qt/display_text.h"

namespace platform::qt {

MessageAnswer QtMessageService::Show(MessageKind kind, const std::string& text, MessageButtons buttons) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case MessageKind::Plain: icon = QMessageBox::NoIcon; break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
    case MessageKind::Error: icon = QMessageBox::Critical; break;
    case MessageKind::Confirmation: icon = QMessageBox::Question; break;
  }
  QMessageBox box(icon, QGuiApplication::applicationDisplayName(), DisplayText(text), QMessageBox::NoButton,
                  parent_ ? parent_.data() : QApplication::activeWindow());
  // Server and item texts may hold "<": never taken for markup.
  box.setTextFormat(Qt::PlainText);
  switch (buttons) {
    case MessageButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setEscapeButton(QMessageBox::No);
      break;
    case MessageButtons::YesNoAbort:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Abort);
      box.setEscapeButton(QMessageBox::Abort);
      break;
  }
  // The box must be usable even while a wait cursor is on.
  QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  const int result = box.exec();
  QGuiApplication::restoreOverrideCursor();
  switch (result) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Abort: return MessageAnswer::Abort;
    default:
      return buttons == MessageButtons::Ok      ? MessageAnswer::Ok
             : buttons == MessageButtons::YesNo ? MessageAnswer::No
                                                : MessageAnswer::Abort;
  }
}

void QtMessageService::Beep() { QApplication::beep(); }

void QtMessageService::SetWaitCursor(bool on) {
  if (on)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace platform::qt
