#include "platform/qt/display_text.h"

#include "platform/cp1252.h"

namespace platform::qt {

QString DisplayText(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      // CR LF and LF CR are one break each.
      if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c) ++i;
      lines += '\n';
    } else {
      lines += c;
    }
  }
  return QString::fromStdString(Cp1252ToUtf8(lines));
}

}  // namespace platform::qt
