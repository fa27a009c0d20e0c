#include "explorer/qt/prop_form.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "explorer/qt/qt_text.h"

namespace explorer {

TfrmProp::TfrmProp(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Show Properties");
  // Only a close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  box_ = new QGroupBox;
  list_ = new QTreeWidget;
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({"ID", "Note", "Type", "Value", "HexValue"});
  list_->headerItem()->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
  // Every column within the list's width: the short ones as wide as their texts, the texts of
  // descriptions and values share the rest. Right-aligned, HexValue would otherwise end past
  // the visible part.
  QHeaderView* header = list_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::ResizeToContents);
  header->setSectionResizeMode(1, QHeaderView::Stretch);
  header->setSectionResizeMode(3, QHeaderView::Stretch);
  auto* inner = new QVBoxLayout(box_);
  inner->addWidget(list_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box_);
  resize(560, 300);
  // The Escape key closes it as any dialog's; a double-click too.
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
}

void TfrmProp::Fill(const TPropertyForm& form) {
  list_->clear();
  box_->setTitle(Q(form.Caption));
  for (const TPropertyRowTexts& row : form.Rows) {
    auto* item = new QTreeWidgetItem(list_, QStringList{Q(row.ID), Q(row.Note), Q(row.Type), Q(row.Value), Q(row.HexValue)});
    item->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
  }
}

}  // namespace explorer
