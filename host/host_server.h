// The running host: the OPC server model over the library's namespace and request export,
// served to the clients of this machine, and the loop that polls it at the groups' rates.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/name_space.h"
#include "platform/clock.h"
#include "platform/com/da_server.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/toolkit/toolkit_host.h"

namespace host {

struct ServeSettings {
  bool connection_points = true;  // false: OPC DA 1.0 only (data objects, no connection points)
  platform::com::rpc::ServeOptions endpoint;
  platform::Clock* clock = nullptr;  // DefaultClock() when null: group rates and time stamps
};

class HostServer {
 public:
  // Update rates are revised up to multiples of this.
  static constexpr uint32_t kFastestRateMs = 100;

  // Serves the namespace of a started library. The namespace and the backend must outlive
  // the server. On failure returns the error with a text that says what went wrong.
  static platform::com::HRESULT Start(const platform::toolkit::TServerInitData& record, const NameSpace& ns,
                                      platform::com::DaBackend& backend, const ServeSettings& settings,
                                      std::unique_ptr<HostServer>* out, std::string* error);
  ~HostServer();  // Stop("")
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  // Sends the shutdown request with the reason to every client that asked for it, stops
  // polling, and ends every connection once the calls in flight are done and the requests
  // have gone out. Afterwards nothing reaches the backend any more.
  void Stop(const std::string& reason);

  platform::com::DaServerModel& Model() { return *model_; }
  const std::string& Target() const { return endpoint_->Target(); }

 private:
  HostServer() = default;
  void PollLoop();

  platform::Clock* clock_ = nullptr;
  std::shared_ptr<platform::com::DaServerModel> model_;
  std::unique_ptr<platform::com::rpc::ServerEndpoint> endpoint_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool stopped_ = false;
  std::thread poller_;
};

// The DA server options from the start-up record: vendor text and version for the status.
platform::com::DaServerOptions ModelOptions(const platform::toolkit::TServerInitData& record, bool connection_points);

}  // namespace host
