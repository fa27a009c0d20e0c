// Texts cross into the window toolkit here: the system keeps Windows-1252 bytes with CR line
// breaks, the toolkit wants UTF-16 with LF.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace configurator::windows {

QString Q(const std::string& text);
// Characters that Windows-1252 lacks become "?".
std::string Cp(const QString& text);
// The text as typed, for checks of what Windows-1252 can hold; valid while text is.
std::u16string_view U16(const QString& text);

}  // namespace configurator::windows
