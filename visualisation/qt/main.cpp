// Lumaro: the station visualisation client.
#include <QApplication>
#include <clocale>

#include "opcclient/kopl_services.h"
#include "opcclient/qt/qt_apartment.h"
#include "platform/files.h"
#include "platform/qt/message_boxes.h"
#include "platform/qt/translations.h"
#include "support/error_log.h"
#include "visualisation/global.h"
#include "visualisation/qt/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Lumaro");
  platform::qt::InstallQtTranslation(QStringLiteral("de"));  // the windows speak German
  lumaro::Context context;
  // The user's number format for what the windows and logs show; the library conversions
  // keep "." whatever the locale.
  context.format = lumaro::SystemNumberFormat();
  std::setlocale(LC_NUMERIC, "C");
  platform::qt::QtMessageService messages;
  context.messages = &messages;
  context.program_dir = platform::ProgramDir();
  context.current_dir = platform::CurrentDir();

  support::StartErrorLog(support::LogBuild::Visualisation);
  kopl::KoplServices services;
  services.build = kopl::KoplBuild::Visualisation;
  services.message_box = [&messages](const std::string& text) {
    messages.Show(platform::MessageKind::Plain, text, platform::MessageButtons::Ok);
  };
  services.beep = [&messages] { messages.Beep(); };
  services.log = [](const std::string& line) { support::LogMessage(line); };
  services.handle_exception = [&context](const std::exception& e) { lumaro::ShowError(context, e.what()); };
  kopl::SetServices(std::move(services));
  kopl::AttachApartmentToQt();

  int rc = 1;
  {
    lumaro::TOVMain window(context);
    window.show();
    if (window.Start()) rc = QApplication::exec();
  }
  kopl::DetachApartmentFromQt();
  kopl::SetServices({});
  support::StopErrorLog(rc);
  return rc;
}
