// qar-opcservice: the OPC service of this computer. Reads the remote-access configuration
// ($QAR_REMOTE_CONFIG, else ~/.config/qar/remote.ini) and the registry ($QAR_REGISTRY, else the
// user's), serves until SIGTERM or SIGINT. Without remote access configured, or without a
// readable certificate, it says why and ends with exit code 1.
#include <signal.h>

#include <cstdio>
#include <string>

#include "host/service/opc_service.h"
#include "platform/com/rpc/request_guard.h"

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: %s\n(configured by the remote-access file; see the README)\n", argv[0]);
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before any thread starts, so all inherit it

  // Any computer of the network can cause these lines; repeats are counted, not written.
  platform::com::rpc::SendPeerLinesTo(
      [](const std::string& line) { std::fprintf(stderr, "qar-opcservice: %s\n", line.c_str()); });
  const std::string config = platform::com::rpc::DefaultRemoteConfigFile();
  host::OpcServiceOptions options;
  std::string error;
  std::unique_ptr<host::OpcService> service;
  if (!host::OpcServiceOptionsFromConfig(config, &options, &error) ||
      platform::com::FAILED(host::OpcService::Start(options, &service, &error))) {
    std::fprintf(stderr, "qar-opcservice: %s\n", error.c_str());
    return 1;
  }
  std::printf("qar-opcservice: serving on %s\n",
              platform::com::rpc::HostPort{options.address, service->Port()}.Text().c_str());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  service->Stop();
  return 0;
}
