// The three callbacks as the server library calls them, and the namespace they leave.
#include "host/name_space.h"

#include <gtest/gtest.h>

#include <functional>

#include "host/tests/fake_library.h"

namespace host {
namespace {

namespace com = platform::com;
using testing::FakeLibrary;

class NameSpaceTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeLibrary::Get().Reset(); }
  NameSpace ns;
};

TEST_F(NameSpaceTest, CallbacksRefuseWithTheLastErrorsTheLibraryTellsApart) {
  NameSpace::Building b(ns);
  uint32_t root = 0, station = 0, tag = 0, property = 0;
  ASSERT_EQ(NameSpace::CreateNode(0, "ZFM", &root), 1);
  ASSERT_EQ(NameSpace::CreateNode(root, "Pumpe", &station), 1);
  ASSERT_EQ(NameSpace::CreateTag(station, "Druck", com::VT_R8, 1, 272, &tag), 1);
  com::RawVariant unit;
  com::RawVariantInit(&unit);

  struct Row {
    const char* name;
    std::function<int32_t()> call;
    uint32_t last_error;
  } rows[] = {
      {"node below an unknown parent", [&] { return NameSpace::CreateNode(99, "X", &property); }, 6},
      {"node without a name", [&] { return NameSpace::CreateNode(root, "", &property); }, 87},
      {"node without a name pointer", [&] { return NameSpace::CreateNode(root, nullptr, &property); }, 87},
      {"station name taken twice", [&] { return NameSpace::CreateNode(root, "Pumpe", &property); }, 87},
      {"tag in an unknown node", [&] { return NameSpace::CreateTag(42, "T", com::VT_I4, 1, 1, &property); }, 6},
      {"tag without a name", [&] { return NameSpace::CreateTag(station, "", com::VT_I4, 1, 1, &property); }, 87},
      {"tag name taken twice", [&] { return NameSpace::CreateTag(station, "Druck", com::VT_I4, 1, 1, &property); }, 87},
      {"tag of no value type", [&] { return NameSpace::CreateTag(station, "T", 0x4711, 1, 1, &property); }, 87},
      {"tag of the empty type", [&] { return NameSpace::CreateTag(station, "T", com::VT_EMPTY, 1, 1, &property); }, 87},
      {"tag without access", [&] { return NameSpace::CreateTag(station, "T", com::VT_I4, 0, 1, &property); }, 87},
      {"tag with unknown access bits", [&] { return NameSpace::CreateTag(station, "T", com::VT_I4, 5, 1, &property); },
       87},
      {"property of an unknown tag",
       [&] { return NameSpace::CreateProperty(7, 5001, "U", com::VT_BSTR, 1, &unit, 273, &property); }, 6},
      {"property with a standard ID",
       [&] { return NameSpace::CreateProperty(tag, 2, "Value", com::VT_I2, 1, &unit, 273, &property); }, 87},
      {"property without a value",
       [&] { return NameSpace::CreateProperty(tag, 5001, "U", com::VT_BSTR, 1, nullptr, 273, &property); }, 6},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    QarSetLastError(0);
    EXPECT_EQ(r.call(), 0);
    EXPECT_EQ(QarGetLastError(), r.last_error);
  }
  // Nothing refused came into the namespace.
  ASSERT_EQ(ns.Space().Items().size(), 1u);
  EXPECT_EQ(ns.Space().Items()[0]->item_id, "ZFM.Pumpe.Druck");
}

TEST_F(NameSpaceTest, BuiltNamespaceHasJoinedUtf8ItemIdsAndCopiedProperties) {
  FakeLibrary& lib = FakeLibrary::Get();
  lib.root =
      "Zentrale S\xFC"
      "d";
  lib.tags = {
      {"", "RS_KOM_FAIL", com::VT_I4, 1, 2, {}},
      {"Pumpe",
       "Druck",
       com::VT_R8,
       1,
       272,
       {{5001, "Item Unit",
         com::Variant::Str("\xC2\xB0"
                           "C")},
        {5002, "Item Faktor", com::Variant::R8(0.1)}}},
      {"Pumpe", "Stell", com::VT_I4, 3, 304, {}},
      {"Wei\xDF"
       "enbach",
       "Pegel",
       com::VT_I4,
       1,
       528,
       {}},
  };
  ns.Build(FakeLibrary::TheExports().build_name_space);

  struct Want {
    const char* id;
    com::VARTYPE type;
    com::DWORD access;
    uint32_t handle;
  } want[] = {
      {"Zentrale S\xC3\xBC"
       "d.RS_KOM_FAIL",
       com::VT_I4, 1, 2},
      {"Zentrale S\xC3\xBC"
       "d.Pumpe.Druck",
       com::VT_R8, 1, 272},
      {"Zentrale S\xC3\xBC"
       "d.Pumpe.Stell",
       com::VT_I4, 3, 304},
      {"Zentrale S\xC3\xBC"
       "d.Wei\xC3\x9F"
       "enbach.Pegel",
       com::VT_I4, 1, 528},
  };
  const auto& items = ns.Space().Items();
  ASSERT_EQ(items.size(), std::size(want));
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(want[i].id);
    EXPECT_EQ(items[i]->item_id, want[i].id);
    EXPECT_EQ(items[i]->canonical, want[i].type);
    EXPECT_EQ(items[i]->access_rights, want[i].access);
    EXPECT_EQ(items[i]->handle, want[i].handle);
  }
  // The library freed its property values after each call: the host's copies stand alone.
  const auto& props = ns.PropertiesOf(
      "Zentrale S\xC3\xBC"
      "d.Pumpe.Druck");
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0].id, 5001u);
  EXPECT_EQ(props[0].description, "Item Unit");
  EXPECT_EQ(props[0].type, com::VT_BSTR);
  EXPECT_EQ(props[0].value, com::Variant::Str("\xC2\xB0"
                                              "C"));
  EXPECT_EQ(props[1].value, com::Variant::R8(0.1));
  EXPECT_TRUE(ns.PropertiesOf("Zentrale S\xC3\xBC"
                              "d.Pumpe.Stell")
                  .empty());
}

TEST_F(NameSpaceTest, PropertyIdTakenTwiceOnOneItemKeepsTheFirst) {
  FakeLibrary::Get().tags = {{"S",
                              "T",
                              com::VT_I4,
                              1,
                              16,
                              {{5004, "Item Decimals", com::Variant::I2(2)}, {5004, "Again", com::Variant::I2(9)}}}};
  ns.Build(FakeLibrary::TheExports().build_name_space);
  const auto& props = ns.PropertiesOf("ZFM.S.T");
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].value, com::Variant::I2(2));
}

}  // namespace
}  // namespace host
