#include "platform/com/address_space.h"

#include <gtest/gtest.h>

#include "platform/com/call_cancel.h"

namespace platform::com {
namespace {

TEST(MatchOpcPatternTest, FollowsTheFilterSyntax) {
  struct Row {
    const char* text;
    const char* pattern;
    std::optional<bool> match;
  } rows[] = {
      {"AE1", "AE1", true},        {"AE1", "ae1", false},       {"AE1", "A?1", true},
      {"AE1", "A??1", false},      {"AE12", "AE#", false},      {"AE12", "AE##", true},
      {"AEx", "AE#", false},       {"", "*", true},             {"Station1", "*1", true},
      {"Station1", "S*x*", false}, {"Station1", "S*n?", true},  {"BA1", "[AB]A1", true},
      {"CA1", "[AB]A1", false},    {"CA1", "[!AB]A1", true},    {"BA1", "[!AB]A1", false},
      {"k", "[a-m]", true},        {"z", "[a-m]", false},       {"]", "[]]", true},
      {"a*b", "a[*]b", true},      {"axb", "a[*]b", false},     {"AE1", "[AE1", std::nullopt},
      {"#", "[#]", true},          {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},
      {"", "***", true},           {"Station1", "S***1", true}, {"Station1", "S**x**", false},
      {"ab", "a***?", true},       {"a", "a**?", false},        {"AE1", "**AE#**", true},
      {"AE1", "*[!0-9]#", true},   {"A1", "*[!0-9]#", true},    {"11", "*[!0-9]#", false},
      {"k", "[z-a]", true},        {"-", "[a-]", true},         {"b", "[a-]", false},
      {"]", "[!]]", false},        {"x", "[!]]", true},         {"x", "[!]", std::nullopt},
      {"\xE4", "[\xC0-\xFF]", true}, {"a", "[\xC0-\xFF]", false}, {"\xE4", "?", true},
      {"", "", true},              {"x", "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text) + " / " + row.pattern);
    EXPECT_EQ(MatchOpcPattern(row.text, row.pattern), row.match);
  }
}

class AddressSpaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto root = space_.AddNode(AddressSpace::kTop, "Zentrale");
    ASSERT_TRUE(root);
    auto s1 = space_.AddNode(*root, "Station1");
    auto s2 = space_.AddNode(*root, "Station2");
    ASSERT_TRUE(s1 && s2);
    ASSERT_TRUE(space_.AddTag(*root, "Status", VT_I4, OPC_READABLE, 1));
    ASSERT_TRUE(space_.AddTag(*s1, "AE1", VT_R8, OPC_READABLE, 2));
    ASSERT_TRUE(space_.AddTag(*s1, "BA1", VT_I4, OPC_READABLE | OPC_WRITEABLE, 3));
    ASSERT_TRUE(space_.AddTag(*s2, "AE1", VT_R8, OPC_READABLE, 4));
  }
  std::vector<std::string> Browse(AddressBrowser& b, OPCBROWSETYPE type, const std::string& filter = "",
                                  VARTYPE vt = VT_EMPTY, DWORD rights = 0) {
    std::vector<std::string> names;
    EXPECT_EQ(b.Browse(type, filter, vt, rights, &names), S_OK);
    return names;
  }
  AddressSpace space_;
};

TEST_F(AddressSpaceTest, RefusesWhatCannotBeAnItemId) {
  AddressSpace::Refusal why;
  EXPECT_FALSE(space_.AddNode(AddressSpace::kTop, "", &why));
  EXPECT_EQ(why, AddressSpace::Refusal::kEmptyName);
  EXPECT_FALSE(space_.AddNode(99, "X", &why));
  EXPECT_EQ(why, AddressSpace::Refusal::kUnknownParent);
  EXPECT_FALSE(space_.AddNode(AddressSpace::kTop, "Zentrale", &why));
  EXPECT_EQ(why, AddressSpace::Refusal::kDuplicate);
  EXPECT_FALSE(space_.AddTag(AddressSpace::kTop, "Loose", VT_I4, OPC_READABLE, 9, &why));
  EXPECT_EQ(why, AddressSpace::Refusal::kUnknownParent);
  EXPECT_FALSE(space_.AddTag(2, "AE1", VT_R8, OPC_READABLE, 9, &why));  // Station1 has one
  EXPECT_EQ(why, AddressSpace::Refusal::kDuplicate);
  ASSERT_TRUE(space_.Find("Zentrale.Station1.BA1"));
  EXPECT_EQ(space_.Find("Zentrale.Station1.BA1")->handle, 3u);
  EXPECT_EQ(space_.Items().size(), 4u);
}

TEST_F(AddressSpaceTest, BrowsesLikeAClientWalksIt) {
  AddressBrowser b(space_);
  EXPECT_EQ(Browse(b, OPC_BRANCH), std::vector<std::string>{"Zentrale"});
  EXPECT_TRUE(Browse(b, OPC_LEAF).empty());
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_UP, ""), E_FAIL);
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, "Zentrale"), S_OK);
  EXPECT_EQ(Browse(b, OPC_BRANCH), (std::vector<std::string>{"Station1", "Station2"}));
  EXPECT_EQ(Browse(b, OPC_BRANCH, "*2"), std::vector<std::string>{"Station2"});
  EXPECT_EQ(Browse(b, OPC_LEAF), std::vector<std::string>{"Status"});
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, "Nowhere"), E_INVALIDARG);
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_DOWN, "Station1"), S_OK);
  EXPECT_EQ(Browse(b, OPC_LEAF), (std::vector<std::string>{"AE1", "BA1"}));
  EXPECT_EQ(Browse(b, OPC_LEAF, "", VT_EMPTY, OPC_WRITEABLE), std::vector<std::string>{"BA1"});
  EXPECT_EQ(Browse(b, OPC_LEAF, "", VT_BSTR), (std::vector<std::string>{"AE1", "BA1"}));  // both convert
  EXPECT_TRUE(Browse(b, OPC_LEAF, "", VT_ARRAY | VT_I4).empty());
  std::string id;
  EXPECT_EQ(b.GetItemID("BA1", &id), S_OK);
  EXPECT_EQ(id, "Zentrale.Station1.BA1");
  EXPECT_EQ(b.GetItemID("Zentrale.Station2.AE1", &id), S_OK);  // a full ID stays as it is
  EXPECT_EQ(id, "Zentrale.Station2.AE1");
  EXPECT_EQ(b.GetItemID("Status", &id), OPC_E_UNKNOWNITEMID);  // not at this position
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_UP, ""), S_OK);
  EXPECT_EQ(b.GetItemID("Station2", &id), S_OK);
  EXPECT_EQ(id, "Zentrale.Station2");
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, "Zentrale.Station2"), S_OK);
  EXPECT_EQ(Browse(b, OPC_LEAF), std::vector<std::string>{"AE1"});
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, "Zentrale.Station9"), E_INVALIDARG);
  EXPECT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, ""), S_OK);
  EXPECT_EQ(Browse(b, OPC_FLAT, "*AE1"), (std::vector<std::string>{"Zentrale.Station1.AE1", "Zentrale.Station2.AE1"}));
  std::vector<std::string> names;
  EXPECT_EQ(b.Browse(OPC_LEAF, "[AE", VT_EMPTY, 0, &names), OPC_E_INVALIDFILTER);
  EXPECT_EQ(b.Browse(static_cast<OPCBROWSETYPE>(7), "", VT_EMPTY, 0, &names), E_INVALIDARG);
}

