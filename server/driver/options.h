// The server-wide options: read from the options file Ostrel.PAR, then from the central
// modem's section of Ostrel.INI, which wins. Written while the configuration loads, before
// any driver thread starts; read-only afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace driver {

struct TOptions {
  bool SIMULATION = false;
  int32_t SYSPOLLZYKLUS = 2;
  bool PERMANENTDATEN = false;
  int32_t SYSREGCOUNT = 999;
  int32_t HILFSZYKLEN = 0;
  int32_t HILFSFAILMAX = 10;
  bool MOP2CRC = false;
  int32_t TIMEOUT = 150;  // ms
  int32_t MODUS = 0;      // 0 passive driver, 1 and 2 time-slot driver; set by CreateFML
};

extern TOptions Options;

// Every option back to its value before any file is read (SIMULATION off among them).
void ResetOptions();

// Reads the eight option keys from the section of the reader's current file; a missing key
// or a value out of range keeps the option as it is.
void ReadOptionen(const std::string& section);

}  // namespace driver
