// Another client's AddItems of 20 items on ostrel-host, quiet and beside eight clients that
// browse with filters of 8 MiB ("*" throughout) again and again; then the host's CPU once those
// clients have gone, and the same AddItems again. The host is the installed program on the
// demo network.
// Run: build/bench/bench_host_browse
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/tests/installed_host.h"
#include "host/tests/raw_client.h"
#include "platform/com/class_registry.h"
#include "platform/testing/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using host::testing::RawClient;
using Stub = RawClient::Stub;
namespace pb = qar::com;

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuSeconds(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The AddItems of the other client; prints its time, or that it was not answered in a minute.
void AddTwentyItems(RawClient& c, uint32_t group, const char* label) {
  const pb::ItemsRequest items = RawClient::ActiveItems(group, 20, "ZFM1.Pumpe.E");
  pb::ItemResultsReply rep;
  const auto t0 = Steady::now();
  const grpc::Status st = c.Call(&Stub::AddItems, items, &rep, 60s);
  const double took = Ms(Steady::now() - t0);
  if (st.ok() && rep.hr() == 0) {
    std::printf("  %-50s %10.1f ms\n", label, took);
  } else {
    std::printf("  %-50s not answered within 60 s (%s)\n", label, st.error_message().c_str());
  }
}

}  // namespace

int main() {
  platform::testing::TempDir registry;
  setenv("QAR_REGISTRY", (registry / "registry").c_str(), 1);
  host::testing::InstalledHost in;
  in.WriteIni();
  in.Write("DEMO", "");
  auto running = in.Run({"-REGSERVER"}).exit_code == 0 && in.Spawn({})
                     ? platform::com::FindRunningServer(host::testing::kOstrelClsid)
                     : std::nullopt;
  if (!running) {
    std::fprintf(stderr, "ostrel-host did not start\n");
    return 1;
  }
  std::printf("AddItems of 20 items beside eight browses with 8 MiB filters\n");
  RawClient other(running->endpoint);
  const uint32_t group = other.AddGroup();
  for (int i = 0; i < 3; ++i) AddTwentyItems(other, group, i == 0 ? "quiet host:" : "quiet host, again:");

  const std::string filter(8 << 20, '*');
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0}, answered{0};
  std::vector<std::thread> browsers;
  for (int b = 0; b < 8; ++b) {
    browsers.emplace_back([&] {
      RawClient raw(running->endpoint);
      pb::BrowseRequest req;
      req.set_browse_type(3);  // flat
      req.set_filter(filter);
      while (!stop) {
        pb::StringsReply rep;
        ++sent;
        // A browse not answered in 20 s is given up, as an impatient client would.
        if (raw.Call(&Stub::BrowseOPCItemIDs, req, &rep, 20s).ok()) ++answered;
      }
    });
  }
  while (sent < 16) std::this_thread::yield();
  AddTwentyItems(other, group, "beside the eight browsing clients:");
  stop = true;
  for (auto& t : browsers) t.join();
  std::printf("  browses sent / answered meanwhile:                 %d / %d\n", sent.load(), answered.load());
  const double c0 = CpuSeconds(running->pid);
  const auto t0 = Steady::now();
  std::this_thread::sleep_for(2s);
  std::printf("  host CPU in the 2 s after those clients had gone:   %6.1f %%\n",
              100 * (CpuSeconds(running->pid) - c0) / std::chrono::duration<double>(Steady::now() - t0).count());
  AddTwentyItems(other, group, "after they had gone:");
  return 0;
}
