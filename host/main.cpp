// ostrel-host: loads the server library of its own folder, builds its namespace, starts it and
// serves it to the OPC clients of this machine until SIGTERM or SIGINT; or registers it.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/dump.h"
#include "host/folder_lock.h"
#include "host/host_server.h"
#include "host/library_backend.h"
#include "host/message_boxes.h"
#include "host/name_space.h"
#include "host/registration.h"
#include "host/server_library.h"
#include "platform/registry.h"

namespace host {
namespace {

constexpr const char kShutdownReason[] = "The OPC server is shutting down.";

int Fail(const std::string& text) {
  std::fprintf(stderr, "ostrel-host: %s\n", text.c_str());
  return 1;
}

// Waits for SIGTERM or SIGINT (blocked in every thread), or until the time is up; true when a
// signal came.
bool WaitForStop(const sigset_t& signals, std::optional<std::chrono::milliseconds> limit) {
  using Steady = std::chrono::steady_clock;
  const auto deadline = limit ? Steady::now() + *limit : Steady::time_point::max();
  for (;;) {
    int rc;
    if (limit) {
      auto left = std::max(Steady::duration::zero(), deadline - Steady::now());
      auto s = std::chrono::duration_cast<std::chrono::seconds>(left);
      timespec ts{static_cast<time_t>(s.count()),
                  static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - s).count())};
      rc = sigtimedwait(&signals, nullptr, &ts);
    } else {
      rc = sigwaitinfo(&signals, nullptr);
    }
    if (rc > 0) return true;
    if (errno == EAGAIN) return false;
    // EINTR: another signal came by; wait on.
  }
}

// Every client connection takes a descriptor; a host that a client's activation started
// inherits that program's soft limit, often far below what the system allows the user.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int Register(const Exports& exports, bool add) {
  const platform::toolkit::TServerInitData* record = exports.initialize();
  if (!record) return Fail("the server library gave no start-up record");
  platform::com::ServerRegistration r = RegistrationOf(*record, ProgramPath());
  platform::Registry registry;
  if (add ? !platform::com::RegisterServer(r, registry) : !platform::com::UnregisterServer(r, registry))
    return Fail(std::string("cannot ") + (add ? "register" : "unregister") + " the server in " + registry.File());
  return 0;
}

int Serve(const Exports& exports, const CommandLine& line, const sigset_t& signals) {
  const platform::toolkit::TServerInitData* record = exports.initialize();
  if (!record) return Fail("the server library gave no start-up record");
  NameSpace ns;
  ns.Build(exports.build_name_space);
  if (!exports.start()) {
    exports.stop();
    return Fail("the server did not start (its error log in the server folder says why)");
  }
  LibraryBackend backend(exports.handle_requests);
  ServeSettings settings;
  settings.connection_points = !line.da10_only;
  // A host whose socket takes no connections any more ends, as on SIGTERM, so that the next
  // client's activation starts one that serves.
  static std::atomic<bool> lost{false};
  settings.endpoint.serving_lost = [](const std::string&) {
    lost = true;
    kill(getpid(), SIGTERM);
  };
  std::unique_ptr<HostServer> server;
  std::string error;
  if (platform::com::FAILED(HostServer::Start(*record, ns, backend, settings, &server, &error))) {
    exports.stop();
    return Fail("cannot serve: " + error);
  }
  const bool signalled = WaitForStop(signals, line.dump_after);
  if (line.dump_after && !signalled) WriteDump(ns, backend, std::cout);
  server->Stop(kShutdownReason);
  server.reset();
  exports.stop();
  return lost ? Fail("stopped: the socket took no client connections any more") : 0;
}

int Main(int argc, char** argv) {
  // Blocked before any thread starts, so every thread inherits it and only WaitForStop sees
  // the signals.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  RaiseDescriptorLimit();

  std::string error;
  std::optional<CommandLine> line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!line) {
    std::fprintf(stderr, "ostrel-host: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (line->mode == CommandLine::Mode::kHelp) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  InstallMessageBoxes(ProgramFolder() + kBoxProgram);
  // Before the library is loaded: its start-up already writes to the folder.
  const std::unique_ptr<FolderLock> folder_lock = FolderLock::Take(ProgramFolder(), &error);
  if (!folder_lock) return Fail(error);
  std::unique_ptr<ServerLibrary> library = ServerLibrary::Load(ProgramFolder() + ServerLibrary::kFileName, &error);
  if (!library) return Fail(error);
  int rc;
  switch (line->mode) {
    case CommandLine::Mode::kRegister:
      rc = Register(library->exports(), true);
      break;
    case CommandLine::Mode::kUnregister:
      rc = Register(library->exports(), false);
      break;
    default:
      rc = Serve(library->exports(), *line, signals);
      break;
  }
  library->Unload();
  return rc;
}

}  // namespace
}  // namespace host

int main(int argc, char** argv) { return host::Main(argc, argv); }
