#include "configurator/windows/shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "configurator/windows/qt_text.h"

namespace configurator::windows {

bool TDesktopShell::Open(const std::string& target) {
  const QString t = Q(target);
  const QUrl url(t);
  if (!url.scheme().isEmpty() && url.scheme().size() > 1) return QDesktopServices::openUrl(url);
  if (QFileInfo::exists(t)) return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(t).absoluteFilePath()));
  const QString program = QStandardPaths::findExecutable(t);
  return !program.isEmpty() && QProcess::startDetached(program, {});
}

}  // namespace configurator::windows
