// System texts as the windows show them.
#pragma once

#include <QString>
#include <string>

namespace platform::qt {

// A system text (Windows-1252, lines separated by CR, LF or both) as a window shows it.
QString DisplayText(const std::string& text);

}  // namespace platform::qt
