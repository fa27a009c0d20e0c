#include "explorer/qt/qt_messages.h"

#include <QApplication>
#include <QMessageBox>

#include "explorer/qt/qt_text.h"
#include "opcclient/kopl_services.h"

namespace explorer {

void Guard(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    kopl::HandleException(e);
  } catch (...) {
    kopl::HandleException(std::runtime_error("unknown exception"));
  }
}

platform::MessageAnswer TQtMessages::Show(platform::MessageKind kind, const std::string& text,
                                          platform::MessageButtons buttons) {
  QMessageBox box(parent_);
  box.setWindowTitle(QApplication::applicationDisplayName());
  // Lines of the system's texts are separated by CR alone.
  QString shown = Q(text);
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  box.setText(shown);
  switch (kind) {
    case platform::MessageKind::Plain: box.setIcon(QMessageBox::NoIcon); break;
    case platform::MessageKind::Information: box.setIcon(QMessageBox::Information); break;
    case platform::MessageKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case platform::MessageKind::Error: box.setIcon(QMessageBox::Critical); break;
    case platform::MessageKind::Confirmation: box.setIcon(QMessageBox::Question); break;
  }
  switch (buttons) {
    case platform::MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case platform::MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case platform::MessageButtons::YesNoAbort:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Abort);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return platform::MessageAnswer::Yes;
    case QMessageBox::No: return platform::MessageAnswer::No;
    case QMessageBox::Abort: return platform::MessageAnswer::Abort;
    default: return platform::MessageAnswer::Ok;
  }
}

void TQtMessages::Beep() { QApplication::beep(); }

void TQtMessages::SetWaitCursor(bool on) {
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace explorer
