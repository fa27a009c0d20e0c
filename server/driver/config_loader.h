// Loading of the server's configuration: the options of Ostrel.PAR and Ostrel.INI, the
// central modem, the outstations with their "+" sections, system registers and channels,
// and, with PERMANENTDATEN, the station states. Builds FML.
#pragma once

#include <cstdint>
#include <string>

#include "server/driver/fumo.h"

namespace driver {

// 0 on success, else a negative error code (logged). On failure FML keeps what was built.
int32_t CreateFML();

// The station's channel section in Ostrel.INI: "ADR" and its address in at least three digits
// (ADR007); the central modem's is ADR0-1. Its "+" section has this name followed by "+".
std::string ChannelSection(const TFuMo& station);

}  // namespace driver
