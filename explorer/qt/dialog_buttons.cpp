#include "explorer/qt/dialog_buttons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace explorer {

TDialogButtons DialogButtons(QDialog* dialog, const QString& default_text) {
  auto* button = new QPushButton(default_text);
  button->setDefault(true);
  auto* cancel = new QPushButton("&Cancel");
  cancel->setAutoDefault(false);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(button);
  row->addWidget(cancel);
  return {button, row};
}

}  // namespace explorer
