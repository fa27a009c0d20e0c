// The library over the real transport: a test OPC server served from this process on a
// Unix-domain socket, found through the registry as a program would find it. Callbacks arrive
// on the transport's threads and reach the component through its apartment.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

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

// How many callbacks wait for the loop, at most, as the transport's threads post them.
struct WaitingCount {
  std::mutex mutex;
  std::condition_variable posted;
  size_t now = 0;
  size_t most = 0;
};

struct HeldLoopRow {
  const char* name;
  // False: an OPC DA 1.0 server, whose write completions the library leaves unreported and
  // which sends no shutdown requests; there the connection ends by the server going away.
  bool da20;
};

class HeldLoopTest : public TransportTest, public ::testing::WithParamInterface<HeldLoopRow> {};

TEST_P(HeldLoopTest, WaitingChangesMergeAndNothingElseIsLost) {
  const bool da20 = GetParam().da20;
  device->SetConnectionPoints(da20);
  TKoplGroup& g = Build();
  s->OPCGroups().Add("Station2").OPCItems().Add("Zentrale.Station2.AE1");
  int disconnects = 0;
  s->OnDisconnect = [&](TKoplServer*) { ++disconnects; };
  s->SetActive(true);
  device->Tick();
  auto seen = [&](const char* group) {
    return std::any_of(events.begin(), events.end(), [&](const std::string& e) { return e.starts_with(group); });
  };
  ASSERT_TRUE(apartment.RunUntil([&] { return seen("Zentrale.Station1") && seen("Zentrale.Station2"); }, 10s));
  apartment.RunPending();
  std::vector<std::string> changes;  // one entry per data-change event
  s->OnDatachange = [&](TKoplServer*, TKoplItemList& l) {
    std::string items;
    for (TKoplItem* i : l) items += " " + i->ItemID() + "=" + i->GetValueStr();
    changes.push_back(items);
  };
  auto waiting = std::make_shared<WaitingCount>();
  apartment.SetWakeUp([waiting, this] {
    std::lock_guard lock(waiting->mutex);
    waiting->now = apartment.Pending();
    waiting->most = std::max(waiting->most, waiting->now);
    waiting->posted.notify_all();
  });

  // From here the loop is held until all has come: a write with its completion and its
  // change, a hundred changes of another item, then one change of the second group, and the
  // shutdown request where the server sends one.
  g.OPCItems()[1].WriteAsync(com::Variant::I4(1));
  device->Tick();
  for (int i = 1; i <= 100; ++i) {
    device->Set("Zentrale.Station1.AE1", com::Variant::R8(i));
    device->Tick();
  }
  device->Set("Zentrale.Station2.AE1", com::Variant::R8(7));
  device->Tick();
  if (da20) device->Shutdown("stopping");
  {
    // What waits then: the completion, one change per group, the shutdown request.
    const size_t expected = da20 ? 4 : 3;
    std::unique_lock lock(waiting->mutex);
    ASSERT_TRUE(waiting->posted.wait_for(lock, 30s, [&] { return waiting->now >= expected; })) << waiting->now;
    EXPECT_EQ(waiting->most, expected);
  }
  if (da20) {
    ASSERT_TRUE(Await("shutdown"));
  } else {
    ASSERT_TRUE(apartment.RunUntil([&] { return changes.size() >= 2; }, 10s));
    endpoint.reset();  // the server goes away
    ASSERT_TRUE(apartment.RunUntil([&] { return disconnects > 0; }, 10s));
  }
  apartment.SetWakeUp(nullptr);
  EXPECT_EQ(changes, (std::vector<std::string>{" Zentrale.Station1.BA1=1 Zentrale.Station1.AE1=100",
                                               " Zentrale.Station2.AE1=7"}));
  EXPECT_EQ(std::count(events.begin(), events.end(), "written Zentrale.Station1.BA1"), da20 ? 1 : 0);
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(disconnects, 1);
}

INSTANTIATE_TEST_SUITE_P(Transport, HeldLoopTest,
                         ::testing::Values(HeldLoopRow{"OpcDa20Callbacks", true}, HeldLoopRow{"OpcDa10Streams", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kopl::testing
