#include "explorer/qt/qt_dialogs.h"

#include <QFileDialog>
#include <QInputDialog>

#include "explorer/qt/browse_dlg.h"
#include "explorer/qt/group_dlg.h"
#include "explorer/qt/qt_text.h"
#include "explorer/qt/server_dlg.h"

namespace explorer {

namespace {

const char* const kSessionFilter = "KOPL Sessionfile (*opc) (*.opc)";

bool RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, std::string& file_name) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(mode);
  dialog.setNameFilter(kSessionFilter);
  if (mode == QFileDialog::AcceptSave) {
    dialog.setDefaultSuffix("opc");
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!file_name.empty()) dialog.selectFile(QPath(file_name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  file_name = SPath(dialog.selectedFiles().front());
  return true;
}

}  // namespace

bool TQtDialogs::SelectServer(std::string& computer, std::string& prog_id, std::string& clsid_text) {
  return explorer::SelectServer(parent_, messages_, computer, prog_id, clsid_text);
}

bool TQtDialogs::BrowseItems(kopl::TKoplBrowser& browser, std::vector<std::string>& ids, bool start_at_root) {
  return explorer::BrowseItems(parent_, browser, ids, start_at_root);
}

bool TQtDialogs::EditGroup(kopl::tGroupStateRec& state) { return explorer::EditGroup(parent_, messages_, state); }

std::string TQtDialogs::SelectGroup(const std::vector<std::string>& names) {
  return explorer::SelectGroup(parent_, names);
}

bool TQtDialogs::InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  bool ok = false;
  QString text = QInputDialog::getText(parent_, Q(caption), Q(prompt), QLineEdit::Normal, Q(value), &ok);
  if (ok) value = S(text);
  return ok;
}

bool TQtDialogs::OpenSessionFile(std::string& file_name) {
  return RunFileDialog(parent_, QFileDialog::AcceptOpen, file_name);
}

bool TQtDialogs::SaveSessionFile(std::string& file_name) {
  return RunFileDialog(parent_, QFileDialog::AcceptSave, file_name);
}

}  // namespace explorer
