#include "explorer/protocol_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace explorer {

std::string ProtocolFileName(kopl::TDateTime now) {
  std::string stamp = kopl::DateTimeToText(now);
  for (char& c : stamp) {
    if (c == ':') c = '-';
    if (c == '.') c = '_';
  }
  return "OPC_" + stamp + ".csv";
}

std::string ProtocolText(const std::vector<const TItemRowTexts*>& rows) {
  std::string text;
  for (const TItemRowTexts* row : rows) {
    text += row->ItemId + ";" + row->Value + ";" + row->Quality + ";" + row->Time + "\r\n";
  }
  return text;
}

void WriteProtocolFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw EInOutError("Cannot create file \"" + path + "\". " + std::strerror(errno));
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int err = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) throw EInOutError("Cannot write file \"" + path + "\". " + std::strerror(err));
}

}  // namespace explorer
