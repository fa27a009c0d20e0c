// A fake OPC server served over the transport in this process, and helpers for its clients.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/com/rpc/client.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"
#include "platform/com/testing/recording_sink.h"
#include "platform/testing/temp_dir.h"

namespace platform::com::testing {

using namespace std::chrono_literals;

// Server-side effects of a client's going are asynchronous: waits (bounded, generously for a
// loaded machine) until they show.
template <class Pred>
bool Eventually(Pred pred) {
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serve_.socket_dir = dir_.Path();
    serve_.registry_file = dir_ / "registry";
    std::string error;
    ASSERT_EQ(rpc::ServerEndpoint::Start(
                  kFakeClsid, [d = device_] { return d->NewServer(); }, serve_, &endpoint_, &error),
              S_OK)
        << error;
  }

  rpc::ActivationOptions Activation() {
    rpc::ActivationOptions o;
    o.apartment = &apartment_;
    o.registry_file = serve_.registry_file;
    o.start_timeout_ms = 5000;
    return o;
  }

  std::shared_ptr<IOPCServer> Connect() {
    std::shared_ptr<IUnknown> unk;
    std::string error;
    HRESULT hr = rpc::CreateServer(kFakeClsid, Activation(), &unk, &error);
    EXPECT_EQ(hr, S_OK) << error;
    return Query<IOPCServer>(unk);
  }

  struct Group {
    OPCHANDLE handle = 0;
    std::shared_ptr<IUnknown> unk;
    template <class I>
    std::shared_ptr<I> As() const {
      return Query<I>(unk);
    }
  };

  Group AddGroup(IOPCServer* server, const std::string& name, OPCHANDLE client, DWORD rate = 100) {
    Group g;
    DWORD revised = 0;
    EXPECT_TRUE(SUCCEEDED(server->AddGroup(name, TRUE, rate, client, nullptr, nullptr, 0, &g.handle, &revised,
                                           IID_IOPCItemMgt, &g.unk)));
    return g;
  }

  // Adds the items with client handles 1, 2, ...; returns their server handles.
  std::vector<OPCHANDLE> AddItems(const Group& g, const std::vector<std::string>& ids) {
    std::vector<OPCITEMDEF> defs(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
      defs[i].szItemID = ids[i];
      defs[i].hClient = static_cast<OPCHANDLE>(i + 1);
    }
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    EXPECT_EQ(g.As<IOPCItemMgt>()->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors), S_OK);
    std::vector<OPCHANDLE> handles;
    for (const OPCITEMRESULT& r : results) handles.push_back(r.hServer);
    return handles;
  }

  DWORD Advise(const std::shared_ptr<IUnknown>& obj, const IID& iid, const std::shared_ptr<RecordingSink>& sink) {
    std::shared_ptr<IConnectionPoint> point;
    EXPECT_EQ(Query<IConnectionPointContainer>(obj)->FindConnectionPoint(iid, &point), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(std::static_pointer_cast<IOPCDataCallback>(sink), &cookie), S_OK);
    return cookie;
  }

  // Runs the apartment until the sink has n events of the kind (or the wait ends).
  bool WaitForEvents(const RecordingSink& sink, const std::string& kind, size_t n) {
    return apartment_.RunUntil([&] { return sink.Count(kind) >= n; }, 60s);
  }

  platform::testing::TempDir dir_;
  std::shared_ptr<FakeDevice> device_ = std::make_shared<FakeDevice>();
  Apartment apartment_;
  rpc::ServeOptions serve_;
  std::unique_ptr<rpc::ServerEndpoint> endpoint_;
};

}  // namespace platform::com::testing
