// Feddra, the OPC explorer: a general OPC DA client to find servers, browse their address
// space, build groups of items, read and write them, save sessions and write text protocols.
#include <QApplication>
#include <cstdio>

#include "explorer/qt/explorer_dlg.h"
#include "explorer/qt/inspec_dlg.h"
#include "explorer/qt/main_dlg.h"
#include "explorer/qt/prop_form.h"
#include "explorer/qt/qt_dialogs.h"
#include "explorer/qt/qt_text.h"
#include "opcclient/kopl_services.h"
#include "opcclient/qt/qt_apartment.h"
#include "platform/qt/message_boxes.h"
#include "platform/qt/translations.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("OPC Explorer");
  platform::qt::InstallQtTranslation(QStringLiteral("en"));  // the windows speak English

  platform::qt::QtMessageService messages;
  kopl::KoplServices services;
  services.build = kopl::KoplBuild::Explorer;
  services.message_box = [&messages](const std::string& text) {
    messages.Show(platform::MessageKind::Plain, text, platform::MessageButtons::Ok);
  };
  services.beep = [] { QApplication::beep(); };
  services.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  services.handle_exception = [&messages](const std::exception& e) {
    messages.Show(platform::MessageKind::Error, e.what(), platform::MessageButtons::Ok);
  };
  kopl::SetServices(std::move(services));
  kopl::AttachApartmentToQt();

  int rc = 0;
  {
    explorer::TQtDialogs dialogs(messages);
    explorer::TMainDlg main(dialogs, messages, {});
    messages.SetParent(&main);
    dialogs.SetParent(&main);
    auto* explorer = new explorer::TExplorerDlg(main.Model().Explorer());
    auto* inspector = new explorer::TInspecDlg(main.Model().Inspector());
    auto* properties = new explorer::TfrmProp(&main);
    explorer->SetPropForm(properties);
    main.SetForms(explorer, inspector);
    main.show();
    rc = app.exec();
  }
  kopl::DetachApartmentFromQt();
  kopl::SetServices({});
  return rc;
}
