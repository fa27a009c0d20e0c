// For end-to-end tests: runs the radio-network simulator (radio-sim) as a child process on the
// Ostrel.INI of a test folder, waits for its "ready" line, sends it control commands and stops
// it by its pid.
//
//   radiosim::testing::SimulatorProcess sim(dir.Path(), {"--radio-delay", "20"});
//   ASSERT_TRUE(sim.Start()) << sim.Error();
//   // RS232=<sim.PortPath()>,... in the server's Ostrel.INI; the path is known before Start().
//   EXPECT_EQ(sim.Command("station 2 silent"), "ok");
//   EXPECT_EQ(sim.Registers("1", 2), (std::vector<int>{5, 0}));
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace radiosim::testing {

class SimulatorProcess {
 public:
  // iniDir: the folder of Ostrel.INI; args: further options of the program (radio-sim --help).
  // The port is a link in iniDir ("radio-sim.tty") unless args hold --link or --device.
  explicit SimulatorProcess(std::string iniDir, std::vector<std::string> args = {});
  ~SimulatorProcess();  // stops the program if it still runs
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // The program file the build made.
  static std::string ProgramPath();
  // The port a simulator on iniDir will offer with the default link.
  static std::string DefaultPortPath(const std::string& iniDir);

  // Starts the program and waits for its ready line; false with the reason in Error().
  bool Start(std::chrono::milliseconds wait = std::chrono::seconds(10));
  // The path the server opens: the link, or what the ready line named.
  const std::string& PortPath() const { return port_; }
  pid_t Pid() const { return pid_; }
  bool Running() const { return pid_ > 0; }
  const std::string& Error() const { return error_; }

  // Sends one control command; its reply line ("ok ..." or "error ..."), or "" when none came.
  std::string Command(const std::string& line, std::chrono::milliseconds wait = std::chrono::seconds(10));
  // The words of "regs STATION CLASS"; empty when the command failed.
  std::vector<int> Registers(const std::string& station, int cls);
  // The counters of "stats" by name.
  std::map<std::string, long long> Stats();

  // SIGTERM, then waits for the exit (SIGKILL after wait); the exit status of waitpid, or -1.
  int Stop(std::chrono::milliseconds wait = std::chrono::seconds(10));

 private:
  bool ReadLine(std::string& line, std::chrono::milliseconds wait);

  std::string dir_;
  std::vector<std::string> args_;
  std::string port_;
  std::string error_;
  pid_t pid_ = -1;
  int channel_ = -1;  // the child's stdin and stdout
  std::string buffer_;
};

}  // namespace radiosim::testing
