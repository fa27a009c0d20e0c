// Two computers in one process: computer "plant-b" with its own registry, a server that takes
// calls from other computers and its OPC service, all on one loopback address; the client on
// "plant-a" has its remote-access file, certificate and registry. Certificates are made when
// the test runs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/service/opc_service.h"
#include "host/service/tests/registration.h"
#include "platform/com/class_registry.h"
#include "platform/com/opc_common.h"
#include "platform/com/rpc/client.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"
#include "platform/com/testing/test_pki.h"
#include "platform/testing/temp_dir.h"

namespace host::testing {

namespace com = platform::com;
namespace rpc = platform::com::rpc;

inline constexpr char kHostB[] = "127.0.0.1";

class RemoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pki_.Ok()) << "openssl could not make the test authorities";
    ASSERT_TRUE(pki_.Issue("plant-a"));
    ASSERT_TRUE(pki_.Issue("plant-b"));
    ASSERT_TRUE(pki_.Issue("intruder", /*rogue=*/true));

    RegisterClass(RegistryB(), com::testing::kFakeClsid, "Qar.Fake.1", "Fake server",
             {com::CATID_OPCDAServer10, com::CATID_OPCDAServer20});
    rpc::ServeOptions serve;
    serve.socket_dir = dir_ / "b-sockets";
    serve.registry_file = RegistryB();
    serve.remote = rpc::RemoteListen{kHostB, 0, Material("plant-b")};
    std::string error;
    ASSERT_EQ(rpc::ServerEndpoint::Start(
                  com::testing::kFakeClsid, [d = device_] { return d->NewServer(); }, serve, &endpoint_, &error),
              com::S_OK)
        << error;
    ASSERT_NE(endpoint_->RemotePort(), 0);

    OpcServiceOptions so;
    so.address = kHostB;
    so.port = 0;
    so.tls = Material("plant-b");
    so.registry_file = RegistryB();
    so.start_timeout_ms = 2000;
    ASSERT_EQ(OpcService::Start(so, &service_, &error), com::S_OK) << error;

    WriteConfig("a-remote.ini", "plant-a", {{"plant-b", std::string(kHostB) + ":" + std::to_string(service_->Port())}});
  }

  std::string RegistryB() const { return dir_ / "b-registry"; }

  rpc::TlsMaterial Material(const std::string& name) {
    rpc::RemoteConfig c;
    c.file = "test";
    c.tls = {pki_.Certificate(name), pki_.Key(name), pki_.Authority()};
    rpc::TlsMaterial m;
    std::string error;
    EXPECT_TRUE(rpc::LoadTlsMaterial(c, &m, &error)) << error;
    return m;
  }

  // A remote-access file for the client: the computer's certificate and the computers' addresses.
  void WriteConfig(const std::string& file, const std::string& certificate,
                   const std::vector<std::pair<std::string, std::string>>& computers,
                   const std::string& authority = "ca.crt") {
    std::string text = "[Remote]\r\nCertificate=" + certificate + ".crt\r\nKey=" + certificate +
                       ".key\r\nAuthority=" + authority + "\r\n[Computers]\r\n";
    for (const auto& [name, address] : computers) text += name + "=" + address + "\r\n";
    dir_.Write(file, text);
  }

  rpc::ActivationOptions Client(const std::string& computer = "plant-b", const std::string& config = "a-remote.ini") {
    rpc::ActivationOptions o;
    o.apartment = &apartment_;
    o.registry_file = dir_ / "a-registry";
    o.remote_config_file = dir_ / config;
    o.computer_name = computer;
    o.start_timeout_ms = 5000;
    return o;
  }

  platform::testing::TempDir dir_;
  com::testing::TestPki pki_{dir_.Path()};
  com::Apartment apartment_;
  std::shared_ptr<com::testing::FakeDevice> device_ = std::make_shared<com::testing::FakeDevice>();
  std::unique_ptr<rpc::ServerEndpoint> endpoint_;
  std::unique_ptr<OpcService> service_;
};

}  // namespace host::testing
