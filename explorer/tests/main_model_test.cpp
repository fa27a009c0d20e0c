// The main window's logic against the scripted server: connecting, the status timer, the
// connection's events, the session commands and the settings file.
#include <gtest/gtest.h>

#include "explorer/tests/explorer_fixture.h"
#include "opcclient/kopl_errors.h"
#include "platform/com/class_registry.h"
#include "platform/registry.h"

namespace explorer::testing {
namespace {

using Names = std::vector<std::string>;
using kopl::Variant;
namespace com = platform::com;

const char* const kClsidText = "{3C1F0B7A-9E55-4D21-8A6E-112233445566}";  // the scripted server's class

class MainModelTest : public ExplorerTest {
 protected:
  int changes = 0;
  int inspector_shown = 0;
  void SetUp() override {
    ExplorerTest::SetUp();
    Know({"A.Level", "A.Temp"});
    main->OnChanged = [this] { ++changes; };
    main->OnShowInspector = [this] { ++inspector_shown; };
    main->FormShow();
  }
  std::string Ini() { return dir.Read("Feddra.ini"); }
  // The set-up of a session: one group with two items.
  void BuildSession() {
    ConnectScripted();
    if (!Inspector().SelectedGroup()) {
      Server().OPCGroups().Add("Default");
      Inspector().RebuildTree();
    }
    Inspector().AddItems(Inspector().SelectedGroup(), {"A.Level", "A.Temp"});
  }
};

TEST_F(MainModelTest, StartsNotConnectedWithTheLastServerInTheLine) {
  dir.Write("Feddra.ini", "[SERVER]\r\nLAST=Vendor.Server.1\r\n");
  auto again = MakeMain();
  again->FormShow();
  EXPECT_EQ(again->ServerText(), "Vendor.Server.1");
  EXPECT_EQ(again->Status().Server, "not connected");
  EXPECT_EQ(again->ErrorInfo(), "");
  EXPECT_TRUE(again->TimerEnabled());
  // The first tick finds no connection: the panel stays empty and the timer goes off.
  again->TimerTick();
  EXPECT_FALSE(again->TimerEnabled());
  EXPECT_EQ(again->Status().State, "");
}

TEST_F(MainModelTest, BlankServerLineOnlyAsksForAServer) {
  for (const char* text : {"", "   "}) {
    SCOPED_TRACE(std::string("'") + text + "'");
    messages.boxes.clear();
    main->SetServerText(text);
    main->Connect();
    EXPECT_EQ(messages.Texts(), Names{"first select OPC Server"});
    EXPECT_EQ(activations, 0);
    EXPECT_FALSE(dir.Exists("Feddra.ini"));
  }
}

TEST_F(MainModelTest, ConnectsByProgIdOrClassIdAndRemembersTheServer) {
  for (const char* name : {kopl::testing::kScriptedProgId, kClsidText}) {
    SCOPED_TRACE(name);
    main->Disconnect();
    main->SetServerText(name);
    main->Connect();
    EXPECT_TRUE(Server().Active());
    EXPECT_EQ(Server().ServerName(), name);
    EXPECT_TRUE(main->TimerEnabled());
    EXPECT_EQ(main->Settings().LastServer(), name);
  }
  EXPECT_EQ(Ini(), std::string("[SERVER]\r\nLAST=") + kClsidText + "\r\n");
}

TEST_F(MainModelTest, ConnectionErrorsGoToTheErrorLine) {
  main->SetServerText("Nobody.Knows.Me");
  main->Connect();
  EXPECT_FALSE(Server().Active());
  EXPECT_EQ(main->ErrorInfo(), "first define servername");
  EXPECT_EQ(main->Settings().LastServer(), "Nobody.Knows.Me");

  // The next connect command empties the line first.
  activation_gives_nothing = true;
  main->SetServerText(kopl::testing::kScriptedProgId);
  main->Connect();
  EXPECT_EQ(main->ErrorInfo(), std::string("Unable to connect to OPC server ") + kopl::testing::kScriptedProgId);

  // A failed activation raises past the error line and records nothing.
  activation_gives_nothing = false;
  activation_result = com::RPC_S_SERVER_UNAVAILABLE;
  main->SetServerText(kClsidText);
  EXPECT_THROW(main->Connect(), kopl::EOleSysError);
  EXPECT_EQ(main->ErrorInfo(), "");
  EXPECT_EQ(main->Settings().LastServer(), kopl::testing::kScriptedProgId);
}

TEST_F(MainModelTest, TimerShowsTheServerStatus) {
  fake->status.dwServerState = com::OPC_STATUS_RUNNING;
  fake->status.szVendorInfo = "Scripted vendor";
  fake->status.ftStartTime = platform::ToFileTime(std::chrono::system_clock::time_point{std::chrono::seconds{1796738587}});
  ConnectScripted();
  main->TimerTick();
  EXPECT_TRUE(main->TimerEnabled());
  EXPECT_EQ(main->Status().Server, kopl::testing::kScriptedProgId);
  EXPECT_EQ(main->Status().State, "running");
  EXPECT_EQ(main->Status().Info, "Scripted vendor");
  EXPECT_EQ(main->Status().StartTime, "08.12.2026 14:03:07");
  EXPECT_EQ(main->Status().UpdateTime, "");  // the server gave no time
  EXPECT_EQ(Inspector().GroupState().Name, "Default");
}

TEST_F(MainModelTest, FailingStatusPollDisconnects) {
  ConnectScripted();
  fake->fail["GetStatus"] = com::E_FAIL;
  main->TimerTick();
  EXPECT_FALSE(Server().Active());
  EXPECT_FALSE(main->TimerEnabled());
  EXPECT_EQ(main->Status().Server, "not connected");
  EXPECT_TRUE(Explorer().Tree().Empty());
}

TEST_F(MainModelTest, ServerShutdownEmptiesThePanelAndSaysSo) {
  ConnectScripted();
  main->TimerTick();
  fake->ShutdownSink()->ShutdownRequest("maintenance");
  Run();
  EXPECT_FALSE(Server().Active());
  EXPECT_FALSE(main->TimerEnabled());
  EXPECT_EQ(main->ErrorInfo(), "Disconnect from Server");
  EXPECT_EQ(main->Status().Server, "not connected");
  EXPECT_EQ(main->Status().Info, "");
}

TEST_F(MainModelTest, AsynchronousWriteOutcomeInTheErrorLine) {
  struct Row {
    com::HRESULT item_error;
    const char* line;
  } rows[] = {{com::S_OK, "Async write values OK"}, {com::OPC_E_BADRIGHTS, "Async write values ERROR"}};
  BuildSession();
  kopl::TKoplGroup* g = Inspector().SelectedGroup();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    std::vector<com::OPCHANDLE> handles{g->OPCItems()[0].ClientHandle()};
    std::vector<com::HRESULT> errors{r.item_error};
    fake->Group("Default")->Callback()->OnWriteComplete(1, com::OPCHANDLE(g->ID()), com::S_OK, 1, handles.data(),
                                                        errors.data());
    Run();
    EXPECT_EQ(main->ErrorInfo(), r.line);
  }
}

TEST_F(MainModelTest, ServerSelectionTakesTheComputerEvenOnCancel) {
  struct Row {
    const char* name;
    bool ok;
    const char* line;
  } rows[] = {{"OK", true, "{0000-CLSID}"}, {"Cancel", false, "before"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Server().SetComputerName("old");
    main->SetServerText("before");
    dialogs.asked.clear();
    dialogs.select_server = [&](std::string& computer, std::string& prog_id, std::string& clsid) {
      computer = "plant-pc";
      prog_id = "Vendor.Server.1";
      clsid = "{0000-CLSID}";
      return r.ok;
    };
    main->RemoteSelect();
    EXPECT_EQ(dialogs.asked, Names{"SelectServer old"});
    EXPECT_EQ(main->ServerText(), r.line);
    EXPECT_EQ(Server().ComputerName(), "plant-pc");
  }
}

TEST_F(MainModelTest, ServerListIsFilledOnceThereAreServers) {
  platform::Registry reg;
  com::ServerRegistration scripted;
  scripted.clsid = kopl::testing::kScriptedClsid;
  scripted.prog_id = kopl::testing::kScriptedProgId;
  ASSERT_TRUE(com::UnregisterServer(scripted, reg));
  main->ServerComboDropDown();
  EXPECT_TRUE(main->ServerList().empty());
  EXPECT_EQ(messages.waitDepth, 0);

  scripted.readable_name = "Scripted";
  scripted.command = "/nonexistent/scripted";
  ASSERT_TRUE(com::RegisterServer(scripted, reg));
  main->ServerComboDropDown();
  EXPECT_EQ(main->ServerList(), Names{kopl::testing::kScriptedProgId});

  // Later drop-downs keep the list.
  com::ServerRegistration other = scripted;
  other.clsid = *com::GuidFromString("{11111111-0000-0000-0000-000000000001}");
  other.prog_id = "Vendor.Other.1";
  ASSERT_TRUE(com::RegisterServer(other, reg));
  main->ServerComboDropDown();
  EXPECT_EQ(main->ServerList().size(), 1u);
}

TEST_F(MainModelTest, NewSessionLeavesNothing) {
  BuildSession();
  Server().SetComputerName("");
  main->NewSession();
  EXPECT_FALSE(Server().Active());
  EXPECT_EQ(Server().OPCGroups().Count(), 0);
  EXPECT_EQ(Server().ServerName(), "");
  EXPECT_EQ(main->ServerText(), "");
  EXPECT_TRUE(Inspector().GroupNodes().empty());
  EXPECT_EQ(Inspector().RowCount(), 0);
  EXPECT_EQ(fake->LiveGroups(), 0u);
}

TEST_F(MainModelTest, SaveAndOpenGiveTheSameSetUp) {
  BuildSession();
  dialogs.save_file = [&](std::string& f) {
    EXPECT_EQ(f, "");  // preset from the open dialog, which has not run
    f = dir / "plant.opc";
    return true;
  };
  main->Save();
  EXPECT_EQ(main->Settings().LastFile(), dir / "plant.opc");
  EXPECT_EQ(dir.Read("plant.opc").rfind("object OPCServer: TKoplServer\r\n", 0), 0u);

  main->NewSession();
  dialogs.open_file = [&](std::string& f) {
    f = dir / "plant.opc";
    return true;
  };
  main->Open();
  EXPECT_TRUE(Server().Active());  // the file said Active = True
  EXPECT_EQ(main->ServerText(), kopl::testing::kScriptedProgId);
  EXPECT_EQ(Inspector().GroupNodes(), Names{"Default"});
  ASSERT_EQ(Inspector().RowCount(), 2);
  EXPECT_EQ(Inspector().Row(1).ItemId, "A.Temp");
  EXPECT_TRUE(Inspector().Row(0).Item->Added());
  EXPECT_EQ(Slept(), 300u);  // the connect delay, because the groups hold items

  // The next save starts from the opened file's name.
  dialogs.asked.clear();
  dialogs.save_file = nullptr;
  main->Save();
  EXPECT_EQ(dialogs.asked, Names{"Save " + (dir / "plant.opc")});
}

TEST_F(MainModelTest, SaveThatFailsRecordsNoFile) {
  dialogs.save_file = [&](std::string& f) {
    f = dir / "missing/plant.opc";
    return true;
  };
  EXPECT_THROW(main->Save(), kopl::EFileStreamError);
  EXPECT_EQ(main->Settings().LastFile(), "");
}

TEST_F(MainModelTest, OpenLastSaved) {
  // Nothing recorded: only an empty session.
  BuildSession();
  main->OpenLastSaved();
  EXPECT_EQ(Server().OPCGroups().Count(), 0);
  EXPECT_FALSE(Server().Active());
  EXPECT_EQ(inspector_shown, 0);

  BuildSession();
  dialogs.save_file = [&](std::string& f) {
    f = dir / "last.opc";
    return true;
  };
  main->Save();
  main->NewSession();
  main->OpenLastSaved();
  EXPECT_TRUE(Server().Active());
  EXPECT_EQ(Inspector().RowCount(), 2);
  EXPECT_EQ(inspector_shown, 1);
}

TEST_F(MainModelTest, LastConfigIsWrittenOnCloseOnlyWhileConnected) {
  main->Close();
  EXPECT_FALSE(dir.Exists(kLastConfigFile));
  EXPECT_THROW(main->LoadLastConfig(), kopl::EFileStreamError);

  BuildSession();
  main->Close();
  ASSERT_TRUE(dir.Exists(kLastConfigFile));
  const std::string saved = dir.Read(kLastConfigFile);

  // Closing again while disconnected leaves the file as it is.
  main->Disconnect();
  Inspector().RemoveAllGroups();
  main->Close();
  EXPECT_EQ(dir.Read(kLastConfigFile), saved);

  main->LoadLastConfig();
  EXPECT_TRUE(Server().Active());
  EXPECT_EQ(Inspector().RowCount(), 2);
  EXPECT_EQ(main->ServerText(), kopl::testing::kScriptedProgId);
  EXPECT_EQ(inspector_shown, 1);
}

TEST_F(MainModelTest, CloseSwallowsAFailedSave) {
  TMainModel::Options o;
  o.settings_path = dir / "Feddra.ini";
  o.last_config = dir / "missing/Feddra_LastConfig.opc";
  o.apartment = &apartment;
  o.clock = &clock;
  main = std::make_unique<TMainModel>(dialogs, messages, o);
  ConnectScripted();
  EXPECT_NO_THROW(main->Close());
}

TEST_F(MainModelTest, BrokenSessionFilesRaiseAfterTheOldSetUpIsGone) {
  dir.Write("other.txt", "[SERVER]\r\nLAST=x\r\n");
  dir.Write("broken.opc",
            "object OPCServer: TKoplServer\r\n"
            "  OPCGroups = <\r\n"
            "    item\r\n"
            "      Name = 'Read before the error'\r\n"
            "    end>\r\n"
            "  NoSuchProperty = 1\r\n"
            "end\r\n");
  struct Row {
    const char* file;
    Names groups;
  } rows[] = {{"other.txt", {}}, {"broken.opc", {"Read before the error"}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    BuildSession();
    dialogs.open_file = [&](std::string& f) {
      f = dir / r.file;
      return true;
    };
    EXPECT_THROW(main->Open(), kopl::Exception);
    EXPECT_FALSE(Server().Active());
    EXPECT_EQ(Inspector().GroupNodes(), r.groups);
    EXPECT_EQ(main->Settings().LastFile(), "");
  }
}

TEST_F(MainModelTest, ItemsToInspectorGoToThePickedGroup) {
  Inspector().AddItemsToGroup("Default", {});
  Names offered;
  dialogs.select_group = [&](const Names& names) {
    offered = names;
    return std::string("Default");
  };
  main->AddItemsToInspector({"A.Level"});
  EXPECT_EQ(offered, Names{"Default"});
  EXPECT_EQ(Inspector().RowCount(), 1);
  dialogs.select_group = nullptr;  // Cancel
  main->AddItemsToInspector({"A.Temp"});
  EXPECT_EQ(Inspector().RowCount(), 1);
}

TEST_F(MainModelTest, InfoBoxHasFourLinesSeparatedByCarriageReturns) {
  main->Info();
  ASSERT_EQ(messages.boxes.size(), 1u);
  EXPECT_EQ(messages.boxes[0].kind, platform::MessageKind::Plain);
  EXPECT_EQ(messages.boxes[0].buttons, platform::MessageButtons::Ok);
  const std::string& text = messages.boxes[0].text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 3);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_NE(text.find("\r23.01.06\r\r"), std::string::npos);
}

TEST_F(MainModelTest, SettingsFileKeepsBothKeys) {
  main->Settings().SetLastFile("/home/user/plant.opc");
  main->Settings().SetLastServer("Vendor.Server.1");
  main->Settings().SetLastFile("/home/user/other.opc");
  EXPECT_EQ(Ini(), "[FILE]\r\nLAST=/home/user/other.opc\r\n[SERVER]\r\nLAST=Vendor.Server.1\r\n");
  EXPECT_EQ(TExplorerSettings(dir / "none.ini").LastFile(), "");
}

}  // namespace
}  // namespace explorer::testing
