#include "host/command_line.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>

namespace host {

const char kUsage[] =
    "Usage: ostrel-host [-REGSERVER | -UNREGSERVER] [--da10-only] [--dump-after SECONDS]\n"
    "Serves the server library libOstrel.so of its own folder (the server folder, where\n"
    "Ostrel.INI lives) to OPC DA clients on this machine until SIGTERM or SIGINT.\n"
    "\n"
    "  -REGSERVER            register the server for its class id and ProgIDs, then end\n"
    "  -UNREGSERVER          remove that registration, then end\n"
    "  --da10-only           offer no connection points (OPC DA 1.0 clients' road only)\n"
    "  --dump-after SECONDS  serve that long, then print every item with its value,\n"
    "                        quality, time stamp and properties, and stop\n"
    "  --help                this text\n";

namespace {

bool Is(const std::string& arg, const char* name) { return strcasecmp(arg.c_str(), name) == 0; }

// A number of seconds, fractions allowed ("." as decimal point), at most a year.
std::optional<std::chrono::milliseconds> Seconds(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  double s = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(s) || s < 0 || s > 366.0 * 86400) return std::nullopt;
  return std::chrono::milliseconds(static_cast<int64_t>(std::llround(s * 1000)));
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string* error) {
  CommandLine line;
  auto fail = [&](std::string text) -> std::optional<CommandLine> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (Is(a, "-REGSERVER") || Is(a, "-UNREGSERVER")) {
      if (i != 0) return fail(a + " must be the first argument");
      line.mode = Is(a, "-REGSERVER") ? CommandLine::Mode::kRegister : CommandLine::Mode::kUnregister;
    } else if (Is(a, "-Embedding") || Is(a, "/Embedding")) {
      // Added by activation when a client starts the server; it changes nothing here.
    } else if (a == "--da10-only") {
      line.da10_only = true;
    } else if (a == "--dump-after" || a.rfind("--dump-after=", 0) == 0) {
      std::string value;
      if (a == "--dump-after") {
        if (i + 1 == args.size()) return fail("--dump-after needs a number of seconds");
        value = args[++i];
      } else {
        value = a.substr(sizeof("--dump-after=") - 1);
      }
      line.dump_after = Seconds(value);
      if (!line.dump_after) return fail("--dump-after: \"" + value + "\" is no number of seconds");
    } else if (a == "--help" || a == "-h") {
      line.mode = CommandLine::Mode::kHelp;
    } else {
      return fail("unknown argument \"" + a + "\"");
    }
  }
  if (line.mode == CommandLine::Mode::kRegister || line.mode == CommandLine::Mode::kUnregister) {
    if (line.da10_only || line.dump_after) return fail("registration takes no further options");
  }
  return line;
}

}  // namespace host
