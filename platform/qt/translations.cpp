#include "platform/qt/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace platform::qt {

QTranslator* InstallQtTranslation(const QString& language) {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace platform::qt
