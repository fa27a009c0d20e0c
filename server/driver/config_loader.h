// Loading of the server's configuration: the options of Ostrel.PAR and Ostrel.INI, the
// central modem, the outstations with their "+" sections, system registers and channels,
// and, with PERMANENTDATEN, the station states. Builds FML.
#pragma once

#include <cstdint>

namespace driver {

// 0 on success, else a negative error code (logged). On failure FML keeps what was built.
int32_t CreateFML();

}  // namespace driver
