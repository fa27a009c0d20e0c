#include "platform/com/data_object.h"

#include <mutex>

namespace platform::com {

namespace {

struct Formats {
  std::mutex mutex;
  std::vector<std::string> names;  // index i is format 0xC000 + i
};

Formats& Table() {
  static Formats* formats = new Formats;  // lives for the whole run, also past static destructors
  return *formats;
}

}  // namespace

CLIPFORMAT RegisterClipboardFormat(const std::string& name) {
  if (name.empty()) return 0;
  Formats& t = Table();
  std::lock_guard lock(t.mutex);
  for (size_t i = 0; i < t.names.size(); ++i) {
    if (t.names[i] == name) return static_cast<CLIPFORMAT>(0xC000 + i);
  }
  if (t.names.size() >= 0x4000) return 0;
  t.names.push_back(name);
  return static_cast<CLIPFORMAT>(0xC000 + t.names.size() - 1);
}

std::optional<std::string> GetClipboardFormatName(CLIPFORMAT format) {
  Formats& t = Table();
  std::lock_guard lock(t.mutex);
  if (format < 0xC000 || format - 0xC000u >= t.names.size()) return std::nullopt;
  return t.names[format - 0xC000u];
}

}  // namespace platform::com