// A filter that needs more characters than the longest item ID or branch name
// ("Zentrale.Station1.AE1", 21) can match nothing, and is refused however long it is;
// a run of "*" needs none.
TEST_F(AddressSpaceTest, FiltersLongerThanAnyNameAreRefused) {
  const std::string longest = "Zentrale.Station1.AE1";
  struct Row {
    const char* label;
    std::string filter;
    HRESULT hr;
    std::vector<std::string> ids;
  } rows[] = {
      {"as long as the longest", longest, S_OK, {longest}},
      {"one character more", longest + "?", E_INVALIDARG, {}},
      {"the longest as one-character parts", std::string(longest.size(), '?'), S_OK,
       {longest, "Zentrale.Station1.BA1", "Zentrale.Station2.AE1"}},
      {"a megabyte of \"?\"", std::string(1 << 20, '?'), E_INVALIDARG, {}},
      {"lists and digits count one each", std::string(11, '#') + std::string(11, 'x') + "[ab]", E_INVALIDARG, {}},
      {"a megabyte of \"*\"", std::string(1 << 20, '*'), S_OK,
       {"Zentrale.Status", longest, "Zentrale.Station1.BA1", "Zentrale.Station2.AE1"}},
      {"stars between the characters", "*Z*e*n*t*r*a*l*e*.*S*t*a*t*i*o*n*1*.*A*E*1*", S_OK, {longest}},
      {"a malformed filter", "[" + std::string(1 << 20, 'a'), OPC_E_INVALIDFILTER, {}},
  };
  AddressBrowser b(space_);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<std::string> names{"left over"};
    EXPECT_EQ(b.Browse(OPC_FLAT, row.filter, VT_EMPTY, 0, &names), row.hr);
    EXPECT_EQ(names, row.ids);
  }
}

