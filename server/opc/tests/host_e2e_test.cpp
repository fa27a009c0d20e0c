// The built library in a host program of its own, installed in a temporary server folder: the
// units' start-up and shutdown around the exports, what the library exports, the host services
// shared across the library boundary, and the registration switch from the real command line.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "serial/tests/pty.h"
#include "server/opc/tests/server_folder.h"
#include "server/opc/tests/small_network.h"
#include "tools/testing/simulator_process.h"

namespace opc::testing {
namespace {

struct Output {
  int exit_code = -1;
  std::vector<std::string> lines;  // standard output
  std::string errors;              // standard error
};

// A server folder with the test host program in it, registered as the server's program.
struct Install : ServerFolder {
  Install() : ServerFolder(TEST_HOST) { Register(); }

  // The driver thread's serial line is a pty that nobody answers on.
  void WriteIni(int modus = 1) const {
    dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nMODUS=" + std::to_string(modus) + "\r\nRS232=" +
                                pty.SlavePath() + ",9600,None,8,1\r\n\r\n[Unterstationen]\r\n" + kStations +
                                "\r\n" + kChannels);
  }

  Output Run(const std::string& script, const std::string& argument = "") const {
    Output o;
    std::string text;
    o.exit_code = ServerFolder::Run(argument.empty() ? std::vector<std::string>{} : std::vector<std::string>{argument},
                                    {{"OSTREL_LIBRARY", OSTREL_LIBRARY}, {"OSTREL_SCRIPT", script}}, &text, &o.errors);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) o.lines.push_back(line);
    return o;
  }

  // The logged texts of Problem2.TXT, without stamps.
  std::vector<std::string> Log() const {
    std::vector<std::string> texts;
    std::istringstream all(dir.Read("Problem2.TXT"));
    for (std::string line; std::getline(all, line);) {
      auto open = line.find('>');
      if (open != std::string::npos && line.size() >= open + 3) texts.push_back(line.substr(open + 1, line.size() - open - 3));
    }
    return texts;
  }

