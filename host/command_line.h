// The command line of ostrel-host.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct CommandLine {
  enum class Mode { kServe, kRegister, kUnregister, kHelp };
  Mode mode = Mode::kServe;
  bool da10_only = false;  // offer no connection points: an OPC DA 1.0 server
  // Serve this long, print the namespace, then stop.
  std::optional<std::chrono::milliseconds> dump_after;
};

// The arguments after the program name. nullopt for a line that cannot be run, with the reason
// in *error. "-REGSERVER" and "-UNREGSERVER" (any case) must come first, because the server
// library looks only at the first argument to decide whether to load its configuration.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string* error);

extern const char kUsage[];

}  // namespace host
