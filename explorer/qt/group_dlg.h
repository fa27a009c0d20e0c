// The group properties dialog and the group picker.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "opcclient/kopl_types.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace platform {
class MessageService;
}

namespace explorer {

class TEditGroupDlg : public QDialog {
  Q_OBJECT
 public:
  TEditGroupDlg(platform::MessageService& messages, QWidget* parent = nullptr);

  // Into the fields on show; back out after OK.
  kopl::tGroupStateRec State;

  QLineEdit* GroupName() const { return name_; }
  QLineEdit* UpdateRate() const { return rate_; }
  QLineEdit* DeadBand() const { return dead_band_; }
  QCheckBox* Active() const { return active_; }
  QPushButton* OkButton() const { return ok_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Ok();

  platform::MessageService& messages_;
  QLineEdit* name_;
  QLineEdit* rate_;
  QLineEdit* dead_band_;
  QCheckBox* active_;
  QPushButton* ok_;
};

// The dialog on a copy of state; on OK the copy goes back and the result is true.
bool EditGroup(QWidget* parent, platform::MessageService& messages, kopl::tGroupStateRec& state);

class TSelGroupDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TSelGroupDlg(const std::vector<std::string>& names, QWidget* parent = nullptr);
  QListWidget* List() const { return list_; }
  // The selected name, or "" when none.
  std::string Picked() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QListWidget* list_;
};

// The picked group name, or "" for Cancel or no selection.
std::string SelectGroup(QWidget* parent, const std::vector<std::string>& names);

}  // namespace explorer