  serial::testing::Pty pty;
};

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(HostEndToEnd, LibraryExportsOnlyTheFiveFunctions) {
  void* library = dlopen(OSTREL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name :
       {"SOXpSInitialize", "SOXpSBuildDANameSpace", "SOXpSStart", "SOXpSHandleDARequests", "SOXpSStop"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  // Inner functions of the library and of the units it links stay inside.
  for (const char* name : {"_ZN6driver9CreateFMLEv", "_ZN7support10LogMessageESt17basic_string_viewIcSt11char_traitsIcEE",
                           "_ZN3opc16StartExportsUnitEv", "_ZN8platform12DefaultClockEv"})
    EXPECT_EQ(dlsym(library, name), nullptr) << name;
  dlclose(library);
}

TEST(HostEndToEnd, WholeLifeInAServerFolder) {
  Install in;
  in.WriteIni();
  in.dir.Write("DEBUG", "1");
  Output o = in.Run(
      "init;ns;start;read ZFM1.Pumpe.Druck;write ZFM1.Pumpe.Stell 42;read ZFM1.Pumpe.Stell;stop;unload");
  ASSERT_EQ(o.exit_code, 0) << o.errors;
  EXPECT_EQ(o.lines.front(), "record Qar.OPC_DA_Server_RM.1 Qar.OPC_DA_Server_RM " + in.dir.Path() + "PROBLEM8.txt " +
                                 in.dir.Path() + "PROBLEM9.txt 1 0");
  EXPECT_TRUE(Has(o.lines, "tag ZFM1.Pumpe.Druck 5 1 272"));
  EXPECT_TRUE(Has(o.lines, "tag ZFM1.Pumpe.Stell 3 3 304"));
  EXPECT_TRUE(Has(o.lines, "start 1"));
  EXPECT_TRUE(Has(o.lines, "read ZFM1.Pumpe.Druck 5 0 8"));  // never answered: not connected
  EXPECT_TRUE(Has(o.lines, "write ZFM1.Pumpe.Stell 0"));
  EXPECT_TRUE(Has(o.lines, "read ZFM1.Pumpe.Stell 3 0 20"));  // the write waits for the driver

  // The units start before the first export and stop after the last, the log's end line last.
  auto log = in.Log();
  auto at = [&](const std::string& line) { return std::find(log.begin(), log.end(), line) - log.begin(); };
  EXPECT_LT(at("[Neustart Tarmo-32 PC-Programm , DbgFlag=$01]"), at("SOXpSInitialize: Start; Version=070226"));
  EXPECT_LT(at("SOXpSInitialize: Start; Version=070226"), at("SOXpSStart: Modus=1"));
  EXPECT_LT(at("SOXpSStart: Modus=1"), at("SOXpSStop: Free FML (inkl. aller FuMo) OK"));
  EXPECT_LT(at("SOXpSStop: Free FML (inkl. aller FuMo) OK"), std::ptrdiff_t(log.size()));
  EXPECT_EQ(log.back(), "[Ende PC-Programm Velto_OPC-Server_V070226, RT 0 at 000000]");
}

TEST(HostEndToEnd, RegistrationSwitchOnTheHostsCommandLine) {
  Install in;  // no Ostrel.INI: registering reads none
  in.dir.Write("DEBUG", "1");
  Output o = in.Run("init;unload", "-RegServer");
  ASSERT_EQ(o.exit_code, 0) << o.errors;
  EXPECT_TRUE(Has(in.Log(), "SOXpSInitialize: iFatalError=-$00)"));
}

TEST(HostEndToEnd, LastErrorOfTheHostReachesTheLibrary) {
  Install in;
  in.WriteIni();
  in.dir.Write("SAVE_ERR", "");
  Output o = in.Run("failnode Turm 1064;init;ns;start;unload");
  ASSERT_EQ(o.exit_code, 0) << o.errors;
  EXPECT_TRUE(Has(in.Log(),
                  "NS: Create, Exception=-$19, Name: Error at createNode ZFM exception!|(code=-25)|\"Turm\" (NS: 2)"));
  EXPECT_TRUE(Has(o.lines, "start 0"));
  // No display: the box went to standard error and the start returned.
  EXPECT_NE(o.errors.find("OPC-Server could not be started!\nErr= -$19\n"), std::string::npos) << o.errors;
}

TEST(HostEndToEnd, DemoMarkerRunsWithoutDriverThread) {
  Install in;
  in.WriteIni();
  in.dir.Write("DEMO", "");
  in.dir.Write("SAVE_ERR", "");
  Output o = in.Run("init;ns;start;read ZFM1.Pumpe.Druck;stop;unload");
  ASSERT_EQ(o.exit_code, 0) << o.errors;
  EXPECT_TRUE(Has(o.lines, "start 1"));
  EXPECT_TRUE(Has(o.lines, "read ZFM1.Pumpe.Druck 5 0 8"));
  auto log = in.Log();
  EXPECT_TRUE(Has(log, "SOXpSStart: OPC-Server erfolgreich gestartet!"));
  EXPECT_FALSE(Has(log, "SOXpSStart: Modus=1"));
  EXPECT_FALSE(Has(log, "SOXpSStop: Terminate TreiberThread OK"));
}

// Initialise, namespace, start, read until good, write an output, read its confirmation, stop,
// unload, with the simulator behind the configured pty.
TEST(HostEndToEnd, FullRoundAgainstTheSimulator) {
  Install in;
  const std::string port = radiosim::testing::SimulatorProcess::DefaultPortPath(in.dir.Path());
  in.dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nRS232=" + port +
                                 ",9600,Even,8,1\r\nMODUS=1\r\n\r\n[Unterstationen]\r\n" + kStations + "\r\n" +
                                 kChannels);
  radiosim::testing::SimulatorProcess sim(in.dir.Path(), {"--radio-delay", "0"});
  ASSERT_TRUE(sim.Start()) << sim.Error();

  Output o = in.Run(
      "init;ns;start;wait-good ZFM1.Pumpe.Druck 30;write ZFM1.Pumpe.A3 1;wait-good ZFM1.Pumpe.A3 30;"
      "read ZFM1.Pumpe.A3;stop;unload");
  ASSERT_EQ(o.exit_code, 0) << o.errors;
  EXPECT_TRUE(Has(o.lines, "start 1"));
  EXPECT_TRUE(Has(o.lines, "good ZFM1.Pumpe.Druck 1"));
  EXPECT_TRUE(Has(o.lines, "write ZFM1.Pumpe.A3 0"));
  EXPECT_TRUE(Has(o.lines, "good ZFM1.Pumpe.A3 1"));
  EXPECT_TRUE(Has(o.lines, "read ZFM1.Pumpe.A3 3 1 192"));
  // The simulated station's first output word follows the write: output 3 is on.
  const std::vector<int> outputs = sim.Registers("Pumpe", 2);
  ASSERT_FALSE(outputs.empty());
  EXPECT_EQ(outputs[0] & 8, 8);
}

}  // namespace
}  // namespace opc::testing
