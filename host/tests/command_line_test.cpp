#include "host/command_line.h"

#include <gtest/gtest.h>

namespace host {
namespace {

using namespace std::chrono_literals;
using Mode = CommandLine::Mode;

struct Row {
  const char* name;
  std::vector<std::string> args;
  bool ok;
  Mode mode = Mode::kServe;
  bool da10 = false;
  std::optional<std::chrono::milliseconds> dump;
};

TEST(CommandLineTest, Table) {
  const Row rows[] = {
      {"no arguments serve", {}, true, Mode::kServe, false, std::nullopt},
      {"registration in any case", {"-RegServer"}, true, Mode::kRegister, false, std::nullopt},
      {"unregistration", {"-UNREGSERVER"}, true, Mode::kUnregister, false, std::nullopt},
      {"activation's switch is accepted", {"-Embedding"}, true, Mode::kServe, false, std::nullopt},
      {"activation's switch with a slash", {"/embedding", "--da10-only"}, true, Mode::kServe, true, std::nullopt},
      {"dump after whole seconds", {"--dump-after", "5"}, true, Mode::kServe, false, 5000ms},
      {"dump after a fraction", {"--dump-after=0.25"}, true, Mode::kServe, false, 250ms},
      {"dump at once", {"--dump-after", "0"}, true, Mode::kServe, false, 0ms},
      {"help", {"--help"}, true, Mode::kHelp, false, std::nullopt},
      {"registration switch not first", {"--da10-only", "-REGSERVER"}, false, Mode::kServe, false, std::nullopt},
      {"registration with serving options",
       {"-REGSERVER", "--dump-after", "1"},
       false,
       Mode::kServe,
       false,
       std::nullopt},
      {"dump without seconds", {"--dump-after"}, false, Mode::kServe, false, std::nullopt},
      {"negative seconds", {"--dump-after", "-1"}, false, Mode::kServe, false, std::nullopt},
      {"seconds that are no number", {"--dump-after", "1e3"}, false, Mode::kServe, false, std::nullopt},
      {"seconds with a comma", {"--dump-after", "0,5"}, false, Mode::kServe, false, std::nullopt},
      {"empty seconds", {"--dump-after="}, false, Mode::kServe, false, std::nullopt},
      {"more than a year", {"--dump-after", "99999999"}, false, Mode::kServe, false, std::nullopt},
      {"unknown option", {"--verbose"}, false, Mode::kServe, false, std::nullopt},
      {"registration with a slash is not a switch here", {"/REGSERVER"}, false, Mode::kServe, false, std::nullopt},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string error;
    auto line = ParseCommandLine(r.args, &error);
    ASSERT_EQ(line.has_value(), r.ok) << error;
    if (!r.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(line->mode, r.mode);
    EXPECT_EQ(line->da10_only, r.da10);
    EXPECT_EQ(line->dump_after, r.dump);
  }
}

}  // namespace
}  // namespace host
