#include "configurator/windows/qt_text.h"

#include "platform/cp1252.h"

namespace configurator::windows {

QString Q(const std::string& text) {
  std::u16string u = platform::Cp1252ToUtf16(text);
  QString s = QString::fromUtf16(u.data(), qsizetype(u.size()));
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

std::string Cp(const QString& text) { return platform::Utf16ToCp1252(U16(text)); }

std::u16string_view U16(const QString& text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

}  // namespace configurator::windows
