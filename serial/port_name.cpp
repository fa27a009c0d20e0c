#include "serial/port_name.h"

namespace serial {

std::string DevicePath(const std::string& port) {
  if (port.empty()) return "";
  if (port[0] == '/') return port;
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
  if (port.size() > 3 && upper(port[0]) == 'C' && upper(port[1]) == 'O' && upper(port[2]) == 'M') {
    long n = 0;
    bool digits = true;
    for (size_t i = 3; i < port.size() && digits; ++i) {
      digits = port[i] >= '0' && port[i] <= '9';
      if (digits && n < 100000) n = n * 10 + (port[i] - '0');
    }
    if (digits && n >= 1 && n < 100000) return "/dev/ttyS" + std::to_string(n - 1);
  }
  return "/dev/" + port;
}

}  // namespace serial
