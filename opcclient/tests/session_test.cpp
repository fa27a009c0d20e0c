// Session files: the text form written and read back, its checks and its errors.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"
#include "platform/testing/temp_dir.h"

namespace kopl::testing {
namespace {

std::string Crlf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const std::string kExample = Crlf(R"(object OPCServer: TKoplServer
  BatchMode = False
  ServerName = 'Qar.OPC_DA_Server_RM.1'
  OPCGroups = <
    item
      Name = 'TKoplGroup0'
      IsActive = True
      UpdateRate = 1000
      LocaleId = 0
      TimeBias = 0
      DefaultItem.RequestDataType = vtEMPTY
      OPCItems = <
        item
          ItemID = 'Station1.Value1'
          IsActive = True
          RequestDatatype = vtEMPTY
        end>
    end>
  OPCGroupDefault.IsActive = True
  OPCGroupDefault.UpdateRate = 1000
  OPCGroupDefault.LocaleId = 0
  OPCGroupDefault.TimeBias = 0
  Active = True
  Version = '1.40'
  ConnectDelay = 300
  Left = 464
end
)");

class SessionTest : public KoplTest {
 protected:
  void SetUp() override {
    KoplTest::SetUp();
    ServerRegistration r;
    r.clsid = kScriptedClsid;
    r.prog_id = "Qar.OPC_DA_Server_RM.1";
    platform::Registry reg;
    ASSERT_TRUE(RegisterServer(r, reg));
    Know({"Station1.Value1"});
  }
  std::string Save(TKoplServer& s) {
    std::string out;
    s.SaveToStream(out);
    return out;
  }
};

TEST_F(SessionTest, TheExampleLoadsConnectsAndSavesByteForByte) {
  auto s = MakeServer();
  s->LoadFromStream(kExample);
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(s->ServerName(), "Qar.OPC_DA_Server_RM.1");
  ASSERT_EQ(s->OPCGroups().Count(), 1);
  TKoplGroup& g = s->OPCGroups()[0];
  ASSERT_EQ(g.OPCItems().Count(), 1);
  EXPECT_TRUE(g.OPCItems()[0].Added());
  // The groups and items existed before the connect: one AddItems, and the delay spent.
  EXPECT_EQ(fake->calls, (std::vector<std::string>{"AddGroup TKoplGroup0", "AddItems Station1.Value1"}));
  EXPECT_EQ(Slept(), 300u);
  EXPECT_EQ(Save(*s), kExample);
}

TEST_F(SessionTest, AComponentWithoutANameTakesTheFilesName) {
  struct Row {
    const char* name;
    std::string own_name;
    std::string file_head;
    std::string saved_head;
  } rows[] = {
      {"unnamed takes the file's name", "", "object OPCServer: TKoplServer", "object OPCServer: TKoplServer"},
      {"a name of its own stays", "Mine", "object OPCServer: TKoplServer", "object Mine: TKoplServer"},
      {"a file without a name", "", "object : TKoplServer", "object : TKoplServer"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto s = MakeServer();
    s->SetName(r.own_name);
    s->LoadFromStream(Crlf(r.file_head + "\n  ServerName = 'Test.Scripted.1'\nend\n"));
    const std::string saved = Save(*s);
    EXPECT_EQ(saved.substr(0, saved.find('\r')), r.saved_head);
  }
}

TEST_F(SessionTest, WriterRules) {
  struct Row {
    const char* name;
    std::function<void(TKoplServer&)> set;
    std::vector<std::string> lines;  // each must appear as a whole line
    std::vector<std::string> absent;
  } rows[] = {
      {"no groups", [](TKoplServer&) {}, {"  OPCGroups = <>"}, {"  Left = 0", "  ComputerName = ''"}},
      {"dead band 0 and 0.5",
       [](TKoplServer& s) {
         s.OPCGroups().Add("A");
         s.OPCGroups().Add("B").SetDeadBand(0.5f);
       },
       {"      DeadBand = 0.5"},
       {"      DeadBand = 0"}},
      {"small and large dead bands as decimals",
       [](TKoplServer& s) {
         s.OPCGroups().Add("A").SetDeadBand(1e-5f);
         s.OPCGroups().Add("B").SetDeadBand(0.000125f);
         s.OPCGroupDefault().DeadBand = 1e20f;
       },
       {"      DeadBand = 0.00001", "      DeadBand = 0.000125", "  OPCGroupDefault.DeadBand = 100000002004087734272"},
       {"      DeadBand = 1e-05", "      DeadBand = 1.25e-04"}},
      {"quote and control characters",
       [](TKoplServer& s) { s.OPCGroups().Add("G").OPCItems().Add("it's\r\nhere"); },
       {"          ItemID = 'it'#39's'#13#10'here'"},
       {}},
      {"text that starts with a code", [](TKoplServer& s) { s.SetClientName("\tx"); }, {"  ClientName = #9'x'"}, {}},
      {"defaults of a group's items",
       [](TKoplServer& s) {
         TKoplGroup& g = s.OPCGroups().Add("G");
         g.DefaultItem().IsActive = false;
         g.DefaultItem().AccessPath = "p";
         g.DefaultItem().RequestDataType = OPCADatatype::vtR8;
       },
       {"      DefaultItem.IsActive = False", "      DefaultItem.AccessPath = 'p'",
        "      DefaultItem.RequestDataType = vtR8"},
       {}},
      {"negative numbers and the design position",
       [](TKoplServer& s) {
         s.OPCGroups().Add("G").SetTimeBias(-60);
         s.SetConnectDelay(-1);
         s.Top = 12;
       },
       {"      TimeBias = -60", "  ConnectDelay = -1", "  Top = 12"},
       {"  Left = 0"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto s = MakeServer();
    r.set(*s);
    std::string text = "\r\n" + Save(*s);
    for (const std::string& l : r.lines) EXPECT_NE(text.find("\r\n" + l + "\r\n"), std::string::npos) << l;
    for (const std::string& l : r.absent) EXPECT_EQ(text.find("\r\n" + l + "\r\n"), std::string::npos) << l;
  }
}

TEST_F(SessionTest, DeadBandsAreReadInEitherForm) {
  struct Row {
    const char* text;
    float dead_band;
  } rows[] = {
      {"0.00001", 1e-5f}, {"1e-05", 1e-5f}, {"1E-5", 1e-5f}, {"2.5E+01", 25.0f}, {"12.5", 12.5f}, {"3", 3.0f},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    auto s = MakeServer();
    s->LoadFromStream(Crlf(std::string("object OPCServer: TKoplServer\n  OPCGroups = <\n    item\n      Name = 'G'\n"
                                       "      DeadBand = ") +
                           r.text + "\n    end>\n  OPCGroupDefault.DeadBand = " + r.text + "\nend\n"));
    ASSERT_EQ(s->OPCGroups().Count(), 1);
    EXPECT_EQ(s->OPCGroups()[0].DeadBand(), r.dead_band);
    EXPECT_EQ(s->OPCGroupDefault().DeadBand, r.dead_band);
  }
}

TEST_F(SessionTest, LongTextsAreCutIntoPiecesOfSixtyFour) {
  auto s = MakeServer();
  std::string id;
  for (int i = 0; i < 140; ++i) id += char('a' + i % 26);
  id[70] = '\'';
  s->OPCGroups().Add("G").OPCItems().Add(id);
  std::string text = Save(*s);
  std::string expected = "          ItemID = \r\n            '" + id.substr(0, 64) + "' +\r\n            '" +
                         id.substr(64, 6) + "'#39'" + id.substr(71, 57) + "' +\r\n            '" + id.substr(128) +
                         "'\r\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  auto back = MakeServer();
  back->LoadFromStream(text);
  EXPECT_EQ(back->OPCGroups()[0].OPCItems()[0].ItemID(), id);
}

TEST_F(SessionTest, SaveAndLoadGiveTheSameWorkingSet) {
  auto s = MakeServer();
  s->SetBatchMode(true);
  s->SetComputerName("plant7");
  s->SetClientName("Feddra 'main'");
  s->SetConnectDelay(1500);
  s->OPCGroupDefault().UpdateRate = 250;
  s->OPCGroupDefault().DeadBand = 0.25f;
  TKoplGroup& a = s->OPCGroups().Add("Pumps");
  a.SetIsActive(false);
  a.SetLocaleId(1031);
  a.OPCItems().Add("Z.S1.BE1").SetRequestDatatype(OPCADatatype::vtBOOL);
  TKoplItem& path_item = a.OPCItems().Add("Z.S1.AE1");
  path_item.SetAccessPath("\xC4nderung");  // Windows-1252 text goes through as it is
  path_item.SetIsActive(false);
  s->OPCGroups().Add("Empty");
  std::string first = Save(*s);

  auto back = MakeServer();
  back->LoadFromStream(first);
  EXPECT_FALSE(back->Active());
  EXPECT_EQ(back->ComputerName(), "plant7");
  EXPECT_EQ(back->ClientName(), "Feddra 'main'");
  EXPECT_EQ(back->OPCGroupDefault().DeadBand, 0.25f);
  ASSERT_EQ(back->OPCGroups().Count(), 2);
  TKoplGroup& pumps = back->OPCGroups()[0];
  EXPECT_FALSE(pumps.IsActive());
  EXPECT_EQ(pumps.UpdateRate(), 250);
  ASSERT_EQ(pumps.OPCItems().Count(), 2);
  EXPECT_EQ(pumps.OPCItems()[0].RequestDatatype(), OPCADatatype::vtBOOL);
  EXPECT_EQ(pumps.OPCItems()[1].AccessPath(), "\xC4nderung");
  EXPECT_FALSE(pumps.OPCItems()[1].IsActive());
  EXPECT_EQ(back->OPCGroups()[1].OPCItems().Count(), 0);
  EXPECT_EQ(Save(*back), first);
  EXPECT_TRUE(fake->calls.empty());  // nothing was sent anywhere
}

TEST_F(SessionTest, CollectionsInTheTextReplaceThoseOfTheComponentUnlessEmpty) {
  auto s = MakeServer();
  s->OPCGroups().Add("Kept");
  std::string no_groups = Crlf("object X: TKoplServer\n  OPCGroups = <>\nend\n");
  s->LoadFromStream(no_groups);
  EXPECT_EQ(s->OPCGroups().Count(), 1);
  std::string one = Crlf("object X: TKoplServer\n  OPCGroups = <\n    item\n      Name = 'New'\n    end>\nend\n");
  s->LoadFromStream(one);
  ASSERT_EQ(s->OPCGroups().Count(), 1);
  EXPECT_EQ(s->OPCGroups()[0].Name(), "New");
}

TEST_F(SessionTest, LoadingIntoAnOpenConnectionFollowsTheActiveLine) {
  auto s = MakeServer();
  int disconnects = 0;
  s->OnDisconnect = [&](TKoplServer*) { ++disconnects; };
  s->SetActive(true);
  std::string text = kExample;
  text.replace(text.find("\r\n  Active = True"), 17, "\r\n  Active = False");
  s->LoadFromStream(text);
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(fake->LiveGroups(), 0u);
  s->SetActive(true);
  EXPECT_TRUE(s->OPCGroups()[0].OPCItems()[0].Added());
}

TEST_F(SessionTest, OnlyTextsThatNameTheClassEarlyAreSessions) {
  std::string padded = std::string(289, ' ') + "TKOPLSERVER";  // ends at byte 300
  std::string late = std::string(288, ' ') + "tkoplserver";    // ends at byte 299
  EXPECT_NO_THROW(TKoplServer::CheckSessionFile("object a: tKoplServer"));
  try {
    TKoplServer::CheckSessionFile(padded);
    ADD_FAILURE() << "no exception";
  } catch (const EOPCException&) {
    ADD_FAILURE() << "not the base exception";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "wrong fileformat");
  }
  EXPECT_NO_THROW(TKoplServer::CheckSessionFile(late));

  platform::testing::TempDir dir;
  dir.Write("old.opc", padded);
  auto s = MakeServer();
  s->OPCGroups().Add("Mine");
  EXPECT_THROW(s->LoadFromFile(dir / "old.opc"), Exception);
  EXPECT_EQ(s->OPCGroups()[0].Name(), "Mine");
}

TEST_F(SessionTest, BadTextsNameTheirLine) {
  struct Row {
    const char* name;
    std::string text;
    int line;
  } rows[] = {
      {"unknown property", "object X: TKoplServer\n  BatchMode = False\n  Colour = 3\nend\n", 3},
      {"wrong value kind", "object X: TKoplServer\n  ConnectDelay = 'slow'\nend\n", 2},
      {"unknown data type",
       "object X: TKoplServer\n  OPCGroups = <\n    item\n      DefaultItem.RequestDataType = vtWHAT\n    end>\nend\n", 4},
      {"number out of range", "object X: TKoplServer\n  ConnectDelay = 99999999999\nend\n", 2},
      {"unterminated string", "object X: TKoplServer\n  ServerName = 'abc\nend\n", 2},
      {"missing end", "object X: TKoplServer\n  BatchMode = True\n", 3},
      {"other class", "object X: TForm\nend\n", 1},
      {"no object", "\n\nitem\n", 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto s = MakeServer();
    try {
      s->LoadFromStream(Crlf(r.text));
      ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Line(), r.line) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("Error in line " + std::to_string(r.line) + ": ", 0), 0u) << e.what();
    }
    EXPECT_FALSE(s->Loading());
  }
}

TEST_F(SessionTest, PropertiesBeforeAnErrorStayAndNothingConnects) {
  auto s = MakeServer();
  std::string text = Crlf("object X: TKoplServer\n  Active = True\n  ClientName = 'kept'\n  Bogus = 1\nend\n");
  EXPECT_THROW(s->LoadFromStream(text), EReadError);
  EXPECT_EQ(s->ClientName(), "kept");
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(activations, 0);
}

TEST_F(SessionTest, FilesAreWrittenWholeOrNotAtAll) {
  platform::testing::TempDir dir;
  auto s = MakeServer();
  s->OPCGroups().Add("G").OPCItems().Add("Station1.Value1");
  s->SaveToFile(dir / "a.opc");
  auto back = MakeServer();
  back->LoadFromFile(dir / "a.opc");
  EXPECT_EQ(back->OPCGroups()[0].OPCItems()[0].ItemID(), "Station1.Value1");
  EXPECT_EQ(dir.Read("a.opc"), Save(*s));
  EXPECT_THROW(s->SaveToFile(dir / "missing/b.opc"), EFileStreamError);
  EXPECT_THROW(back->LoadFromFile(dir / "missing.opc"), EFileStreamError);
}

}  // namespace
}  // namespace kopl::testing
