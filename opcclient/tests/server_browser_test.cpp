// Server enumeration by category, and the quick list of registered OPC servers.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"

namespace kopl::testing {
namespace {

class ServerBrowserTest : public KoplTest {
 protected:
  void Register(const char* clsid_text, const char* prog_id, const char* name, std::vector<CATID> categories,
                bool opc = true) {
    ServerRegistration r;
    r.clsid = *GuidFromString(clsid_text);
    r.prog_id = prog_id;
    r.readable_name = name;
    r.categories = std::move(categories);
    r.opc = opc;
    platform::Registry reg;
    ASSERT_TRUE(RegisterServer(r, reg));
  }
  void SetUp() override {
    KoplTest::SetUp();
    Register("{11111111-0000-0000-0000-000000000001}", "Vendor.Both.1", "Both kinds",
             {CATID_OPCDAServer10, CATID_OPCDAServer20});
    Register("{11111111-0000-0000-0000-000000000002}", "Vendor.Alarms.1", "Alarms", {CATID_OPCAEServer10});
    Register("{11111111-0000-0000-0000-000000000003}", "Vendor.Old.1", "Old one", {CATID_OPCDAServer10});
    Register("{11111111-0000-0000-0000-000000000004}", "Plain.Program.1", "Not OPC", {}, false);
  }
  static std::string Entries(TKoplServerBrowser& b) {
    std::string out;
    for (int i = 0; i < b.GetCount(); ++i) {
      out += b[i].ProgID + "=" + std::to_string(b[i].ServerType) + " ";
    }
    return out;
  }
};

TEST_F(ServerBrowserTest, EachServerOnceWithTheFlagsOfItsCategories) {
  struct Row {
    const char* name;
    uint32_t types;
    std::string entries;
  } rows[] = {
      {"all", svr_All, "Vendor.Both.1=3 Vendor.Old.1=2 Vendor.Alarms.1=4 "},
      {"DA 2.0 only", svr_DA20, "Vendor.Both.1=1 "},
      {"alarms only", svr_AE10, "Vendor.Alarms.1=4 "},
      {"none", 0, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TKoplServerBrowser b;
    int lists = 0;
    b.SetServerListFactory([&](const std::string& computer, std::shared_ptr<IOPCServerList>* out) {
      ++lists;
      return CreateServerList(computer, out);
    });
    b.Servertype = r.types;
    b.Search();
    EXPECT_EQ(Entries(b), r.entries);
    EXPECT_EQ(lists, 1);  // made even when no category is asked for
  }
  TKoplServerBrowser b;
  b.Search();
  ASSERT_GE(b.GetCount(), 1);
  EXPECT_EQ(b[0].UserType, "Both kinds");
  EXPECT_EQ(b[0].CLSID, "{11111111-0000-0000-0000-000000000001}");
  EXPECT_EQ(b[0].ComputerName, "");
}

TEST_F(ServerBrowserTest, AnotherComputerIsUnreachableWithoutRemoteAccess) {
  TKoplServerBrowser b;
  b.Search();
  b.ComputerName = "plant7";
  try {
    b.Search();
    ADD_FAILURE() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), RPC_S_SERVER_UNAVAILABLE);
  }
  EXPECT_EQ(b.GetCount(), 0);
}

TEST_F(ServerBrowserTest, AFailureKeepsWhatWasFoundBefore) {
  class FailingOnAlarms final : public IOPCServerList, public std::enable_shared_from_this<FailingOnAlarms> {
   public:
    std::shared_ptr<IOPCServerList> inner = NewRegistryServerList();
    HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
      return AnswerQuery(this, riid, ppv, {IID_IOPCServerList});
    }
    HRESULT EnumClassesOfCategories(ULONG n, const CATID* impl, ULONG m, const CATID* req,
                                    std::shared_ptr<IEnumGUID>* out) override {
      if (n && impl[0] == CATID_OPCAEServer10) return E_ACCESSDENIED;
      return inner->EnumClassesOfCategories(n, impl, m, req, out);
    }
    HRESULT GetClassDetails(const CLSID& c, std::string* p, std::string* u) override {
      return inner->GetClassDetails(c, p, u);
    }
  };
  TKoplServerBrowser b;
  b.SetServerListFactory([](const std::string&, std::shared_ptr<IOPCServerList>* out) {
    *out = std::make_shared<FailingOnAlarms>();
    return S_OK;
  });
  EXPECT_THROW(b.Search(), EOleSysError);
  EXPECT_EQ(Entries(b), "Vendor.Both.1=3 Vendor.Old.1=2 ");
}

TEST_F(ServerBrowserTest, QuickListHasTheProgIdsMarkedOpc) {
  std::vector<std::string> list{"stale"};
  GetOPCServers(list);
  auto has = [&](const char* p) { return std::find(list.begin(), list.end(), p) != list.end(); };
  for (const char* p : {"Test.Scripted.1", "Vendor.Alarms.1", "Vendor.Both.1", "Vendor.Old.1"}) EXPECT_TRUE(has(p)) << p;
  EXPECT_FALSE(has("Plain.Program.1"));
  EXPECT_FALSE(has("stale"));
  EXPECT_FALSE(has("CLSID"));
}

}  // namespace
}  // namespace kopl::testing
