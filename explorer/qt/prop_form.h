// The item properties form: one row per property of an item, shown modally and reused.
#pragma once

#include <QDialog>

#include "explorer/explorer_model.h"

class QGroupBox;
class QTreeWidget;

namespace explorer {

class TfrmProp : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmProp(QWidget* parent = nullptr);

  // Empties the list, then shows the form's caption and rows.
  void Fill(const TPropertyForm& form);
  QGroupBox* Box() const { return box_; }
  QTreeWidget* List() const { return list_; }

 private:
  QGroupBox* box_;
  QTreeWidget* list_;
};

}  // namespace explorer
