// Another computer's servers through its OPC service: listed by category, activated by CLSID
// and computer name, read and written over TCP; certificates that do not fit are refused, and a
// connection the network drops mid-call gives the disconnection error until the client
// connects again.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "host/service/tests/remote_fixture.h"
#include "host/service/tests/tcp_relay.h"
#include "platform/com/connection_point.h"
#include "platform/com/enum.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/server_list.h"
#include "platform/com/testing/recording_sink.h"

namespace host::testing {
namespace {

using namespace std::chrono_literals;
using com::S_OK;

const std::string kBA1 = "Zentrale.Station1.BA1";

struct Group {
  com::OPCHANDLE handle = 0;
  std::shared_ptr<com::IUnknown> unk;
  std::vector<com::OPCHANDLE> items;
};

// A group with the output item of the fake server.
Group AddOutputGroup(com::IOPCServer& server) {
  Group g;
  com::DWORD rate = 0;
  EXPECT_EQ(server.AddGroup("G", com::TRUE, 100, 1, nullptr, nullptr, 0, &g.handle, &rate, com::IID_IOPCItemMgt, &g.unk),
            S_OK);
  if (!g.unk) return g;
  com::OPCITEMDEF def;
  def.szItemID = kBA1;
  def.hClient = 1;
  std::vector<com::OPCITEMRESULT> results;
  std::vector<com::HRESULT> errors;
  EXPECT_EQ(com::Query<com::IOPCItemMgt>(g.unk)->AddItems(1, &def, &results, &errors), S_OK);
  for (const com::OPCITEMRESULT& r : results) g.items.push_back(r.hServer);
  return g;
}

com::HRESULT Write(const Group& g, com::Variant value) {
  std::vector<com::HRESULT> errors;
  return com::Query<com::IOPCSyncIO>(g.unk)->Write(1, g.items.data(), &value, &errors);
}

TEST_F(RemoteTest, ListsTheServersOfAnotherComputerByCategory) {
  RegisterClass(RegistryB(), *com::GuidFromString("{22222222-0000-0000-0000-000000000001}"), "Vendor.Alarms.1", "Alarms",
           {com::CATID_OPCAEServer10});
  std::shared_ptr<com::IOPCServerList> list;
  std::string error;
  ASSERT_EQ(rpc::CreateServerList(Client(), &list, &error), S_OK) << error;
  struct Row {
    const char* label;
    com::CATID category;
    std::vector<com::CLSID> classes;
  } rows[] = {
      {"DA 1.0", com::CATID_OPCDAServer10, {com::testing::kFakeClsid}},
      {"DA 2.0", com::CATID_OPCDAServer20, {com::testing::kFakeClsid}},
      {"alarms", com::CATID_OPCAEServer10, {*com::GuidFromString("{22222222-0000-0000-0000-000000000001}")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::shared_ptr<com::IEnumGUID> classes;
    ASSERT_EQ(list->EnumClassesOfCategories(1, &row.category, 0, nullptr, &classes), S_OK);
    EXPECT_EQ(com::ReadAll<com::GUID>(classes.get()), row.classes);
  }
  std::string prog_id, user_type;
  EXPECT_EQ(list->GetClassDetails(com::testing::kFakeClsid, &prog_id, &user_type), S_OK);
  EXPECT_EQ(prog_id, "Qar.Fake.1");
  EXPECT_EQ(user_type, "Fake server");
  EXPECT_EQ(list->GetClassDetails(*com::GuidFromString("{22222222-0000-0000-0000-0000000000FF}"), &prog_id, &user_type),
            com::REGDB_E_CLASSNOTREG);

  // This computer's list is its own registry's, not the other's.
  ASSERT_EQ(rpc::CreateServerList(Client(""), &list, &error), S_OK);
  std::shared_ptr<com::IEnumGUID> classes;
  ASSERT_EQ(list->EnumClassesOfCategories(1, &com::CATID_OPCDAServer20, 0, nullptr, &classes), S_OK);
  EXPECT_TRUE(com::ReadAll<com::GUID>(classes.get()).empty());
}

TEST_F(RemoteTest, ConnectsByComputerNameReadsWritesAndGetsCallbacks) {
  std::shared_ptr<com::IUnknown> unk;
  std::string error;
  // The name as the user typed it: case and blanks do not matter.
  ASSERT_EQ(rpc::CreateServer(com::testing::kFakeClsid, Client(" PLANT-B "), &unk, &error), S_OK) << error;
  auto server = com::Query<com::IOPCServer>(unk);
  ASSERT_TRUE(server);
  Group g = AddOutputGroup(*server);
  ASSERT_EQ(g.items.size(), 1u);

  EXPECT_EQ(Write(g, com::Variant::I4(1)), S_OK);
  EXPECT_EQ(device_->Value(kBA1), com::Variant::I4(1));
  std::vector<com::OPCITEMSTATE> states;
  std::vector<com::HRESULT> errors;
  ASSERT_EQ(com::Query<com::IOPCSyncIO>(g.unk)->Read(com::OPC_DS_DEVICE, 1, g.items.data(), &states, &errors), S_OK);
  EXPECT_EQ(states[0].vDataValue, com::Variant::I4(1));

  // Callbacks come back on the client's own connection: nothing dials the client.
  auto sink = std::make_shared<com::testing::RecordingSink>();
  std::shared_ptr<com::IConnectionPoint> point;
  ASSERT_EQ(com::Query<com::IConnectionPointContainer>(g.unk)->FindConnectionPoint(com::IID_IOPCDataCallback, &point),
            S_OK);
  com::DWORD cookie = 0;
  ASSERT_EQ(point->Advise(std::static_pointer_cast<com::IOPCDataCallback>(sink), &cookie), S_OK);
  device_->Set(kBA1, com::Variant::I4(0));
  device_->Tick();
  ASSERT_TRUE(apartment_.RunUntil([&] { return sink->Count("data") >= 1; }, 10s));
  EXPECT_EQ(sink->events.back().values, std::vector<com::Variant>{com::Variant::I4(0)});
}

TEST_F(RemoteTest, ActivationFailuresSayWhyAndWhere) {
  // A second class whose server runs without remote access.
  const com::CLSID local_only = *com::GuidFromString("{22222222-0000-0000-0000-000000000002}");
  RegisterClass(RegistryB(), local_only, "Vendor.LocalOnly.1", "Local only", {com::CATID_OPCDAServer20});
  rpc::ServeOptions serve;
  serve.socket_dir = dir_ / "b-sockets";
  serve.registry_file = RegistryB();
  serve.remote_config_file = "";
  std::unique_ptr<rpc::ServerEndpoint> local_endpoint;
  std::string error;
  ASSERT_EQ(rpc::ServerEndpoint::Start(local_only, [d = device_] { return d->NewServer(); }, serve, &local_endpoint,
                                       &error),
            S_OK)
      << error;
  WriteConfig("a-remote.ini", "plant-a",
              {{"plant-b", std::string(kHostB) + ":" + std::to_string(service_->Port())},
               {"plant-closed", std::string(kHostB) + ":1"},
               {"plant-bad", "127.0.0.1:99999"}});

  struct Row {
    const char* label;
    com::CLSID clsid;
    std::string computer;
    com::HRESULT hr;
    const char* text;  // part of the error text
  } rows[] = {
      {"class unknown there", *com::GuidFromString("{22222222-0000-0000-0000-0000000000FF}"), "plant-b",
       com::REGDB_E_CLASSNOTREG, "computer plant-b: class {22222222-0000-0000-0000-0000000000FF} is not registered"},
      {"server without remote access", local_only, "plant-b", com::RPC_S_SERVER_UNAVAILABLE,
       "runs without remote access"},
      {"nothing listens", com::testing::kFakeClsid, "plant-closed", com::RPC_S_SERVER_UNAVAILABLE,
       "cannot reach computer plant-closed (127.0.0.1:1)"},
      {"entry that is no address", com::testing::kFakeClsid, "plant-bad", com::RPC_S_SERVER_UNAVAILABLE,
       "plant-bad in [Computers]"},
      {"name that is no name", com::testing::kFakeClsid, "plant/b", com::RPC_S_SERVER_UNAVAILABLE,
       "is no computer name"},
      {"name that is not found and sounds like TLS", com::testing::kFakeClsid, "tls-gw", com::RPC_S_SERVER_UNAVAILABLE,
       "cannot reach computer tls-gw"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::shared_ptr<com::IUnknown> unk;
    error.clear();
    EXPECT_EQ(rpc::CreateServer(row.clsid, Client(row.computer), &unk, &error), row.hr) << error;
    EXPECT_NE(error.find(row.text), std::string::npos) << error;
    EXPECT_EQ(unk, nullptr);
  }
}

TEST_F(RemoteTest, OnlyCertificatesOfTheAuthorityAndTheRightComputerPass) {
  WriteConfig("intruder.ini", "intruder", {{"plant-b", std::string(kHostB) + ":" + std::to_string(service_->Port())}});
  // A computer whose address leads to plant-b: plant-b's certificate does not name it.
  WriteConfig("wrong-name.ini", "plant-a",
              {{"plant-c", std::string(kHostB) + ":" + std::to_string(service_->Port())}});
  WriteConfig("no-key.ini", "plant-missing", {{"plant-b", std::string(kHostB) + ":" + std::to_string(service_->Port())}});
  // A client that trusts only another authority than the one that signed plant-b's certificate.
  WriteConfig("distrust.ini", "plant-a", {{"plant-b", std::string(kHostB) + ":" + std::to_string(service_->Port())}},
              "rogue-ca.crt");
  struct Row {
    const char* label;
    std::string config;
    std::string computer;
    com::HRESULT hr;
    const char* text;
  } rows[] = {
      {"client certificate from another authority", "intruder.ini", "plant-b", com::E_ACCESSDENIED,
       "does not accept this computer's certificate"},
      {"server certificate for another computer", "wrong-name.ini", "plant-c", com::E_ACCESSDENIED,
       "do not accept each other's certificates"},
      {"server certificate from an authority not trusted here", "distrust.ini", "plant-b", com::E_ACCESSDENIED,
       "do not accept each other's certificates"},
      {"no certificate of its own", "no-key.ini", "plant-b", com::E_ACCESSDENIED, "plant-missing.crt"},
      {"remote access not configured", "nothing.ini", "plant-b", com::RPC_S_SERVER_UNAVAILABLE,
       "remote access is not configured"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::string error;
    std::shared_ptr<com::IUnknown> unk;
    EXPECT_EQ(rpc::CreateServer(com::testing::kFakeClsid, Client(row.computer, row.config), &unk, &error), row.hr)
        << error;
    EXPECT_NE(error.find(row.text), std::string::npos) << error;
    std::shared_ptr<com::IOPCServerList> list;
    error.clear();
    EXPECT_EQ(rpc::CreateServerList(Client(row.computer, row.config), &list, &error), row.hr) << error;
    EXPECT_NE(error.find(row.text), std::string::npos) << error;
  }
  EXPECT_EQ(device_->ServerCount(), 0u);

  // The server's own port takes no plain connection either.
  std::shared_ptr<com::IUnknown> unk;
  rpc::ActivationOptions plain = Client("");
  plain.start_timeout_ms = 2000;
  EXPECT_TRUE(com::FAILED(rpc::ConnectServer(std::string(kHostB) + ":" + std::to_string(endpoint_->RemotePort()),
                                             com::testing::kFakeClsid, plain, &unk)));
  EXPECT_EQ(device_->ServerCount(), 0u);
}

// Plain TCP on a TLS port, as any network peer can send it: the failed handshakes reach the
// error output as one line with its repeats counted, not a line each.
TEST_F(RemoteTest, PlainConnectionsToTheTlsPortsDoNotFloodTheErrorOutput) {
  auto count = [](const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
    return n;
  };
  ::testing::internal::CaptureStderr();
  for (uint16_t port : {endpoint_->RemotePort(), service_->Port()}) {
    for (int i = 0; i < 50; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      ASSERT_GE(fd, 0);
      const timeval bound{30, 0};  // a server that never closes fails the test rather than hangs it
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(port);
      inet_pton(AF_INET, kHostB, &addr.sin_addr);
      ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
      const char junk[] = "GET / HTTP/1.1\r\nHost: plant-b\r\n\r\n";
      (void)!send(fd, junk, sizeof junk - 1, MSG_NOSIGNAL);
      char buf[256];
      while (recv(fd, buf, sizeof buf, 0) > 0) {  // until the server closes the connection
      }
      close(fd);
    }
  }
  endpoint_->Stop();  // says how many more came
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count(said, "Handshake failed"), 2u) << "the line once, and the count that names it: " << said;
  EXPECT_EQ(count(said, "came 99 times more"), 1u) << said;
}

TEST_F(RemoteTest, APortAlreadyTakenStopsTheSecondListener) {
  const com::CLSID second = *com::GuidFromString("{22222222-0000-0000-0000-000000000003}");
  struct Row {
    const char* label;
    bool service;   // else a server of another class
    uint16_t port;  // taken
  } rows[] = {
      {"second service on the service's port", true, service_->Port()},
      {"server on another server's port", false, endpoint_->RemotePort()},
      {"server on the service's port", false, service_->Port()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::string error;
    com::HRESULT hr;
    if (row.service) {
      OpcServiceOptions so;
      so.address = kHostB;
      so.port = row.port;
      so.tls = Material("plant-b");
      so.registry_file = RegistryB();
      std::unique_ptr<OpcService> service;
      hr = OpcService::Start(so, &service, &error);
      EXPECT_FALSE(service);
    } else {
      rpc::ServeOptions serve;
      serve.socket_dir = dir_ / "b-sockets";
      serve.registry_file = RegistryB();
      serve.remote = rpc::RemoteListen{kHostB, row.port, Material("plant-b")};
      std::unique_ptr<rpc::ServerEndpoint> endpoint;
      hr = rpc::ServerEndpoint::Start(second, [d = device_] { return d->NewServer(); }, serve, &endpoint, &error);
      EXPECT_FALSE(endpoint);
      EXPECT_FALSE(com::FindRunningServer(second, platform::Registry(RegistryB())));
    }
    EXPECT_EQ(hr, com::E_FAIL);
    const std::string where = std::string(kHostB) + ":" + std::to_string(row.port);
    EXPECT_NE(error.find("cannot listen on"), std::string::npos) << error;
    EXPECT_NE(error.find(where + " (is the port free"), std::string::npos) << error;
  }
  // Those already listening go on serving all calls.
  std::shared_ptr<com::IUnknown> unk;
  std::string error;
  EXPECT_EQ(rpc::CreateServer(com::testing::kFakeClsid, Client(), &unk, &error), S_OK) << error;
}

TEST_F(RemoteTest, ADropMidCallDisconnectsAndTheClientConnectsAgain) {
  // The client reaches plant-b through a piece of network that can fail.
  const char* relay_host = "127.0.0.2";
  TcpRelay relay(relay_host, kHostB, {service_->Port(), endpoint_->RemotePort()});
  ASSERT_TRUE(relay.Ok());
  WriteConfig("a-remote.ini", "plant-a",
              {{"plant-b", std::string(relay_host) + ":" + std::to_string(service_->Port())}});

  std::shared_ptr<com::IUnknown> unk;
  std::string error;
  ASSERT_EQ(rpc::CreateServer(com::testing::kFakeClsid, Client(), &unk, &error), S_OK) << error;
  auto server = com::Query<com::IOPCServer>(unk);
  Group g = AddOutputGroup(*server);
  ASSERT_EQ(g.items.size(), 1u);

  relay.CutOnNextRequest();
  EXPECT_EQ(Write(g, com::Variant::I4(1)), com::RPC_E_DISCONNECTED);
  EXPECT_EQ(relay.Cuts(), 1);
  EXPECT_EQ(device_->Value(kBA1), com::Variant::I4(0));
  com::OPCSERVERSTATUS status;
  EXPECT_EQ(server->GetStatus(&status), com::RPC_E_DISCONNECTED);
  EXPECT_EQ(Write(g, com::Variant::I4(1)), com::RPC_E_DISCONNECTED);

  std::shared_ptr<com::IUnknown> again;
  ASSERT_EQ(rpc::CreateServer(com::testing::kFakeClsid, Client(), &again, &error), S_OK) << error;
  Group g2 = AddOutputGroup(*com::Query<com::IOPCServer>(again));
  EXPECT_EQ(Write(g2, com::Variant::I4(1)), S_OK);
  EXPECT_EQ(device_->Value(kBA1), com::Variant::I4(1));
}

}  // namespace
}  // namespace host::testing
