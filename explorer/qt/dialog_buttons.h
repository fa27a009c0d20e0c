// The button row of the explorer's dialogs: a default button and "&Cancel" at the right.
#pragma once

#include <QString>

class QDialog;
class QHBoxLayout;
class QPushButton;

namespace explorer {

struct TDialogButtons {
  QPushButton* Default;  // the caller wires it
  QHBoxLayout* Row;
};

// "&Cancel" rejects the dialog; the default button is the one Enter presses.
TDialogButtons DialogButtons(QDialog* dialog, const QString& default_text);

}  // namespace explorer
