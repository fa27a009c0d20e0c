// The configurator Brindel: describes a radio-modem network and writes the server's INI file.
#include <QApplication>

#include "configurator/core.h"
#include "configurator/windows/main_window.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/shell.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/qt/message_boxes.h"
#include "platform/qt/translations.h"
#include "support/error_log.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The boxes' title; not a display name, which the desktop would append to every caption.
  QApplication::setApplicationName(configurator::windows::Q("Qar OPC DA Server Konfigurationsprogramm"));
  // The program's own texts are German whatever the language file says ("bereits aktiv", the
  // file dialogs' titles); Qt's buttons go with them.
  platform::qt::InstallQtTranslation(QStringLiteral("de"));
  // Before anything that may log; its marker files are looked for in the current folder.
  support::StartErrorLog(support::LogBuild::Configurator);

  int rc = 0;
  platform::qt::QtMessageService boxes;
  const std::string program = platform::ProgramPath();
  if (std::unique_ptr<configurator::TConfiguratorCore> core = configurator::TConfiguratorCore::Start(program, boxes)) {
    configurator::windows::TDesktopShell shell;
    configurator::windows::TfrmMain window(*core, program, shell, platform::DefaultClock());
    window.show();
    rc = app.exec();
  }  // else another copy runs; the message has been shown
  support::StopErrorLog(rc);
  return rc;
}
