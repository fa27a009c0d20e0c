// The fake device served over the transport as a running server under a registered ProgID: the
// class names a program that does not exist, so a client connects to the socket and never starts
// anything.
#pragma once

#include <memory>
#include <string>

#include "platform/com/class_registry.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"
#include "platform/registry.h"

namespace platform::com::testing {

// `registration` gives the ProgIDs and names; its class and program are the fake's.
inline HRESULT ServeFakeDevice(std::shared_ptr<FakeDevice> device, ServerRegistration registration,
                               const std::string& socket_dir, std::unique_ptr<rpc::ServerEndpoint>* endpoint,
                               std::string* error) {
  registration.clsid = kFakeClsid;
  registration.command = "/nonexistent/server";
  platform::Registry reg;
  if (!RegisterServer(registration, reg)) {
    *error = "cannot register " + registration.prog_id;
    return E_FAIL;
  }
  rpc::ServeOptions options;
  options.socket_dir = socket_dir;
  return rpc::ServerEndpoint::Start(kFakeClsid, [device] { return device->NewServer(); }, options, endpoint, error);
}

}  // namespace platform::com::testing
