#include "configurator/main_logic.h"

#include <gtest/gtest.h>

#include <functional>

#include "configurator/station_editor.h"
#include "configurator/tests/install.h"
#include "configurator/zfm_editor.h"

namespace configurator {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;

const std::string kTitle = "Konfigurationsprogramm f\xFCr Qar OPC Data Access Server f\xFCr Funkmodems";

// Runs the dialogs from scripts; a dialog without a script is cancelled.
class FakeView : public TMainView {
 public:
  void TranslateWindow() override { ++translations; }
  bool RunProjectNameDialog() override {
    ++projectNameDialogs;
    return projectName && projectName();
  }
  bool RunCentralModemDialog(TZFMEditor& e) override {
    e.Activate();
    return zfm && zfm(e);
  }
  bool RunStationDialog(TStationEditor& e) override {
    e.Activate();
    return station && station(e);
  }
  std::string AskOpenFile(const std::string& folder) override {
    askedFolder = folder;
    return openFile;
  }
  std::string AskSaveFile(const std::string& folder, const std::string& file) override {
    askedFolder = folder;
    askedFile = file;
    return saveFile;
  }
  std::vector<std::string> MachinePorts() override { return {}; }

  int translations = 0;
  int projectNameDialogs = 0;
  std::function<bool()> projectName;
  std::function<bool(TZFMEditor&)> zfm;
  std::function<bool(TStationEditor&)> station;
  std::string openFile, saveFile, askedFolder, askedFile;
};

const platform::Clock::TimePoint kNow{std::chrono::seconds{1'700'000'000}};

class MainLogicTest : public ::testing::Test, public testing::Installation {
 protected:
  // The program up to its first tick, with the settings written before.
  void Start(const std::string& settings = "") {
    if (!settings.empty()) dir.Write("CONFIG.CFG", settings);
    core = StartCore();
    ASSERT_NE(core, nullptr);
    logic = std::make_unique<TMainLogic>(*core, view);
    logic->Show();
    logic->Tick(kNow);
  }
  TProject& Project() { return core->Project; }
  // New with a project name and a central modem of mode 1 named Zentrale.
  void NewProject(const std::string& name, int type = 1) {
    view.projectName = [this, name] { return AcceptProjectName(Project(), name); };
    view.zfm = [type](TZFMEditor& e) {
      e.Name = "Zentrale";
      e.TypeChange(type);
      return e.Ok();
    };
    logic->New();
  }
  // Inserts a station below parent through the station dialog.
  TStationNode* Insert(TStationNode* parent, const std::string& name) {
    logic->Select(parent);
    view.station = [name](TStationEditor& e) {
      e.Name = name;
      return e.Ok();
    };
    logic->Insert();
    return Project().Tree.Selected();
  }
  TStationNode* Root() { return Project().Tree.Root(); }
  std::string Outline() {
    std::string s;
    for (TStationNode* n = Project().Tree.Next(nullptr); n; n = Project().Tree.Next(n))
      s += std::string(size_t(n->Level()), ' ') + n->Text() + "\n";
    return s;
  }

  FakeView view;
  std::unique_ptr<TConfiguratorCore> core;
  std::unique_ptr<TMainLogic> logic;
};

TEST_F(MainLogicTest, FirstTickLoadsTheTextsAndShowsNoProject) {
  Start();
  EXPECT_FALSE(logic->Terminated);
  EXPECT_FALSE(logic->StartupPending);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(view.translations, 1);
  EXPECT_EQ(logic->ProgramTitle, kTitle);
  EXPECT_EQ(logic->Caption, kTitle + " - kein Projekt ge\xF6" "ffnet");
  EXPECT_TRUE(logic->BackgroundShown);
  EXPECT_EQ(logic->LastActiveCaption, "Unbekannt");
  EXPECT_FALSE(logic->LastActiveEnabled);
  EXPECT_EQ(logic->ModeNames, (std::array<std::string, 3>{"ISM", "MoP", "n\xF6" "DatFu"}));
  EXPECT_EQ(logic->Grid.Cell(5, 0), "Nachkomma");
  EXPECT_EQ(logic->Clock, "22:13, 14.11.2023");
  EXPECT_EQ(logic->Commands, TCommandStates{});
  EXPECT_EQ(logic->Details.Shows, TDetailView::None);

  logic->Tick(kNow + std::chrono::minutes(2));  // later ticks run no start-up again
  EXPECT_EQ(view.translations, 1);
  EXPECT_EQ(logic->Clock, "22:15, 14.11.2023");
}

TEST_F(MainLogicTest, FirstTickEndsTheProgramWithoutTextsOrDeviceTypes) {
  struct Row {
    const char* name;
    std::function<void(platform::testing::TempDir&)> spoil;
    std::function<std::string(platform::testing::TempDir&)> box;
  } rows[] = {
      {"no language file set", [](auto& d) { d.Write("CONFIG.CFG", "[ALLGEMEIN]\r\nSPRACHE=\r\n"); },
       [](auto&) { return std::string("Die Sprachdatei fehlt."); }},
      {"language file missing", [](auto& d) { d.Write("CONFIG.CFG", "[ALLGEMEIN]\r\nSPRACHE=E.spr\r\n"); },
       [](auto& d) { return "Die Sprachdatei fehlt.\r" + d / "E.spr"; }},
      {"module table too short",
       [](auto& d) { d.Write("Brindel.FML", "[ZENTRALFUNKMODEM]\r\nTYP=Z\r\n[UNTERSTATIONEN]\r\nTYP=S\r\n[ERWEITERUNGSMODULE]\r\nTYP=-\r\n"); },
       [](auto&) { return std::string("Die Ger\xE4tetabelle ist unvollst\xE4ndig."); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    testing::Installation other;
    r.spoil(other.dir);
    auto c = other.StartCore();
    TMainLogic l(*c, view);
    l.Tick(kNow);
    EXPECT_TRUE(l.Terminated);
    EXPECT_EQ(other.boxes.Texts(), std::vector<std::string>{r.box(other.dir)});
  }
}

TEST_F(MainLogicTest, RecentProjectsComeFromTheSettings) {
  Start("[ALLGEMEIN]\r\nLETZE AKTIVE KONFIGURATION=/p/Data/A\r\nZULETZT VERWENDET0=/p/Data/A\r\n"
        "ZULETZT VERWENDET2=/p/Data/C\r\nZULETZT VERWENDET5=/p/Data/F\r\n");
  EXPECT_EQ(logic->RecentItems, (std::vector<std::string>{"/p/Data/A", "/p/Data/C", "/p/Data/F"}));
  EXPECT_EQ(logic->LastActiveCaption, "/p/Data/A");
  EXPECT_TRUE(logic->LastActiveEnabled);
}

TEST_F(MainLogicTest, NewAsksForANameAndACentralModem) {
  Start();
  NewProject("Anlage");
  EXPECT_FALSE(logic->BackgroundShown);
  EXPECT_EQ(logic->Caption, kTitle + " - [Anlage]");
  EXPECT_TRUE(Project().ProjectOpen);
  EXPECT_TRUE(Project().ServerIniEnabled);
  EXPECT_TRUE(Project().Modified);
  EXPECT_EQ(Project().Tree.Selected(), Root());
  EXPECT_EQ(logic->Details.Shows, TDetailView::CentralModem);
  EXPECT_EQ(logic->Details.Mode, "MoP");
  EXPECT_EQ(logic->TreeFocusRequests, 1u);
  EXPECT_EQ(logic->Commands, (TCommandStates{.Save = true, .SaveAs = true, .RadioModemMenu = true, .Insert = true,
                                             .Edit = true, .Delete = false}));
}

TEST_F(MainLogicTest, ACancelledNewLeavesThingsAsTheyWere) {
  Start();
  view.projectName = [this] { return AcceptProjectName(Project(), "Neu"); };
  logic->New();  // no central modem confirmed
  EXPECT_TRUE(Project().Tree.Empty());
  EXPECT_FALSE(Project().ProjectOpen);
  EXPECT_TRUE(logic->BackgroundShown);

  NewProject("Anlage");
  view.projectName = [this] {
    Project().ProjectPath.clear();  // the dialog's Cancel
    return false;
  };
  boxes.answers = {MessageAnswer::No};
  logic->New();
  EXPECT_EQ(Project().ProjectPath, "Anlage");
  EXPECT_FALSE(logic->BackgroundShown);
  EXPECT_EQ(logic->Caption, kTitle + " - [Anlage]");
  EXPECT_NE(Root(), nullptr);
}

TEST_F(MainLogicTest, NewStopsWhenTheChangesCannotBeSaved) {
  Start();
  NewProject("Anlage");
  Project().ProjectPath = dir / "fehlt/Anlage";  // saved as into a folder that has gone since
  view.projectName = nullptr;
  boxes.answers = {MessageAnswer::Yes};
  logic->New();
  EXPECT_EQ(view.projectNameDialogs, 1);
  EXPECT_EQ(boxes.boxes[0].kind, MessageKind::Warning);
  EXPECT_EQ(boxes.Texts()[0], "Das Projekt " + dir / "fehlt/Anlage" + " wurde ge\xE4ndert.\rSollen die \xC4nderungen gespeichert werden?");
  EXPECT_EQ(boxes.Texts()[1], "Die Projektdatei wurde nicht geschrieben.\r" + dir / "fehlt/Anlage.INI (Err=2)");
  EXPECT_NE(Root(), nullptr);
}

TEST_F(MainLogicTest, SaveAsksBeforeOverwritingAndKeepsTheRecentList) {
  Start("[ALLGEMEIN]\r\nLETZE AKTIVE KONFIGURATION=" + dir / "Data/Anlage" +
        "\r\nZULETZT VERWENDET0=/r/0\r\nZULETZT VERWENDET1=/r/1\r\nZULETZT VERWENDET2=/r/2\r\n"
        "ZULETZT VERWENDET3=/r/3\r\nZULETZT VERWENDET4=/r/4\r\nZULETZT VERWENDET5=/r/5\r\n");
  NewProject("Anlage");
  logic->Save();
  const std::string path = dir / "Data/Anlage";
  EXPECT_TRUE(boxes.boxes.empty()) << "a new file is written without a question";
  EXPECT_TRUE(dir.Exists("Data/Anlage.INI"));
  EXPECT_FALSE(Project().Modified);
  EXPECT_EQ(core->Config.Recent, (std::array<std::string, 6>{path, "/r/0", "/r/1", "/r/2", "/r/3", "/r/4"}));
  EXPECT_EQ(logic->RecentItems.size(), 7u) << "the menu keeps what it had";
  EXPECT_EQ(logic->RecentItems.front(), path);
  EXPECT_EQ(logic->LastActiveCaption, "Unbekannt") << "saving the last active project clears the entry";
  EXPECT_EQ(core->Config.LastActive, "");
  EXPECT_EQ(logic->Caption, kTitle + " - [" + path + "]");

  Project().Modified = true;
  boxes.answers = {MessageAnswer::No};
  logic->Save();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Das Projekt Anlage gibt es schon. Soll es \xFC" "berschrieben werden?"});
  EXPECT_TRUE(Project().Modified);
  boxes.answers = {MessageAnswer::Yes};
  logic->Save();
  EXPECT_FALSE(Project().Modified);
  EXPECT_EQ(logic->RecentItems.size(), 7u) << "a project already in the list adds nothing";
}

TEST_F(MainLogicTest, SaveAsTakesTheChosenFileWithoutItsExtension) {
  Start();
  NewProject("Anlage");
  struct Row {
    std::string chosen, path;
  } rows[] = {{dir / "Data/Nord.ini", dir / "Data/Nord"}, {dir / "Data/Sued.INI", dir / "Data/Sued"},
              {dir / "Data/West.v2", dir / "Data/West.v2"}};
  for (const Row& r : rows) {
    view.saveFile = r.chosen;
    logic->SaveAs();
    EXPECT_EQ(view.askedFolder, dir / "Data/");
    EXPECT_EQ(Project().ProjectPath, r.path);
    EXPECT_TRUE(dir.Exists(r.path.substr(dir.Path().size()) + ".INI")) << r.path;
  }
  EXPECT_EQ(view.askedFile, dir / "Data/Sued.INI");
}

TEST_F(MainLogicTest, OpenLoadsTheChosenProject) {
  Start();
  NewProject("Anlage");
  TStationNode* s = Insert(Root(), "Brunnen");
  Insert(s, "Hochbeh\xE4lter");
  logic->Save();
  view.openFile = dir / "Data/Anlage.ini";
  logic->Open();
  EXPECT_EQ(Outline(), "Zentrale\n Brunnen\n  Hochbeh\xE4lter\n");
  EXPECT_FALSE(logic->BackgroundShown);
  EXPECT_EQ(logic->Caption, kTitle + " - kein Projekt ge\xF6" "ffnet") << "the caption waits for the first save";
  EXPECT_EQ(logic->ExpandAllRequests, 1u);
  EXPECT_TRUE(Project().ProjectOpen);
  EXPECT_EQ(Project().ProjectPath, dir / "Data/Anlage");
  EXPECT_FALSE(Project().Modified);
  EXPECT_EQ(Project().Tree.Selected(), nullptr);
  EXPECT_EQ(logic->Details.Shows, TDetailView::None);
}

TEST_F(MainLogicTest, AProjectThatCannotBeReadIsNotShownAsOpen) {
  Start();
  view.openFile = dir / "Data/Fehlt.ini";
  logic->Open();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Error"});
  EXPECT_TRUE(logic->BackgroundShown);
  EXPECT_FALSE(Project().ProjectOpen);
  EXPECT_TRUE(logic->RecentItems.empty());
}

TEST_F(MainLogicTest, RecentEntriesOpenTheirProject) {
  Start();
  NewProject("Anlage");
  logic->Save();
  view.projectName = [this] { return AcceptProjectName(Project(), "Leer"); };
  view.zfm = nullptr;
  logic->New();  // cancelled at the central modem: no project
  logic->OpenRecent("Unbekannt");
  logic->OpenRecent("");
  EXPECT_TRUE(Project().Tree.Empty());
  logic->OpenRecent(dir / "Data/Anlage");
  EXPECT_EQ(Outline(), "Zentrale\n");
  EXPECT_FALSE(logic->Busy);
}

TEST_F(MainLogicTest, ServerIniIsWrittenBesideTheProgram) {
  Start();
  NewProject("Anlage");
  logic->Save();
  Project().Modified = true;
  boxes.answers = {MessageAnswer::No};  // the project itself is not overwritten
  logic->CreateServerIni();
  EXPECT_TRUE(dir.Exists("Ostrel.INI"));
  EXPECT_EQ(boxes.Texts().back(), "Ostrel.INI wurde in " + dir.Path() + " geschrieben.");
  EXPECT_EQ(logic->LastActiveCaption, dir / "Data/Anlage");
  EXPECT_TRUE(Project().Modified) << "its changes are still to be saved";
}

TEST_F(MainLogicTest, CloseQuery) {
  struct Row {
    const char* name;
    bool modified;
    MessageAnswer answer;
    bool closes, saved;
  } rows[] = {
      {"nothing changed", false, MessageAnswer::Ok, true, false},
      {"abort", true, MessageAnswer::Abort, false, false},
      {"no", true, MessageAnswer::No, true, false},
      {"yes", true, MessageAnswer::Yes, true, true},
  };
  Start();
  NewProject("Anlage");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::remove((dir / "Data/Anlage.INI").c_str());
    boxes.boxes.clear();
    Project().Modified = r.modified;
    boxes.answers = {r.answer};
    EXPECT_EQ(logic->CloseQuery(), r.closes);
    EXPECT_EQ(boxes.boxes.size(), r.modified ? 1u : 0u);
    if (r.modified) {
      EXPECT_EQ(boxes.boxes[0].buttons, MessageButtons::YesNoAbort);
    }
    EXPECT_EQ(dir.Exists("Data/Anlage.INI"), r.saved);
  }
}

TEST_F(MainLogicTest, InsertFollowsTheNestingRules) {
  Start();
  NewProject("Anlage", 1);
  TStationNode* a = Insert(Root(), "A");
  TStationNode* a1 = Insert(a, "A1");
  TStationNode* a11 = Insert(a1, "A11");
  EXPECT_EQ(Outline(), "Zentrale\n A\n  A1\n   A11\n");
  EXPECT_EQ(a11->Station()->Parent1, a1->Station()->Address);
  EXPECT_EQ(a11->Station()->Parent2, a->Station()->Address);
  EXPECT_EQ(logic->Details.Name, "A11");
  boxes.boxes.clear();
  logic->Select(a11);
  logic->Insert();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Hier kann keine Station eingef\xFCgt werden."});

  testing::Installation flatInstall;
  auto flatCore = flatInstall.StartCore();
  TMainLogic flat(*flatCore, view);
  flat.Tick(kNow);
  view.projectName = [&] { return AcceptProjectName(flatCore->Project, "Flach"); };
  view.zfm = [](TZFMEditor& e) {
    e.Name = "Z";
    return e.Ok();  // type 0: mode 0
  };
  flat.New();
  view.station = [](TStationEditor& e) { return e.Ok(); };
  flat.Insert();
  TStationNode* s = flatCore->Project.Tree.Selected();
  ASSERT_NE(s, flatCore->Project.Tree.Root());
  EXPECT_FALSE(flat.Commands.Insert);
  flat.Insert();
  EXPECT_EQ(flatInstall.boxes.Texts(), std::vector<std::string>{"Hier kann keine Station eingef\xFCgt werden."});
}

TEST_F(MainLogicTest, InsertWithoutACurrentNode) {
  Start();
  logic->Insert();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Bitte zuerst ein Funkmodem ausw\xE4hlen."});
}

TEST_F(MainLogicTest, DeleteAsksAndFreesTheBranch) {
  Start();
  NewProject("Anlage");
  TStationNode* a = Insert(Root(), "A");
  Insert(a, "A1");
  TStationNode* b = Insert(Root(), "B");
  const int32_t addressB = b->Station()->Address;
  logic->Select(Root());
  logic->Delete();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Das Zentralfunkmodem kann nicht gel\xF6scht werden."});

  boxes.boxes.clear();
  Project().Modified = false;
  logic->Select(a);
  boxes.answers = {MessageAnswer::No};
  logic->Delete();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Die Unterstationen werden mit gel\xF6scht.\rSoll A gel\xF6scht werden?"});
  EXPECT_EQ(Outline(), "Zentrale\n A\n  A1\n B\n");
  logic->Delete();
  EXPECT_EQ(Outline(), "Zentrale\n B\n");
  EXPECT_TRUE(Project().Modified);
  EXPECT_EQ(Project().Tree.Selected(), Root());
  EXPECT_EQ(Project().Addresses().FirstFree(), 1);
  EXPECT_FALSE(Project().Addresses().IsFree(addressB));
  logic->Select(b);
  logic->Delete();
  EXPECT_EQ(boxes.Texts().back(), "Soll B gel\xF6scht werden?");
}

TEST_F(MainLogicTest, EditRenamesTheNodeAndCancelChangesNothing) {
  Start();
  NewProject("Anlage");
  TStationNode* a = Insert(Root(), "A");
  view.station = [](TStationEditor& e) {
    EXPECT_EQ(e.Name, "A");
    e.Name = "Alpha";
    return e.Ok();
  };
  logic->Edit();
  EXPECT_EQ(a->Text(), "Alpha");
  EXPECT_EQ(logic->Details.Name, "Alpha");
  EXPECT_FALSE(Project().StationEditFlag);

  const int32_t address = a->Station()->Address;
  view.station = [](TStationEditor& e) {
    e.AddressIndex = 5;
    return false;
  };
  logic->Edit();
  EXPECT_EQ(a->Station()->Address, address);
  EXPECT_FALSE(Project().Addresses().IsFree(address));

  logic->Select(Root());
  view.zfm = [](TZFMEditor& e) {
    e.Name = "Mitte";
    return e.Ok();
  };
  logic->Edit();
  EXPECT_EQ(Root()->Text(), "Mitte");
}

TEST_F(MainLogicTest, KeysRunTheirCommandsOnlyWhenEnabledButAreAlwaysTaken) {
  Start();
  NewProject("Anlage");
  logic->Select(Root());
  EXPECT_TRUE(logic->KeyDown(TTreeKey::Delete));  // disabled on the root: no message 6
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_FALSE(logic->KeyDown(TTreeKey::Other));
  view.station = [](TStationEditor& e) { return e.Ok(); };
  EXPECT_TRUE(logic->KeyDown(TTreeKey::Insert));
  EXPECT_EQ(Outline(), "Zentrale\n Station\n");
  int edits = 0;
  view.station = [&](TStationEditor&) {
    ++edits;
    return false;
  };
  EXPECT_TRUE(logic->KeyDown(TTreeKey::Enter));
  EXPECT_EQ(edits, 1);
}

TEST_F(MainLogicTest, ContextMenuStates) {
  Start();
  EXPECT_EQ(logic->ContextPopup(), TContextStates{});
  NewProject("Anlage", 0);
  EXPECT_EQ(logic->ContextPopup(), (TContextStates{true, true, false}));
  TStationNode* a = Insert(Root(), "A");
  logic->Select(a);
  EXPECT_EQ(logic->ContextPopup(), (TContextStates{false, true, true}));
}

TEST_F(MainLogicTest, DragAndDropMovesAStationWithoutChildren) {
  Start();
  NewProject("Anlage", 1);
  TStationNode* c = Insert(Root(), "C");
  TStationNode* b = Insert(Root(), "B");
  TStationNode* b1 = Insert(b, "B1");
  TStationNode* b11 = Insert(b1, "B11");
  TStationNode* a = Insert(Root(), "A");
  const int32_t addressA = a->Station()->Address;
  struct Row {
    const char* name;
    TStationNode* source;
    TStationNode* target;
    int beeps;
  } rows[] = {
      {"no target", c, nullptr, 0},
      {"onto itself", c, c, 0},
      {"station with children", b, c, 1},
      {"onto the third level", c, b11, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    boxes.beeps = 0;
    logic->Select(r.source);
    Project().Modified = false;
    logic->EndDrag(r.target);
    EXPECT_EQ(boxes.beeps, r.beeps);
    EXPECT_FALSE(Project().Modified);
    EXPECT_EQ(Outline(), "Zentrale\n C\n B\n  B1\n   B11\n A\n");
  }
  logic->Select(a);
  logic->EndDrag(b1);
  EXPECT_EQ(Outline(), "Zentrale\n B\n  B1\n   A\n   B11\n C\n") << "sorted again";
  EXPECT_TRUE(Project().Modified);
  TStationNode* moved = Project().Tree.Selected();
  EXPECT_EQ(moved->Text(), "A");
  EXPECT_EQ(moved->Station()->Address, addressA);
  EXPECT_FALSE(Project().Addresses().IsFree(addressA)) << "the moved station keeps its address";
}

TEST_F(MainLogicTest, DragAndDropKeepsStationsFlatWithoutNesting) {
  Start();
  NewProject("Anlage", 0);
  TStationNode* a = Insert(Root(), "A");
  TStationNode* b = Insert(Root(), "B");
  logic->Select(a);
  logic->EndDrag(b);
  EXPECT_EQ(boxes.beeps, 1);
  EXPECT_EQ(Outline(), "Zentrale\n A\n B\n");
}

TEST_F(MainLogicTest, AStationShowsItsCountsAndChannels) {
  Start();
  NewProject("Anlage");
  TStationNode* a = Insert(Root(), "A");  // RM-Kompakt: 1 AA, 2 AE, 2 BA, 4 BE
  a->Station()->Channels.erase(a->Station()->Channels.begin());
  logic->Select(Root());
  logic->Select(a);
  EXPECT_EQ(logic->Details.Shows, TDetailView::Station);
  EXPECT_EQ(logic->Details.Type, "RM-Kompakt");
  EXPECT_EQ(logic->Details.AnalogOut, "---");
  EXPECT_EQ(logic->Details.AnalogIn, "2");
  EXPECT_EQ(logic->Details.DigitalIn, "4");
  EXPECT_TRUE(logic->GridVisible);
  EXPECT_EQ(logic->Grid.RowCount(), 9);
  EXPECT_EQ(logic->Grid.Cell(0, 1), "AnaIn 1");
  EXPECT_EQ(logic->Grid.Cell(0, 3), "DigOut 1");
  EXPECT_EQ(logic->Grid.Cell(1, 3), "DO1");

  // A cell still being edited is taken when another node is shown.
  logic->Grid.SetCellText(1, 1, "Pegel");
  logic->Select(Root());
  EXPECT_EQ(a->Station()->Channels[0].Name, "Pegel");
  EXPECT_FALSE(logic->GridVisible);
  EXPECT_EQ(logic->Details.Shows, TDetailView::CentralModem);
}

}  // namespace
}  // namespace configurator
