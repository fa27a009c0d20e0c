// Where a port name leads on this system.
#pragma once

#include <string>

namespace serial {

// "COMn" (n from 1, any letter case) → "/dev/ttyS<n-1>"; a name beginning with "/" → itself;
// any other name → "/dev/<name>" (so "ttyUSB0" works). "" stays "" (no device).
std::string DevicePath(const std::string& port);

}  // namespace serial
