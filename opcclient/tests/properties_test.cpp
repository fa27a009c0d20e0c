// Item properties: what the server offers and the values it gives.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"

namespace kopl::testing {
namespace {

class PropertiesTest : public KoplTest {
 protected:
  std::unique_ptr<TKoplServer> s;
  void SetUp() override {
    KoplTest::SetUp();
    fake->properties["Z.S1.AE1"] = {{1, "Item Canonical DataType", VT_I2, Variant::I2(5)},
                                    {5001, "Einheit", VT_BSTR, Variant::Str("\xC2\xB0" "C")},
                                    {5002, "Faktor", VT_R8, Variant::R8(0.1)}};
    s = MakeServer();
    s->SetActive(true);
  }
};

TEST_F(PropertiesTest, AllPropertiesInTheServersOrder) {
  TKoplItemProperties p(s.get(), "Z.S1.AE1");
  ASSERT_EQ(p.Count(), 3);
  EXPECT_EQ(p[1].PropertyID, 5001u);
  EXPECT_EQ(p[1].Description, "Einheit");
  EXPECT_EQ(p[1].DataType, VT_BSTR);
  EXPECT_EQ(p[1].Value, Variant::Str("\xC2\xB0" "C"));
  EXPECT_EQ(p[2].Value, Variant::R8(0.1));
  EXPECT_TRUE(p.Refresh());
}

TEST_F(PropertiesTest, NothingToReadGivesFalse) {
  struct Row {
    const char* name;
    TKoplServer* server;
    const char* id;
  } rows[] = {
      {"item without properties", s.get(), "Z.S1.BE1"},
      {"no item ID", s.get(), ""},
      {"no server", nullptr, "Z.S1.AE1"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TKoplItemProperties p(r.server, r.id);
    EXPECT_EQ(p.Count(), 0);
    EXPECT_FALSE(p.Refresh());
  }
  auto disconnected = MakeServer();
  TKoplItemProperties p(disconnected.get(), "Z.S1.AE1");
  EXPECT_EQ(p.Count(), 0);
}

TEST_F(PropertiesTest, OneFailingPropertyLeavesOnlyItsValueEmpty) {
  fake->properties["Z.S1.AE1"][1].error = OPC_E_INVALID_PID;
  TKoplItemProperties p(s.get(), "Z.S1.AE1");
  ASSERT_EQ(p.Count(), 3);
  EXPECT_FALSE(p.Refresh());
  EXPECT_EQ(p[0].Value, Variant::I2(5));
  EXPECT_EQ(p[1].Value, Variant());
  EXPECT_EQ(p[2].Value, Variant::R8(0.1));
  // A failing read changes no value.
  fake->fail["GetItemProperties"] = E_FAIL;
  EXPECT_FALSE(p.ReadValues());
  EXPECT_EQ(p[0].Value, Variant::I2(5));
}

TEST_F(PropertiesTest, AFailingQueryRaises) {
  fake->fail["QueryAvailableProperties"] = OPC_E_UNKNOWNITEMID;
  try {
    TKoplItemProperties p(s.get(), "Z.S1.AE1");
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "The item is no longer available in the server address space.");
  }
}

}  // namespace
}  // namespace kopl::testing
