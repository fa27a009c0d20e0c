#include "platform/com/data_object.h"

#include <mutex>

namespace platform::com {

namespace {

struct Formats {
  std::mutex mutex;
  // Index i is format 0xC000 + i. The stream formats come first, so that a server knows them
  // without registering a name that a client sends.
  std::vector<std::string> names{kOpcStmFormatData, kOpcStmFormatDataTime, kOpcStmFormatWriteComplete};
};

// Lock held.
CLIPFORMAT Lookup(const Formats& t, const std::string& name) {
  for (size_t i = 0; i < t.names.size(); ++i) {
    if (t.names[i] == name) return static_cast<CLIPFORMAT>(0xC000 + i);
  }
  return 0;
}

Formats& Table() {
  static Formats* formats = new Formats;  // lives for the whole run, also past static destructors
  return *formats;
}

}  // namespace

CLIPFORMAT RegisterClipboardFormat(const std::string& name) {
  if (name.empty()) return 0;
  Formats& t = Table();
  std::lock_guard lock(t.mutex);
  if (CLIPFORMAT known = Lookup(t, name)) return known;
  if (t.names.size() >= 0x4000) return 0;
  t.names.push_back(name);
  return static_cast<CLIPFORMAT>(0xC000 + t.names.size() - 1);
}

CLIPFORMAT FindClipboardFormat(const std::string& name) {
  Formats& t = Table();
  std::lock_guard lock(t.mutex);
  return Lookup(t, name);
}

std::optional<std::string> GetClipboardFormatName(CLIPFORMAT format) {
  Formats& t = Table();
  std::lock_guard lock(t.mutex);
  if (format < 0xC000 || format - 0xC000u >= t.names.size()) return std::nullopt;
  return t.names[format - 0xC000u];
}

}  // namespace platform::com
