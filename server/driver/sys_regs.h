// The fixed names of the system registers (group 0) and of the radio-modem parameters
// (group 5) of the central modem and of the outstations.
#pragma once

#include <cstdint>
#include <string>

namespace driver {

class TFuMo;

// Name of one register, "" past the group's end. "#" is a placeholder without an OPC item,
// a leading "&" marks a writable item, a leading "\xA7" (the section sign) a floating
// register of the central modem. modus is the operating mode 0..2.
std::string SysRegName(const TFuMo& station, int32_t stationIndex, int32_t group, int32_t index,
                       int32_t modus);

}  // namespace driver
