#include "platform/com/rpc/local_activation.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

extern char** environ;

namespace platform::com::rpc {

namespace {

// The server program, started detached in its own session; a reaper thread collects its exit.
struct StartedProgram {
  std::atomic<bool> exited{false};
  std::atomic<int> status{0};
};

HRESULT StartProgram(const std::string& command, std::shared_ptr<StartedProgram>* started, std::string* error) {
  std::vector<std::string> args = SplitCommandLine(command);
  if (args.empty()) {
    *error = "the server's LocalServer32 command is empty";
    return CO_E_APPNOTFOUND;
  }
  args.push_back("-Embedding");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    *error = "cannot start the server program " + args[0] + ": " + std::strerror(rc);
    return CO_E_APPNOTFOUND;
  }
  auto program = std::make_shared<StartedProgram>();
  std::thread([program, pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    program->status = status;
    program->exited = true;
  }).detach();
  *started = program;
  return S_OK;
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "ended with exit code " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was ended by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

}  // namespace

HRESULT FindOrStartServer(const CLSID& clsid, const platform::Registry& reg, platform::Clock& clock,
                          uint32_t timeout_ms, const TryServer& attempt, std::string* error) {
  const std::string clsid_text = GuidToString(clsid);
  std::string why;
  std::optional<RunningServer> running = FindRunningServer(clsid, reg);
  if (running) {
    HRESULT hr = attempt(*running, &why);
    if (SUCCEEDED(hr)) return hr;
    if (hr != RPC_E_DISCONNECTED) {
      *error = why;
      return hr;
    }
  }

  std::optional<std::string> command = LocalServerCommand(clsid, reg);
  if (!command) {
    if (running) {
      *error = "server " + clsid_text + " does not answer: " + why;
      return RPC_E_DISCONNECTED;
    }
    *error = "class " + clsid_text + " is not registered (no LocalServer32 in " + reg.File() + ")";
    return REGDB_E_CLASSNOTREG;
  }
  std::shared_ptr<StartedProgram> program;
  if (HRESULT hr = StartProgram(*command, &program, error); FAILED(hr)) return hr;

  const uint32_t start = clock.TickMs();
  const uint32_t stale_pid = running ? running->pid : 0;
  for (;;) {
    std::optional<RunningServer> now = FindRunningServer(clsid, reg);
    if (now && now->pid != stale_pid) {
      HRESULT hr = attempt(*now, &why);
      if (SUCCEEDED(hr)) return hr;
      if (hr != RPC_E_DISCONNECTED) {
        *error = why;
        return hr;
      }
    }
    if (program->exited && !FindRunningServer(clsid, reg)) {
      *error = "server program for " + clsid_text + " (" + *command + ") " + ExitText(program->status) +
               " before it served";
      return CO_E_SERVER_EXEC_FAILURE;
    }
    if (clock.TickMs() - start >= timeout_ms) {
      *error = "server program for " + clsid_text + " (" + *command + ") did not start serving within " +
               std::to_string(timeout_ms) + " ms";
      return CO_E_SERVER_EXEC_FAILURE;
    }
    clock.SleepMs(20);
  }
}

}  // namespace platform::com::rpc
