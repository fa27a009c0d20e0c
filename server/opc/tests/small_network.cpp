#include "server/opc/tests/small_network.h"

namespace opc::testing {

namespace {

std::string Lines(const std::string& prefix, const std::string& kind, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += "KANAL=" + kind + "," + prefix + std::to_string(i) + ",,1,0,0\r\n";
  return out;
}

}  // namespace

const std::string kStations = "TYP=Pumpe,RM3,1,12,0,0\r\nTYP=Turm,RM3,1,40,3,0\r\n";
const std::string kChannels =
    "[ADR012]\r\n"
    "KANAL=AE,Druck,bar,0.1,0,1\r\n"
    "KANAL=AE,Pegel,%,1,0,0\r\n"
    "KANAL=AE,&Frei,,1,0,0\r\n"
    "KANAL=AE,#,,1,0,0\r\n"
    "KANAL=AE,&,,1,0,0\r\n" +
    Lines("E", "BE", 20) + "KANAL=AA,Stell,%,1,0,0\r\n" + Lines("A", "BA", 10) +
    "\r\n[ADR040]\r\nKANAL=AE,Temp,\xB0" "C,1,0,0\r\n\r\n";

}  // namespace opc::testing
