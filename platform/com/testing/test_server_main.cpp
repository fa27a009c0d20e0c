// The fake OPC server as a program of its own, for activation tests: it serves its class
// (registered by the test as LocalServer32) until SIGTERM or SIGINT, then sends the shutdown
// request to its clients and stops. QAR_SOCKET_DIR names the socket directory; with
// QAR_TICK_MS set, it ticks (sends data changes) at that interval. With remote access
// configured it takes calls from other computers too, as every server does.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"

using namespace platform::com;

int main() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before any thread starts, so all inherit it

  auto device = std::make_shared<testing::FakeDevice>();
  rpc::ServeOptions options;
  if (const char* dir = std::getenv("QAR_SOCKET_DIR")) options.socket_dir = dir;
  std::unique_ptr<rpc::ServerEndpoint> endpoint;
  std::string error;
  if (FAILED(rpc::ServerEndpoint::Start(testing::kFakeClsid, [device] { return device->NewServer(); }, options,
                                        &endpoint, &error))) {
    std::fprintf(stderr, "com_test_server: %s\n", error.c_str());
    return 1;
  }
  std::atomic<bool> running{true};
  std::thread ticker;
  if (const char* tick = std::getenv("QAR_TICK_MS")) {
    int ms = std::atoi(tick);
    ticker = std::thread([&, ms] {
      for (int n = 0; running; ++n) {
        device->Set("Zentrale.Status", Variant::I4(n));
        device->Tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      }
    });
  }
  int sig = 0;
  sigwait(&stop, &sig);
  running = false;
  if (ticker.joinable()) ticker.join();
  device->Shutdown("server stopped");
  endpoint->Stop();
  return 0;
}
