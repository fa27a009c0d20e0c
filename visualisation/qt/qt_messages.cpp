#include "visualisation/qt/qt_messages.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include "platform/cp1252.h"

namespace lumaro {

QString DisplayText(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      // CR LF and LF CR are one break each.
      if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c) ++i;
      lines += '\n';
    } else {
      lines += c;
    }
  }
  return QString::fromStdString(platform::Cp1252ToUtf8(lines));
}

platform::MessageAnswer QtMessages::Show(platform::MessageKind kind, const std::string& text,
                                         platform::MessageButtons buttons) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QApplication::applicationName());
  box.setText(DisplayText(text));
  switch (kind) {
    case platform::MessageKind::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case platform::MessageKind::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case platform::MessageKind::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case platform::MessageKind::Confirmation:
      box.setIcon(QMessageBox::Question);
      break;
    case platform::MessageKind::Plain:
      break;
  }
  switch (buttons) {
    case platform::MessageButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case platform::MessageButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case platform::MessageButtons::YesNoAbort:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Abort);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes:
      return platform::MessageAnswer::Yes;
    case QMessageBox::No:
      return platform::MessageAnswer::No;
    case QMessageBox::Abort:
      return platform::MessageAnswer::Abort;
    default:
      return platform::MessageAnswer::Ok;
  }
}

void QtMessages::Beep() { QApplication::beep(); }

void QtMessages::SetWaitCursor(bool on) {
  if (on) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
}

}  // namespace lumaro
