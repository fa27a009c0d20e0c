// The control channel of the simulator: one command per line, one reply line each, beginning
// with "ok" or "error". Tests and the demo use it to make the modem go silent and come back,
// take the port away, arm faults, and look at a station's registers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/radiosim/modem.h"

namespace radiosim {

// What the program does with its port; the commands reach it through this.
class PortControl {
 public:
  virtual ~PortControl() = default;
  // The port vanishes; "" or the reason it could not.
  virtual std::string ClosePort() = 0;
  // It comes back; "" with path set to where it is now, or the reason it could not.
  virtual std::string OpenPort(std::string& path) = 0;
};

struct CommandResult {
  std::string reply;
  bool quit = false;
};

CommandResult RunCommand(std::string_view line, Modem& modem, PortControl* port, Duration now);

// The command list, as --help and "help" show it.
extern const char kCommandHelp[];

// A fault plan: each line "N command" runs the command once the server's N-th telegram has
// come in; "#" starts a comment line.
struct PlanEntry {
  int64_t telegram;
  std::string command;
};
bool ParsePlan(std::string_view text, std::vector<PlanEntry>& plan, std::string& error);
// Takes the commands whose telegram has come, in the plan's order.
std::vector<std::string> TakeDue(std::vector<PlanEntry>& plan, int64_t telegrams);

}  // namespace radiosim