// A browse whose client has gone stops within a few names and hands back none.
TEST(AddressBrowserCancelTest, StopsSoonOnceItsClientHasGone) {
  AddressSpace space;
  const AddressSpace::NodeId root = *space.AddNode(AddressSpace::kTop, "Zentrale");
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(space.AddNode(root, "S" + std::to_string(i)));
    ASSERT_TRUE(space.AddTag(root, "R" + std::to_string(i), VT_I4, OPC_READABLE, uint32_t(i)));
  }
  struct Row {
    OPCBROWSETYPE type;
    const char* position;
  } rows[] = {{OPC_FLAT, ""}, {OPC_BRANCH, "Zentrale"}, {OPC_LEAF, "Zentrale"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    AddressBrowser b(space);
    ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, row.position), S_OK);
    std::vector<std::string> names;
    {
      CallCancelScope waiting([] { return false; });
      EXPECT_EQ(b.Browse(row.type, "*", VT_EMPTY, 0, &names), S_OK);
      EXPECT_EQ(names.size(), 1000u);
    }
    int asked = 0;
    CallCancelScope gone_after_a_while([&] { return ++asked > 2; });
    EXPECT_EQ(b.Browse(row.type, "*", VT_EMPTY, 0, &names), RPC_E_CALL_CANCELED);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(asked, 3);
  }
  EXPECT_EQ(CoTestCancel(), S_OK);  // outside every call
}

// A flat browse lists the full IDs of the items at the browse position and below it.
TEST_F(AddressSpaceTest, FlatBrowseStartsAtThePosition) {
  struct Row {
    const char* position;
    std::vector<std::string> ids;
  } rows[] = {
      {"", {"Zentrale.Status", "Zentrale.Station1.AE1", "Zentrale.Station1.BA1", "Zentrale.Station2.AE1"}},
      {"Zentrale", {"Zentrale.Status", "Zentrale.Station1.AE1", "Zentrale.Station1.BA1", "Zentrale.Station2.AE1"}},
      {"Zentrale.Station1", {"Zentrale.Station1.AE1", "Zentrale.Station1.BA1"}},
      {"Zentrale.Station2", {"Zentrale.Station2.AE1"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.position);
    AddressBrowser b(space_);
    ASSERT_EQ(b.ChangeBrowsePosition(OPC_BROWSE_TO, row.position), S_OK);
    EXPECT_EQ(Browse(b, OPC_FLAT), row.ids);
  }
}

}  // namespace
}  // namespace platform::com
