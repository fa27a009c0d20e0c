// The machine's serial ports, for the port-name combo box.
#pragma once

#include <string>
#include <vector>

namespace serial {

// Fills list with the names ("ttyS0", "ttyUSB0") of the serial devices under sysfsRoot that
// have a driver (a "device" link; for ttyS*, only those whose UART "type" is not 0), sorted
// ignoring case. The list is cleared first; a missing root leaves it empty.
void ListSerialPorts(std::vector<std::string>& list, const std::string& sysfsRoot = "/sys/class/tty");

}  // namespace serial
