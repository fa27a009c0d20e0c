// Qt's own texts (the standard buttons Yes, No, Abort, OK and Cancel of every box and dialog,
// the file dialogs) in the language of the program's windows.
#pragma once

#include <QString>
#include <QTranslator>

namespace platform::qt {

// Installs Qt's translation for language (as "de") into the running application for as long
// as it runs, and returns it; nullptr when the machine has none for that language.
QTranslator* InstallQtTranslation(const QString& language);

}  // namespace platform::qt
