// The item browse dialog: branches and leaves at the browser's position, with filters.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "explorer/browse_dlg_model.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;

namespace explorer {

class TKoplDlgBrowse : public QDialog {
  Q_OBJECT
 public:
  TKoplDlgBrowse(kopl::TKoplBrowser& browser, bool start_at_root, QWidget* parent = nullptr);

  // The chosen item IDs once the dialog ended with OK.
  const std::vector<std::string>& ItemIDs() const { return ids_; }

  QLineEdit* Filter() const { return filter_; }
  QComboBox* DataType() const { return data_type_; }
  QLineEdit* PathField() const { return path_; }
  QCheckBox* Writable() const { return writable_; }
  QCheckBox* Readable() const { return readable_; }
  QListWidget* List() const { return list_; }
  QToolButton* BackButton() const { return back_; }
  QPushButton* OpenButton() const { return open_; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateEvent();
  void Refresh();
  void Open();
  void Render();

  TBrowseDlgModel model_;
  std::vector<std::string> ids_;
  bool shown_ = false;
  QLineEdit* filter_;
  QComboBox* data_type_;
  QLineEdit* path_;
  QCheckBox* writable_;
  QCheckBox* readable_;
  QListWidget* list_;
  QToolButton* back_;
  QPushButton* open_;
};

// False at once when the browser has no connected server; else the dialog, true for OK with
// the chosen item IDs in ids.
bool BrowseItems(QWidget* parent, kopl::TKoplBrowser& browser, std::vector<std::string>& ids, bool start_at_root);

}  // namespace explorer
