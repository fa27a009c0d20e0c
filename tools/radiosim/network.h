// The network the simulator plays, read from the same Ostrel.INI (and Ostrel.PAR) the server
// reads, through the server's own configuration loader: so both agree on every station's
// address path and on the size of each register class.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace radiosim {

struct StationShape {
  std::string name;
  int index = 0;                   // place in the station list; 0 is the central modem
  int adr1 = 0;
  std::array<uint8_t, 4> path{};   // as the server's telegrams carry it
  int binaryInputs = 0, analogInputs = 0, binaryOutputs = 0, analogOutputs = 0;
  int params = 0;                  // radio-modem parameters
};

struct Network {
  int modus = 0;
  int timeoutMs = 150;  // the server's TIMEOUT option
  StationShape central;
  std::vector<StationShape> stations;  // the outstations in the order of their lines
};

// Loads the folder's Ostrel.INI; false with a message when it cannot be used.
bool LoadNetwork(const std::string& dir, Network& net, std::string& error);

}  // namespace radiosim
