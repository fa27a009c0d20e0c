// The library over the real transport: a test OPC server served from this process on a
// Unix-domain socket, found through the registry as a program would find it. Callbacks arrive
// on the transport's threads and reach the component through its apartment.
#include <gtest/gtest.h>

#include <chrono>

#include "opcclient/kopl.h"
#include "platform/clock.h"
#include "platform/com/class_registry.h"
#include "platform/com/rpc/server_endpoint.h"
#include "platform/com/testing/fake_opc_server.h"
#include "platform/com/testing/serve_fake.h"
#include "platform/testing/temp_dir.h"

namespace kopl::testing {
namespace {

using namespace std::chrono_literals;
namespace com = platform::com;

constexpr const char* kProgId = "Test.Transport.1";

class TransportTest : public ::testing::Test {
 protected:
  platform::testing::TempDir dir;
  com::Apartment apartment;
  platform::ManualClock clock;
  std::shared_ptr<com::testing::FakeDevice> device = std::make_shared<com::testing::FakeDevice>();
  std::unique_ptr<com::rpc::ServerEndpoint> endpoint;
  std::unique_ptr<TKoplServer> s;
  std::vector<std::string> events;

  void SetUp() override {
    SetServices({});  // the transport's own activation
    com::ServerRegistration r;
    r.prog_id = kProgId;
    std::string error;
    ASSERT_EQ(com::testing::ServeFakeDevice(device, r, dir.Path(), &endpoint, &error), com::S_OK) << error;
    s = std::make_unique<TKoplServer>(KoplBuild::Explorer);
    s->SetApartment(apartment);
    s->SetClock(&clock);
    s->SetServerName(kProgId);
    s->OnDatachange = [this](TKoplServer*, TKoplItemList& l) {
      for (TKoplItem* i : l) events.push_back(i->ItemID() + "=" + i->GetValueStr());
    };
    s->OnWriteComplete = [this](TKoplServer*, TKoplItemList& l) { events.push_back("written " + l[0].ItemID()); };
    s->OnServerShutdown = [this](TKoplServer*, const std::string&) { events.push_back("shutdown"); };
  }
  void TearDown() override {
    s.reset();
    endpoint.reset();
  }
  // Runs the loop until the event came (bounded: a lost callback fails instead of hanging).
  bool Await(const std::string& event) {
    return apartment.RunUntil(
        [&] { return std::find(events.begin(), events.end(), event) != events.end(); }, 10s);
  }
  TKoplGroup& Build() {
    TKoplGroup& g = s->OPCGroups().Add("Station1");
    g.OPCItems().Add("Zentrale.Station1.AE1");
    g.OPCItems().Add("Zentrale.Station1.BA1");
    g.OPCItems().Add("Zentrale.Station1.Name");
    return g;
  }
};

TEST_F(TransportTest, ReadChangeAndWriteBackOverTheTransport) {
  TKoplGroup& g = Build();
  s->SetActive(true);
  ASSERT_TRUE(g.HasDataCallback());
  EXPECT_EQ(clock.TickMs(), 300u);  // the connect delay went through the test clock
  device->Tick();
  ASSERT_TRUE(Await("Zentrale.Station1.Name=Pumpwerk S\xFC" "d"));
  EXPECT_EQ(g.OPCItems()[0].Value(), com::Variant::R8(12.5));
  EXPECT_EQ(g.OPCItems()[0].Quality(), 0xC0);

  g.OPCItems()[1].WriteSync(com::Variant::Str("1"));
  EXPECT_EQ(device->Value("Zentrale.Station1.BA1"), com::Variant::I4(1));
  g.OPCItems()[1].WriteAsync(com::Variant::I4(0));
  device->Tick();
  ASSERT_TRUE(Await("written Zentrale.Station1.BA1"));
  EXPECT_EQ(device->Value("Zentrale.Station1.BA1"), com::Variant::I4(0));

  device->Shutdown("stopping");
  ASSERT_TRUE(Await("shutdown"));
  EXPECT_FALSE(s->Active());
}

TEST_F(TransportTest, OpcDa10ServerSendsStreams) {
  device->SetConnectionPoints(false);
  TKoplGroup& g = Build();
  s->SetActive(true);
  ASSERT_TRUE(g.HasAdviseSink());
  device->Set("Zentrale.Station1.AE1", com::Variant::R8(3.25), 0xD8);
  device->Tick();
  ASSERT_TRUE(Await("Zentrale.Station1.AE1=3.25"));
  EXPECT_EQ(g.OPCItems()[0].Quality(), 0xC0);
  EXPECT_EQ(g.OPCItems()[2].Value(), com::Variant::Str("Pumpwerk S\xC3\xBC" "d"));
  s->SetActive(false);
  EXPECT_EQ(device->GroupCount(), 0u);
}

}  // namespace
}  // namespace kopl::testing
