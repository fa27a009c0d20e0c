// The server selection dialog: the OPC servers of a computer by category.
#pragma once

#include <QDialog>
#include <string>

#include "explorer/server_dlg_model.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace explorer {

class TKoplServerBrowseDlg : public QDialog {
  Q_OBJECT
 public:
  TKoplServerBrowseDlg(platform::MessageService& messages, QWidget* parent = nullptr);

  TServerSelectModel& Model() { return model_; }
  QLineEdit* Computer() const { return computer_; }
  QLineEdit* ServerName() const { return server_name_; }
  QLineEdit* ClassId() const { return class_id_; }
  QTreeWidget* Tree() const { return tree_; }
  QPushButton* SearchButton() const { return search_; }
  QPushButton* OkButton() const { return ok_; }

 private:
  void Search();
  void Selected();

  TServerSelectModel model_;
  QLineEdit* computer_;
  QLineEdit* server_name_;
  QLineEdit* class_id_;
  QTreeWidget* tree_;
  QPushButton* search_;
  QPushButton* ok_;
};

// Shows the dialog with computer in its computer field; true for OK. The three fields are
// copied out in every case.
bool SelectServer(QWidget* parent, platform::MessageService& messages, std::string& computer, std::string& prog_id,
                  std::string& clsid_text);

}  // namespace explorer
