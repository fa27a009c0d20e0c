#include "configurator/windows/message_boxes.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include "configurator/windows/qt_text.h"

namespace configurator::windows {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;

MessageAnswer TQtMessageService::Show(MessageKind kind, const std::string& text, MessageButtons buttons) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case MessageKind::Plain: icon = QMessageBox::NoIcon; break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
    case MessageKind::Error: icon = QMessageBox::Critical; break;
    case MessageKind::Confirmation: icon = QMessageBox::Question; break;
  }
  QMessageBox box(icon, QGuiApplication::applicationDisplayName(), Q(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
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
    default: return buttons == MessageButtons::Ok ? MessageAnswer::Ok : buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Abort;
  }
}

void TQtMessageService::Beep() { QApplication::beep(); }

void TQtMessageService::SetWaitCursor(bool on) {
  if (on)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace configurator::windows
