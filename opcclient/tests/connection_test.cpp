// The server component: connect and disconnect, their order and events, the error path,
// status, shutdown requests and the two builds.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"

namespace kopl::testing {
namespace {

using ConnectionTest = KoplTest;

TEST_F(ConnectionTest, ConnectAddsGroupsAndItemsBeforeOnConnectAndDisconnectUndoesThem) {
  Know({"A.B.C", "A.B.D"});
  auto s = MakeServer();
  s->SetClientName("Inspector");
  TKoplGroup& g = s->OPCGroups().Add("G1");
  g.OPCItems().Add("A.B.C");
  g.OPCItems().Add("A.B.D");
  std::vector<std::string> events;
  s->OnConnect = [&](TKoplServer* sender) {
    EXPECT_EQ(sender, s.get());
    events.push_back("connect groups=" + std::to_string(fake->LiveGroups()) + " items=" +
                     std::to_string(fake->Group("G1")->items.size()));
  };
  s->OnDisconnect = [&](TKoplServer*) { events.push_back("disconnect groups=" + std::to_string(fake->LiveGroups())); };

  s->SetActive(true);
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(fake->client_name, "Inspector");
  EXPECT_EQ(fake->ShutdownSinks(), 1u);
  EXPECT_EQ(s->Browser().OPCServer(), s.get());
  // Both items go in one call after the group was added.
  EXPECT_EQ(fake->calls, (std::vector<std::string>{"SetClientName Inspector", "AddGroup G1", "AddItems A.B.C A.B.D"}));
  EXPECT_TRUE(g.OPCItems()[0].Added());

  s->SetActive(false);
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(events, (std::vector<std::string>{"connect groups=1 items=2", "disconnect groups=0"}));
  EXPECT_EQ(fake->calls.back(), "RemoveGroup 100");
  EXPECT_EQ(fake->calls[fake->calls.size() - 2], "RemoveItems 2");
  EXPECT_EQ(fake->ShutdownSinks(), 0u);
  EXPECT_EQ(s->Browser().OPCServer(), nullptr);
  EXPECT_FALSE(g.OPCItems()[0].Added());
  EXPECT_FALSE(g.Connected());
}

TEST_F(ConnectionTest, RepeatedSettingsDoNothing) {
  auto s = MakeServer();
  int disconnects = 0;
  s->OnDisconnect = [&](TKoplServer*) { ++disconnects; };
  s->SetActive(true);
  s->SetActive(true);
  s->SetServerName(kScriptedProgId);
  s->SetComputerName("");
  EXPECT_EQ(activations, 1);
  EXPECT_EQ(disconnects, 0);
  EXPECT_TRUE(s->Active());
}

TEST_F(ConnectionTest, ChangingServerOrComputerDisconnectsWithoutReconnecting) {
  struct Row {
    const char* name;
    std::function<void(TKoplServer&)> change;
  } rows[] = {
      {"server name", [](TKoplServer& s) { s.SetServerName("Other.Server"); }},
      {"computer name", [](TKoplServer& s) { s.SetComputerName("elsewhere"); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto s = MakeServer();
    int disconnects = 0;
    s->OnDisconnect = [&](TKoplServer*) { ++disconnects; };
    s->SetActive(true);
    int before = activations;
    r.change(*s);
    EXPECT_FALSE(s->Active());
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(activations, before);
  }
}

TEST_F(ConnectionTest, ConnectDelayIsSpentOnlyWhereTheBuildAsksForIt) {
  struct Row {
    const char* name;
    KoplBuild build;
    bool items;
    uint32_t slept;
  } rows[] = {
      {"explorer, groups hold items", KoplBuild::Explorer, true, 300},
      {"explorer, no items", KoplBuild::Explorer, false, 0},
      {"visualisation, no items", KoplBuild::Visualisation, false, 300},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Know({"X"});
    auto s = MakeServer(r.build);
    TKoplGroup& g = s->OPCGroups().Add("G");
    if (r.items) g.OPCItems().Add("X");
    uint32_t before = Slept();
    s->SetActive(true);
    EXPECT_EQ(Slept() - before, r.slept);
    s->SetActive(false);
  }
}

TEST_F(ConnectionTest, ConnectionErrorsGoThroughOnErrorOrRaise) {
  struct Row {
    const char* name;
    std::string server_name;
    bool null_object;
    const char* text;
  } rows[] = {
      {"unknown name", "No.Such.Server", false, "first define servername"},
      {"blank name", "", false, "first define servername"},
      {"no server object", kScriptedProgId, true, "Unable to connect to OPC server Test.Scripted.1"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    activation_gives_nothing = r.null_object;
    auto s = MakeServer();
    s->SetServerName(r.server_name);
    s->OPCGroups().Add("G");
    try {
      s->SetActive(true);
      ADD_FAILURE() << "no exception";
    } catch (const EOPCException& e) {
      EXPECT_EQ(std::string(e.what()), r.text);
    }
    EXPECT_FALSE(s->Active());

    std::vector<std::string> errors;
    s->OnError = [&](TKoplServer*, const std::string& text, bool& raise) {
      errors.push_back(text);
      raise = false;
    };
    s->SetActive(true);
    EXPECT_EQ(errors, std::vector<std::string>{r.text});
    EXPECT_FALSE(s->Active());
    EXPECT_EQ(fake->LiveGroups(), 0u);
  }
}

TEST_F(ConnectionTest, ActivationFailuresRaiseWithoutOnError) {
  auto s = MakeServer();
  bool called = false;
  s->OnError = [&](TKoplServer*, const std::string&, bool& raise) {
    called = true;
    raise = false;
  };
  activation_result = REGDB_E_CLASSNOTREG;
  try {
    s->SetActive(true);
    ADD_FAILURE() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
  }
  // An object that is no OPC server.
  activation_result = S_OK;
  activation_object = std::make_shared<platform::com::StringListEnum>(std::vector<std::string>{});
  EXPECT_THROW(s->SetActive(true), EIntfCastError);
  EXPECT_FALSE(called);
  EXPECT_FALSE(s->Active());
}

TEST_F(ConnectionTest, ServerNamedByClassTextAndComputerNameTrimmed) {
  auto s = MakeServer();
  s->SetServerName(platform::com::GuidToString(kScriptedClsid));
  s->SetComputerName("  ");
  s->SetActive(true);
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(activated_on, "");
  s->SetComputerName(" plant7 ");
  s->SetActive(true);
  EXPECT_EQ(activated_on, "plant7");
}

TEST_F(ConnectionTest, UnregisteredClassFailsInTheTransportActivation) {
  SetServices([] {
    KoplServices sv = Services();
    sv.create_server = nullptr;
    return sv;
  }());
  auto s = MakeServer();
  s->SetServerName("{0BADC0DE-0000-0000-0000-000000000001}");
  try {
    s->SetActive(true);
    ADD_FAILURE() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), REGDB_E_CLASSNOTREG);
  }
}

TEST_F(ConnectionTest, ShutdownRequestRunsFromTheLoopThenDisconnects) {
  auto s = MakeServer();
  std::vector<std::string> events;
  s->OnServerShutdown = [&](TKoplServer*, const std::string& reason) { events.push_back("shutdown '" + reason + "'"); };
  s->OnDisconnect = [&](TKoplServer*) { events.push_back("disconnect"); };
  s->SetActive(true);
  EXPECT_EQ(fake->ShutdownSink()->ShutdownRequest("maintenance"), S_OK);
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(s->Active());
  Run();
  EXPECT_EQ(events, (std::vector<std::string>{"shutdown ''", "disconnect"}));
  EXPECT_FALSE(s->Active());
}

TEST_F(ConnectionTest, ShutdownDuringAnEventIsHandledAfterIt) {
  Know({"V"});
  auto s = MakeServer();
  s->OPCGroups().Add("G").OPCItems().Add("V");
  s->SetActive(true);
  std::vector<std::string> events;
  s->OnDatachange = [&](TKoplServer*, TKoplItemList&) {
    events.push_back("data begin");
    fake->ShutdownSink()->ShutdownRequest("");
    events.push_back("data end");
  };
  s->OnServerShutdown = [&](TKoplServer*, const std::string&) { events.push_back("shutdown"); };
  fake->Group("G")->SendData(0, {"V"}, {Variant::I4(1)});
  Run();
  EXPECT_EQ(events, (std::vector<std::string>{"data begin", "data end"}));
  Run();
  EXPECT_EQ(events.back(), "shutdown");
  EXPECT_FALSE(s->Active());
}

TEST_F(ConnectionTest, ServerStatusAndErrorStrings) {
  auto s = MakeServer();
  std::vector<std::string> errors;
  s->OnError = [&](TKoplServer*, const std::string& text, bool& raise) {
    errors.push_back(text);
    raise = false;
  };
  tServerStateRec none = s->GetServerStatus();
  EXPECT_EQ(none.ServerState, 0);
  EXPECT_EQ(none.StartTime, 0);
  EXPECT_EQ(s->GetErrorString(OPC_E_BADTYPE), "");
  EXPECT_EQ(errors, (std::vector<std::string>{"not connected to server", "not connected to server"}));

  fake->status.ftStartTime = platform::U64ToFileTime(platform::kFileTimeUnixEpoch);  // 1970-01-01 00:00 UTC
  fake->status.dwServerState = OPC_STATUS_RUNNING;
  fake->status.wMajorVersion = 2;
  fake->status.wBuildNumber = 17;
  fake->status.szVendorInfo = "Qar \xC3\xA4";  // UTF-8 on the wire
  fake->error_texts[OPC_E_BADTYPE] = "no such type here";
  s->SetActive(true);
  s->OPCGroups().Add("G");
  tServerStateRec st = s->GetServerStatus();
  EXPECT_DOUBLE_EQ(st.StartTime, 25569.0);
  EXPECT_EQ(st.CurrentTime, 0);  // a zero FILETIME is no time
  EXPECT_EQ(st.ServerState, 1);
  EXPECT_EQ(ServerStateText(st.ServerState), "running");
  EXPECT_EQ(st.GroupCount, 1u);
  EXPECT_EQ(st.MajorVersion, 2);
  EXPECT_EQ(st.BuildNumber, 17);
  EXPECT_EQ(st.VendorInfo, "Qar \xE4");  // Windows-1252 in the library
  EXPECT_EQ(s->GetErrorString(OPC_E_BADTYPE), "no such type here");
  EXPECT_EQ(s->GetErrorString(OPC_E_RANGE), "");

  fake->fail["GetStatus"] = OPC_E_NOTFOUND;
  try {
    s->GetServerStatus();
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(std::string(e.what()), "The server could not locate the requested object.");
  }
}

TEST_F(ConnectionTest, FreeingAConnectedComponentRemovesItsGroupsSilently) {
  Know({"V"});
  auto s = MakeServer();
  s->OPCGroups().Add("G").OPCItems().Add("V");
  bool disconnected = false;
  bool data = false;
  s->OnDisconnect = [&](TKoplServer*) { disconnected = true; };
  s->OnDatachange = [&](TKoplServer*, TKoplItemList&) { data = true; };
  s->SetActive(true);
  auto callback = fake->Group("G")->Callback();
  fake->Group("G")->SendData(0, {"V"}, {Variant::I4(5)});
  s.reset();
  Run();  // the queued change belongs to a freed component: dropped
  EXPECT_FALSE(disconnected);
  EXPECT_FALSE(data);
  EXPECT_EQ(fake->LiveGroups(), 0u);
  EXPECT_EQ(fake->ShutdownSinks(), 0u);
  // A server that still calls a sink it was given gets S_OK and reaches nothing.
  std::vector<OPCHANDLE> h{0};
  std::vector<Variant> v{Variant::I4(1)};
  std::vector<WORD> q{OPC_QUALITY_GOOD};
  std::vector<FILETIME> t(1);
  std::vector<HRESULT> e{S_OK};
  EXPECT_EQ(callback->OnDataChange(0, 0, S_OK, S_OK, 1, h.data(), v.data(), q.data(), t.data(), e.data()), S_OK);
  EXPECT_EQ(Run(), 0u);
}

TEST_F(ConnectionTest, TheTwoBuildsDiffer) {
  auto explorer = MakeServer(KoplBuild::Explorer);
  auto visual = MakeServer(KoplBuild::Visualisation);
  EXPECT_EQ(explorer->Version(), "1.40");
  EXPECT_EQ(visual->Version(), "1.43");
  explorer->SetVersion("9.99");
  EXPECT_EQ(explorer->Version(), "1.40");
  EXPECT_EQ(explorer->DataChangeMessage(), 1026u);
  EXPECT_EQ(visual->DataChangeMessage(), 5634u);
  EXPECT_EQ(explorer->ConnectDelay(), 300);
  // The program's build is the default.
  SetServices([] {
    KoplServices sv = Services();
    sv.build = KoplBuild::Visualisation;
    return sv;
  }());
  EXPECT_EQ(TKoplServer().Version(), "1.43");
}

}  // namespace
}  // namespace kopl::testing
