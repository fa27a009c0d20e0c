// The OPC service of this computer, for other computers: it answers the server list
// (EnumClassesOfCategories, GetClassDetails) from this computer's registry and activates
// servers by CLSID, starting a server's LocalServer32 program when none runs, and names the
// port where the server takes calls from other computers. It listens on TCP at the configured
// address only, and takes calls only over TLS from clients whose certificate the configured
// authority signed. Servers run as the user the service runs as, with its registry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/com/hresult.h"
#include "platform/com/rpc/remote_config.h"
#include "platform/registry.h"

namespace host {

struct OpcServiceOptions {
  std::string address;
  uint16_t port = platform::com::rpc::kDefaultServicePort;
  platform::com::rpc::TlsMaterial tls;
  std::string registry_file = platform::Registry::DefaultFile();
  uint32_t start_timeout_ms = 10000;  // for a server program to come up
  platform::Clock* clock = nullptr;   // measures that wait; DefaultClock() when null
};

// The options from the remote-access configuration file. False, with a text that names the
// file, when it cannot be read, gives no Address (remote access is off) or a certificate is
// missing or unreadable.
bool OpcServiceOptionsFromConfig(const std::string& config_file, OpcServiceOptions* out, std::string* error);

class OpcService {
 public:
  // Starts listening; on failure the text says what went wrong.
  static platform::com::HRESULT Start(const OpcServiceOptions& options, std::unique_ptr<OpcService>* out,
                                      std::string* error);
  ~OpcService();  // Stop()
  OpcService(const OpcService&) = delete;
  OpcService& operator=(const OpcService&) = delete;

  uint16_t Port() const;
  // Ends the calls in progress and stops listening.
  void Stop();

  class Impl;

 private:
  explicit OpcService(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
