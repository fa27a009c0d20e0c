// For end-to-end tests and benchmarks: ostrel-host installed in a server folder of its own (the program and
// the libraries it loads, copied from the build), with Ostrel.INI for the small network on the
// simulator's port. The host serves its socket in a run folder of the test's own (through
// XDG_RUNTIME_DIR, which programs started from the test inherit), so tests can run at once, and
// runs without a display unless a test sets one.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/testing/temp_dir.h"

namespace host::testing {

// The server's class id, as the library's start-up record gives it.
inline constexpr platform::com::CLSID kOstrelClsid{
    0x5D2C8E71, 0x0B4F, 0x4A96, {0x9E, 0x3D, 0x71, 0xC4, 0xA2, 0xB8, 0xF6, 0x05}};
inline constexpr const char* kOstrelProgId = "Qar.OPC_DA_Server_RM";

struct Output {
  int exit_code = -1;  // -1: ended by a signal or never ran
  std::string out;
  std::string err;
};

class InstalledHost {
 public:
  // Copies the host's build folder (HOST_FOLDER) into `folder` (a fresh temporary one when
  // empty); with copy false the folder holds an installation already.
  explicit InstalledHost(const std::string& folder = "", bool copy = true);
  // Ends a host this object started; restores XDG_RUNTIME_DIR and the display variables, which
  // the constructor takes away so that no host started from a test shows a box.
  ~InstalledHost();
  InstalledHost(const InstalledHost&) = delete;
  InstalledHost& operator=(const InstalledHost&) = delete;

  const std::string& Folder() const { return folder_; }  // with a trailing "/"
  std::string Program() const { return folder_ + "ostrel-host"; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  // Ostrel.INI of the small network, on the simulator's port of this folder.
  void WriteIni() const;

  // Runs the host to its end (at most a minute); stdout and stderr captured.
  Output Run(const std::vector<std::string>& args) const;
  // Starts the host and waits (bounded) until it serves; Terminate() ends it.
  bool Spawn(const std::vector<std::string>& args);
  // SIGTERM to the host this object started, or else to the one the registry names as
  // running; its exit code once it ended (-1 when it was killed or is not our child).
  int Terminate();
  // The pid of the running server the registry names, if any.
  std::optional<uint32_t> RunningPid() const;

 private:
  platform::testing::TempDir temp_;
  platform::testing::TempDir run_;
  std::string folder_;
  std::map<std::string, std::string> saved_env_;  // what the constructor changed
  int spawned_ = -1;
};

// Waits (bounded) until the process is gone.
bool AwaitExit(uint32_t pid, std::chrono::milliseconds limit = std::chrono::seconds(20));

// SIGSTOP to the process, then waits (bounded) until every thread of it has stopped: kill
// returns before they all have, and a thread still running may answer a call meanwhile.
bool StopWholly(uint32_t pid, std::chrono::milliseconds limit = std::chrono::seconds(30));

// The process stopped wholly (StopWholly) while this lives; SIGCONT when it goes, also when the
// stop did not complete, so that a failed test leaves no stopped process behind.
class ScopedStop {
 public:
  explicit ScopedStop(uint32_t pid, std::chrono::milliseconds limit = std::chrono::seconds(30));
  ~ScopedStop();
  ScopedStop(const ScopedStop&) = delete;
  ScopedStop& operator=(const ScopedStop&) = delete;
  bool Stopped() const { return stopped_; }

 private:
  uint32_t pid_;
  bool stopped_;
};

// Connections to a Unix socket that send nothing; -1 where the connection was refused.
std::vector<int> IdleConnections(const std::string& path, int n);
// Waits (bounded) until the server has dealt with every connection: greeted it or closed it.
void AwaitAnswered(const std::vector<int>& fds, std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace host::testing
