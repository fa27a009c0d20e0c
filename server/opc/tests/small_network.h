// The network most tests load.
#pragma once

#include <string>

namespace opc::testing {

// The station lines and channel sections of Ostrel.INI for a small network: station Pumpe
// (address 12) with the analogue inputs Druck (scaled, float), Pegel, &Frei, "#" and "&",
// 20 binary inputs E0..E19, the analogue output Stell and 10 binary outputs A0..A9; station
// Turm (address 40 behind relay 3) with the analogue input Temp.
extern const std::string kStations;
extern const std::string kChannels;

}  // namespace opc::testing
