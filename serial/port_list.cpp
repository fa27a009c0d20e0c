#include "serial/port_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace serial {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

// The legacy UART driver lists every port it could have; type 0 means no UART answered there.
bool UartPresent(const std::filesystem::path& entry) {
  std::ifstream in(entry / "type");
  int type = 0;
  return bool(in >> type) && type != 0;
}

}  // namespace

void ListSerialPorts(std::vector<std::string>& list, const std::string& sysfsRoot) {
  namespace fs = std::filesystem;
  list.clear();
  std::error_code ec;
  for (fs::directory_iterator it(sysfsRoot, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    std::string name = entry.filename().string();
    std::error_code link_ec;
    if (fs::symlink_status(entry / "device", link_ec).type() == fs::file_type::not_found) continue;
    if (name.rfind("ttyS", 0) == 0 && !UartPresent(entry)) continue;
    list.push_back(name);
  }
  std::stable_sort(list.begin(), list.end(), LessNoCase);
}

}  // namespace serial
