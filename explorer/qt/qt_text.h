// Texts cross into the windows here: the program's texts are Windows-1252 bytes, Qt's are
// UTF-16; file names are the file system's bytes.
#pragma once

#include <QFile>
#include <QString>
#include <exception>
#include <functional>
#include <string>

#include "platform/cp1252.h"

namespace explorer {

inline QString Q(const std::string& text) { return QString::fromStdU16String(platform::Cp1252ToUtf16(text)); }
inline std::string S(const QString& text) { return platform::Utf16ToCp1252(text.toStdU16String()); }
inline QString QPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
inline std::string SPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Runs a command of a window; an exception that leaves it goes to the program's standard
// report, never into Qt's event loop.
void Guard(const std::function<void()>& command);

}  // namespace explorer
