// Lines of the system's text files. CR LF, LF and a lone CR each end a line: files written on
// one platform and converted on another (the line ends converted twice, CR CR LF) stay readable,
// and no text of these files holds a CR as a character (language texts write it "#13").
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace platform {

// Position of the first CR or LF at or after pos; npos when there is none.
inline size_t FindLineEnd(std::string_view text, size_t pos) {
  // In windows of a line's usual length, so that a file of CR alone is not scanned to its end
  // for an LF at every line.
  constexpr size_t kWindow = 256;
  for (size_t at = pos; at < text.size(); at += kWindow) {
    const char* begin = text.data() + at;
    const size_t n = std::min(kWindow, text.size() - at);
    const void* lf = std::memchr(begin, '\n', n);
    const size_t before_lf = lf ? size_t(static_cast<const char*>(lf) - begin) : n;
    if (const void* cr = std::memchr(begin, '\r', before_lf)) return at + size_t(static_cast<const char*>(cr) - begin);
    if (lf) return at + before_lf;
  }
  return std::string_view::npos;
}

// The line that begins at pos, without its end; pos moves past the end. ending (when given)
// gets "\r\n", "\n", "\r", or "" for a last line without one. False when pos is at the end.
inline bool NextLine(std::string_view text, size_t& pos, std::string_view& line, std::string_view* ending = nullptr) {
  if (pos >= text.size()) return false;
  const size_t at = FindLineEnd(text, pos);
  const size_t stop = at == std::string_view::npos ? text.size() : at;
  size_t end = 0;  // bytes of the line end
  if (at != std::string_view::npos) end = text.compare(at, 2, "\r\n") == 0 ? 2 : 1;
  line = text.substr(pos, stop - pos);
  if (ending) *ending = text.substr(stop, end);
  pos = stop + end;
  return true;
}

}  // namespace platform
