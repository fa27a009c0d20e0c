// ostrel-host after its file descriptors ran out: the host (installed in a folder of its own, the
// real server library in DEMO mode) runs under a limit of 128 open files that it cannot raise;
// 150 connections to its socket that send nothing are opened, held until the host has dealt
// with each, and closed; then the time until a new client's activation connects is measured.
// Several rounds on the same host; "never" is a round in which no client connected within 30 s.
// Run: build/bench/bench_host_descriptors [host program to install in place of the built one]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/tests/installed_host.h"
#include "platform/com/apartment.h"
#include "platform/com/class_registry.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/client.h"
#include "platform/testing/temp_dir.h"

namespace {

namespace com = platform::com;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;
using host::testing::AwaitAnswered;
using host::testing::IdleConnections;
using host::testing::InstalledHost;

constexpr int kIdle = 150;
constexpr int kRounds = 5;

// The time until a client's activation connects, or a negative value when none did within 30 s.
double ConnectMs() {
  com::Apartment apartment;
  com::rpc::ActivationOptions o;
  o.apartment = &apartment;
  o.start_timeout_ms = 5000;
  const auto start = Steady::now();
  while (Steady::now() - start < 30s) {
    std::shared_ptr<com::IUnknown> unk;
    std::string error;
    if (com::SUCCEEDED(com::rpc::CreateServerByName(host::testing::kOstrelProgId, o, &unk, &error)))
      return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  // A registry of its own, which the host inherits: hosts that tests record elsewhere on the
  // machine must not answer in its place.
  platform::testing::TempDir registry;
  setenv("QAR_REGISTRY", (registry / "registry").c_str(), 1);
  InstalledHost in;
  if (argc > 1) platform::testing::PlaceFile(argv[1], in.Folder() + "ostrel-host");
  in.WriteIni();
  in.Write("DEMO", "");
  if (in.Run({"-REGSERVER"}).exit_code != 0 || !in.Spawn({})) {
    std::fprintf(stderr, "the host did not start\n");
    return 1;
  }
  const uint32_t pid = *in.RunningPid();
  const rlimit low{128, 128};
  if (prlimit(pid_t(pid), RLIMIT_NOFILE, &low, nullptr) != 0) {
    std::perror("prlimit");
    return 1;
  }
  const std::string path = com::FindRunningServer(host::testing::kOstrelClsid)->endpoint.substr(5);
  std::printf("time until a new client connects after %d idle connections under a limit of 128 open files\n", kIdle);
  for (int round = 1; round <= kRounds; ++round) {
    std::vector<int> idle = IdleConnections(path, kIdle);
    AwaitAnswered(idle, 30s);
    for (int fd : idle)
      if (fd >= 0) close(fd);
    const double ms = ConnectMs();
    if (ms < 0) {
      std::printf("  round %d: never (no client connected within 30 s)\n", round);
    } else {
      std::printf("  round %d: %.1f ms\n", round, ms);
    }
    std::fflush(stdout);
    if (in.RunningPid() != pid) {
      std::printf("  the limited host (pid %u) no longer serves; the rounds end here\n", pid);
      break;
    }
  }
  in.Terminate();
  return 0;
}
