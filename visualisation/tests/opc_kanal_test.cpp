// Channel objects: the display scale, the pending-quality ticks and writes to the server.
#include "visualisation/opc_kanal.h"

#include <gtest/gtest.h>

#include "visualisation/tests/lumaro_fixture.h"

namespace lumaro::testing {
namespace {

using com::Variant;

class KanalTest : public LumaroTest {
 protected:
  std::unique_ptr<kopl::TKoplServer> server;
  kopl::TKoplGroup* group = nullptr;
  kopl::TKoplItem* item = nullptr;

  void Connect(const std::string& id = "Z.S.Motor") {
    Know({id});
    server = std::make_unique<kopl::TKoplServer>(kopl::KoplBuild::Visualisation);
    server->SetApartment(apartment);
    server->SetClock(&clock);
    server->SetServerName(kServerProgId);
    server->SetActive(true);
    group = &server->OPCGroups().Add("BINPUT");
    item = &group->OPCItems().Add(id);
  }
  TOPCKanal Make(double factor, double offset, int32_t position = 16) {
    return TOPCKanal(context, item->ItemID(), 4, "%", 0, offset, factor, position, *group, *item);
  }
  kopl::testing::ScriptedGroup& Remote() { return *servers.back()->Group("BINPUT"); }
};

TEST_F(KanalTest, ScaledValueInvertsTheScalingAndStaysInRange) {
  Connect();
  struct Case {
    const char* name;
    double factor;
    double offset;
    Variant value;
    int32_t scaled;
  } cases[] = {
      {"factor 0.1", 0.1, 0, Variant::R8(12.34), 123},          {"below the range", 0.1, 0, Variant::R8(-5), 0},
      {"above the range", 0.1, 0, Variant::R8(1000), 4095},     {"offset taken off first", 2, 10, Variant::I4(30), 10},
      {"factor 0 counts as 1", 0, 0, Variant::I4(7), 7},        {"text that is a number", 1, 0, Variant::Str("12"), 12},
      {"text that is no number", 1, 0, Variant::Str("aus"), 0}, {"empty", 1, 0, Variant(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOPCKanal k = Make(c.factor, c.offset);
    item->SetValue(c.value);
    k.SetFromItem(*item);
    EXPECT_EQ(k.ScaledValue(), c.scaled);
    EXPECT_EQ(k.AsBool(), c.scaled != 0);
  }
}

TEST_F(KanalTest, RegistersItselfAsTheItemsData) {
  Connect();
  TOPCKanal k = Make(1, 0);
  EXPECT_EQ(item->Data, static_cast<TItemTarget*>(&k));
  EXPECT_EQ(k.GetValue(), Variant::I4(0));
  EXPECT_TRUE(k.Valid());
}

TEST_F(KanalTest, BadQualityTurnsInvalidOnTheFirstTickOnly) {
  Connect();
  TOPCKanal k = Make(1, 0);
  EXPECT_TRUE(k.TimerTick());  // the first tick makes it invalid
  EXPECT_FALSE(k.Valid());
  EXPECT_FALSE(k.TimerTick());
  EXPECT_FALSE(k.TimerTick());
  k.SetFromItem(*item);  // a good value starts over
  EXPECT_TRUE(k.Valid());
  EXPECT_TRUE(k.TimerTick());
}

TEST_F(KanalTest, WriteBoolWritesTheOppositeAndShowsItAtOnce) {
  Connect();
  TOPCKanal k = Make(1, 0);
  item->SetValue(Variant::I4(1));
  k.SetFromItem(*item);
  k.WriteBool(!k.AsBool());
  EXPECT_FALSE(k.AsBool());  // before the server confirms
  ASSERT_EQ(Remote().writes.size(), 1u);
  EXPECT_TRUE(Remote().writes[0].async);
  EXPECT_EQ(Remote().writes[0].values, std::vector<Variant>{Variant::I4(0)});
  EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(KanalTest, AWriteThatCannotBeMadeIsShownAndKeepsTheOldValue) {
  struct Case {
    const char* name;
    std::function<void(ScriptedServer&)> spoil;
  } cases[] = {
      {"the call fails", [](ScriptedServer& s) { s.fail["AsyncWrite2"] = com::E_FAIL; }},
      {"the item is refused", [](ScriptedServer& s) { s.known["Z.S.Motor"].write_error = com::OPC_E_BADRIGHTS; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.boxes.clear();
    Connect();
    c.spoil(*servers.back());
    TOPCKanal k = Make(1, 0);
    k.WriteBool(true);
    EXPECT_FALSE(k.AsBool());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Konnte auf \"Z.S.Motor\" nicht schreiben!"});
  }
}

}  // namespace
}  // namespace lumaro::testing
