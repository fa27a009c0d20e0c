#include "configurator/project.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <functional>

#include "configurator/project_file.h"
#include "configurator/tests/fixture.h"
#include "platform/cp1252.h"
#include "platform/files.h"
#include "platform/replace_file.h"

namespace configurator {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageKind;
using testing::ConfiguratorTest;
using testing::DataFile;
using testing::ReadFile;

class ProjectTest : public ConfiguratorTest {
 protected:
  // Loads text as the project "p" in the data folder, into a fresh tree.
  bool Load(const std::string& text, const std::string& fileName = "p.INI") {
    dir.Write("Data/" + fileName, text);
    project->ResetProject();
    project->ProjectPath = dir / "Data/p";
    return project->LoadProject();
  }
  TFuMo* Find(const std::string& name) {
    for (TStationNode* n = project->Tree.Next(nullptr); n; n = project->Tree.Next(n))
      if (n->Text() == name) return n->Station();
    return nullptr;
  }
  TStationNode* Node(const std::string& name) {
    for (TStationNode* n = project->Tree.Next(nullptr); n; n = project->Tree.Next(n))
      if (n->Text() == name) return n;
    return nullptr;
  }
  // Texts of the tree in tree order, each indented by its level.
  std::string Outline() {
    std::string s;
    for (TStationNode* n = project->Tree.Next(nullptr); n; n = project->Tree.Next(n))
      s += std::string(size_t(n->Level()), ' ') + n->Text() + "\n";
    return s;
  }
};

const char* const kHeader =
    "[ZENTRALFUNKMODEM]\r\nTYP=Z,MoP-Modem,7\r\nOption=0,0\r\nRS232=COM1,9600,None,8,1\r\nMODUS=1\r\n\r\n";

TEST_F(ProjectTest, SampleReadsBackAndIsWrittenAgainIdentically) {
  std::string golden = ReadFile(DataFile("sample.INI"));
  ASSERT_TRUE(Load(golden, "p.ini"));  // found whatever the case of its name
  EXPECT_TRUE(messages_service.boxes.empty()) << messages_service.Texts()[0];
  EXPECT_TRUE(project->ProjectOpen);
  EXPECT_EQ(Outline(), "Zentrale S\xFC" "d\n \xC4rztehaus\n Brunnen\n  Hochbeh\xE4lter\n   \xD6lm\xFChle\n   Wei\xDF" "enbach\n Pumpwerk\n");

  const TZFM* zfm = project->Tree.Root()->CentralModem();
  EXPECT_EQ(zfm->Port, "COM2");
  EXPECT_EQ(zfm->BaudRate, serial::br19200);
  EXPECT_EQ(zfm->Parity, serial::prEven);
  EXPECT_EQ(zfm->DataBits, serial::dbSeven);
  EXPECT_EQ(zfm->StopBits, serial::sbTwoStopBits);
  EXPECT_EQ(zfm->ExtraWait, 50);
  EXPECT_EQ(zfm->DeviceType.TypeId, 7);

  const TFuMo* pumpwerk = Find("Pumpwerk");
  ASSERT_NE(pumpwerk, nullptr);
  EXPECT_TRUE(pumpwerk->Relay);
  EXPECT_EQ(pumpwerk->ModuleCount, 2);
  EXPECT_EQ(pumpwerk->Modules[1].Name, "AO-2");
  EXPECT_EQ(pumpwerk->Channels[0].Faktor, -0.25);
  const TFuMo* brunnen = Find("Brunnen");
  EXPECT_EQ(brunnen->OnlineCheck, 1);
  EXPECT_EQ(brunnen->ExtraWait, 120);
  EXPECT_EQ(brunnen->Channels[1].Faktor, 0.1);
  EXPECT_EQ(brunnen->Channels[2].Offset, -50);
  for (int a : {3, 5, 7, 12, 40, 41}) EXPECT_FALSE(project->Addresses().IsFree(a)) << a;

  project->ProjectPath = dir / "Data/again";
  ASSERT_TRUE(project->SaveProject());
  EXPECT_EQ(dir.Read("Data/again.INI"), golden);
}

TEST_F(ProjectTest, ReadingEdgeCases) {
  struct Row {
    const char* name;
    std::string file;
    const char* station;
    double faktor;
    int32_t nks;
    int32_t typeId;
  } rows[] = {
      {"decimals 11 read as 0",
       std::string(kHeader) + "[UNTERSTATIONEN]\r\nTYP=S,RM-Kompakt,0,4,0,0\r\n[ADR004]\r\nKANAL=AE,A,,2,0,11\r\n", "S", 2, 0, 11},
      {"factor above 999999 read as 1",
       std::string(kHeader) + "[UNTERSTATIONEN]\r\nTYP=S,RM-Kompakt,0,4,0,0\r\n[ADR004]\r\nKANAL=AE,A,,1000000,0,3\r\n", "S", 1, 3, 11},
      {"station key found ignoring case",
       std::string(kHeader) + "[UNTERSTATIONEN]\r\nTYP=Pumpe,,0,4,0,0\r\n[KONFIGURATOR]\r\nPUMPE=12\r\n[ADR004]\r\nKANAL=AE,A,,0.1,0,0\r\n",
       "Pumpe", 0.1, 0, 12},
      {"a longer name with a blank is another station",
       std::string(kHeader) + "[UNTERSTATIONEN]\r\nTYP=Pumpe,RM-Kompakt,0,4,0,0\r\n[KONFIGURATOR]\r\nPumpe 2=12\r\nPumpe=11\r\n"
       "[ADR004]\r\nKANAL=AE,A,,1,0,0\r\n",
       "Pumpe", 1, 0, 11},
      {"the key in the station's own case wins over an earlier one in another case",
       std::string(kHeader) + "[UNTERSTATIONEN]\r\nTYP=Nord,RM-Kompakt,0,4,0,0\r\nTYP=NORD,RM-Gro\xDF,0,5,0,0\r\n"
       "[KONFIGURATOR]\r\nNord=11\r\nNORD=12\r\n[ADR005]\r\nKANAL=AE,A,,1,0,0\r\n",
       "NORD", 1, 0, 12},
      {"missing KONFIGURATOR line: type by name",
       std::string(kHeader) + "[UNTERSTATIONEN]\r\nTYP=S,RM-Gro\xDF,0,4,0,0\r\n[ADR004]\r\nKANAL=AE,A\r\n", "S", 1, 0, 12},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    messages_service.boxes.clear();
    ASSERT_TRUE(Load(r.file));
    EXPECT_TRUE(messages_service.boxes.empty());
    const TFuMo* st = Find(r.station);
    ASSERT_NE(st, nullptr);
    ASSERT_EQ(st->Channels.size(), 1u);
    EXPECT_EQ(st->Channels[0].Faktor, r.faktor);
    EXPECT_EQ(st->Channels[0].NKs, r.nks);
    EXPECT_EQ(st->DeviceType.TypeId, r.typeId);
  }
}

TEST_F(ProjectTest, UnknownTypesAreReportedAndTheFirstEntryUsed) {
  ASSERT_TRUE(Load("[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,Funk-X,0\r\nMODUS=0\r\n[UNTERSTATIONEN]\r\n"
                   "TYP=Nord,RM-Alt,0,4,0,0,DI-8,Modul-X\r\n"));
  EXPECT_EQ(messages_service.Texts(),
            (std::vector<std::string>{"Ger\xE4tetyp unbekannt\rZentrale", "Ger\xE4tetyp unbekannt\rNord",
                                      "Ger\xE4tetyp unbekannt\rNord Modul 2"}));
  EXPECT_EQ(project->Tree.Root()->CentralModem()->DeviceType.Name, "ISM-Modem");
  const TFuMo* nord = Find("Nord");
  EXPECT_EQ(nord->DeviceType.Name, "RM-Kompakt");
  EXPECT_EQ(nord->Modules[0].Name, "DI-8");
  EXPECT_EQ(nord->Modules[1].Name, "kein Modul");
}

TEST_F(ProjectTest, ForbiddenCentralModemNameIsLeftEmpty) {
  ASSERT_TRUE(Load("[ZENTRALFUNKMODEM]\r\nTYP=Zentrale.1,MoP-Modem,7\r\n"));
  EXPECT_EQ(project->Tree.Root()->Text(), "");
  EXPECT_EQ(project->Tree.Root()->CentralModem()->ErrorCode, 0);
}

TEST_F(ProjectTest, UnknownSerialTextsTakeTheirFallbacks) {
  ASSERT_TRUE(Load("[ZENTRALFUNKMODEM]\r\nTYP=Z,MoP-Modem,7\r\nRS232=/dev/ttyUSB0,4711,Keine,9,1.5\r\n"));
  const TZFM* zfm = project->Tree.Root()->CentralModem();
  EXPECT_EQ(zfm->Port, "/dev/ttyUSB0");
  EXPECT_EQ(zfm->BaudRate, serial::br9600);
  EXPECT_EQ(zfm->Parity, serial::prNone);
  EXPECT_EQ(zfm->DataBits, serial::dbEight);
  EXPECT_EQ(zfm->StopBits, serial::sbOne5StopBits);
}

TEST_F(ProjectTest, MissingFileIsAnError) {
  project->ProjectPath = dir / "Data/none";
  EXPECT_FALSE(project->LoadProject());
  EXPECT_EQ(messages_service.Texts(), std::vector<std::string>{"Error"});
  EXPECT_FALSE(project->ProjectOpen);
  EXPECT_TRUE(project->Tree.Empty());
}

TEST_F(ProjectTest, BuildStationTreeHangsStationsByTheirParents) {
  struct Row {
    const char* name;
    std::vector<std::string> lines;  // name,type,0,address,parent1,parent2
    const char* outline;
  } rows[] = {
      {"parents given in any order",
       {"C,,0,30,10,20", "B,,0,20,10,0", "A,,0,10,0,0"},
       "Z\n A\n  B\n   C\n"},
      {"parent 1 empty and parent 2 given",
       {"X,,0,9,0,7", "P,,0,7,0,0"},
       "Z\n P\n  X\n"},
      {"unknown parent goes under the root", {"X,,0,9,44,0"}, "Z\n X\n"},
      {"siblings sorted with the German collation",
       {"Zeche,,0,1,0,0", "\xC4u\xDF" "ere,,0,2,0,0", "apfel,,0,3,0,0", "Birke,,0,4,0,0"},
       "Z\n apfel\n \xC4u\xDF" "ere\n Birke\n Zeche\n"},
      {"a parent on level 3 cannot take children",
       {"A,,0,1,0,0", "B,,0,2,1,0", "C,,0,3,1,2", "D,,0,3,0,0", "E,,0,9,5,3"},
       "Z\n A\n  B\n   C\n D\n  E\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    project->ResetProject();
    Root("Z");
    std::vector<std::unique_ptr<TFuMo>> stations;
    for (const std::string& line : r.lines)
      stations.push_back(std::make_unique<TFuMo>(line, "", TStationContext{project->Addresses(), tables, messages}));
    project->BuildStationTree(std::move(stations));
    EXPECT_EQ(Outline(), r.outline);
  }
}

TEST_F(ProjectTest, SaveWithABareNameWritesIntoTheDataFolderAndAsksTheSecondTime) {
  Root("Z");
  project->ProjectPath = "Anlage";
  project->Modified = true;
  EXPECT_TRUE(project->ConfirmOverwrite());
  EXPECT_TRUE(messages_service.boxes.empty());
  ASSERT_TRUE(project->SaveProject());
  EXPECT_EQ(project->ProjectPath, dir / "Data/Anlage");
  EXPECT_TRUE(dir.Exists("Data/Anlage.INI"));
  EXPECT_FALSE(project->Modified);
  EXPECT_EQ(messages_service.waitDepth, 0);

  messages_service.answers = {MessageAnswer::No, MessageAnswer::Yes};
  EXPECT_FALSE(project->ConfirmOverwrite());
  EXPECT_TRUE(project->ConfirmOverwrite());
  ASSERT_EQ(messages_service.boxes.size(), 2u);
  EXPECT_EQ(messages_service.boxes[0].text, "Projekt Anlage \xFC" "berschreiben?");
  EXPECT_EQ(messages_service.boxes[0].buttons, MessageButtons::YesNo);
}

TEST_F(ProjectTest, SaveFailuresAreShownAndKeepTheOldFile) {
  Root("Z");
  struct Row {
    const char* name;
    std::function<std::string()> prepare;  // returns the project path
    std::string message;
    bool bindsRoot;  // permissions do not stop root
  } rows[] = {
      {"folder missing",
       [&] { return dir / "missing/p"; },
       "Datei nicht geschrieben\r" + (dir / "missing/p.INI") + " (Err=2)", true},
      {"a folder nobody may create files in", [] { return std::string("/sys/p"); }, "Zugriff verweigert\r/sys/p.INI",
       true},
      {"file without write permission",
       [&] {
         dir.Write("ro.INI", "old");
         chmod((dir / "ro.INI").c_str(), 0444);
         return dir / "ro";
       },
       "Zugriff verweigert\r" + (dir / "ro.INI"), false},
      {"folder without write permission",
       [&] {
         mkdir((dir / "closed").c_str(), 0555);
         return dir / "closed/p";
       },
       "Zugriff verweigert\r" + (dir / "closed/p.INI"), false},
      {"a channel value no reader could take",
       [&] {
         auto st = Station("S", 1);
         st->Channels.push_back(Channel("AE", "A", "", NAN));
         Add(project->Tree.Root(), std::move(st));
         dir.Write("nan.INI", "old");
         return dir / "nan";
       },
       "Datei nicht geschrieben\r" + (dir / "nan.INI"), true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (!r.bindsRoot && geteuid() == 0) continue;
    messages_service.boxes.clear();
    project->Modified = true;
    project->ProjectPath = r.prepare();
    EXPECT_FALSE(project->SaveProject());
    EXPECT_TRUE(project->Modified);
    EXPECT_EQ(messages_service.Texts(), std::vector<std::string>{r.message});
  }
  if (geteuid() != 0) {
    EXPECT_EQ(dir.Read("ro.INI"), "old");
  }
  EXPECT_EQ(dir.Read("nan.INI"), "old");
}

// The file system's refusals, also where root would not meet them, and a full disk: the writes
// go through calls that refuse or run out of space on purpose.
TEST_F(ProjectTest, RefusedAndFailingWritesKeepTheOldFileWhole) {
  Root("Z");
  const std::string file = dir / "Data/p.INI";
  struct Row {
    const char* name;
    int accessError;    // of the check that the file may be written
    int newFileError;   // of creating a new file beside it
    int64_t freeBytes;  // what the disk takes beyond what the files hold; -1: no limit
    bool oldFile;       // the project file is there before
    std::string message;
  } rows[] = {
      {"file without write permission", EACCES, 0, -1, true, "Zugriff verweigert\r" + file},
      {"folder without write permission", 0, EACCES, -1, false, "Zugriff verweigert\r" + file},
      {"disk full", 0, 0, 10, true, "Datei nicht geschrieben\r" + file + " (Err=28)"},
      {"disk full, written in place in a closed folder", 0, EACCES, 10, true,
       "Datei nicht geschrieben\r" + file + " (Err=28)"},
  };
  const std::string old = "[ZENTRALFUNKMODEM]\r\nTYP=alt\r\n";
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(file);
    if (r.oldFile) dir.Write("Data/p.INI", old);
    int64_t free = r.freeBytes;
    platform::FileCalls calls;
    calls.Access = [&](const char* path, int mode) {
      return r.accessError ? (errno = r.accessError, -1) : access(path, mode);
    };
    calls.Open = [&](const char* path, int flags, mode_t mode) {
      if (r.newFileError && path != file) return errno = r.newFileError, -1;
      return open(path, flags, mode);
    };
    calls.Write = [&](int fd, const void* data, size_t size) -> ssize_t {
      struct stat st {};
      const off_t at = lseek(fd, 0, SEEK_CUR);
      if (free < 0 || fstat(fd, &st) != 0) return write(fd, data, size);
      // Bytes over the file's own ones need free space.
      const int64_t room = int64_t(st.st_size) - int64_t(at) + free;
      if (room <= 0) return errno = ENOSPC, -1;
      const size_t n = std::min(size, size_t(room));
      const ssize_t done = write(fd, data, n);
      if (done > 0) free -= std::max<int64_t>(0, int64_t(at) + done - int64_t(st.st_size));
      return done;
    };
    project->SetFileCalls(calls);
    messages_service.boxes.clear();
    project->Modified = true;
    project->ProjectPath = dir / "Data/p";
    EXPECT_FALSE(project->SaveProject());
    EXPECT_TRUE(project->Modified);
    EXPECT_EQ(messages_service.Texts(), std::vector<std::string>{r.message});
    EXPECT_EQ(dir.Exists("Data/p.INI"), r.oldFile);
    if (r.oldFile) {
      EXPECT_EQ(dir.Read("Data/p.INI"), old);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "Data"), {}), r.oldFile ? 1 : 0)
        << "no new file left behind";
  }
}

// The overwrite question finds the project file whatever the case of its name; saving then
// writes that very file, not a second one beside it.
TEST_F(ProjectTest, SavingWritesOverTheFileTheQuestionFound) {
  Add(Root("Z"), Station("S", 4));
  struct Row {
    const char* existing;
    std::function<bool()> save;
  } rows[] = {
      {"Data/anlage.ini",
       [&] {
         project->ProjectPath = dir / "Data/Anlage";
         return project->ConfirmOverwrite() && project->SaveProject();
       }},
      {"ostrel.ini", [&] { return project->WriteServerIni(); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.existing);
    std::filesystem::remove_all(dir / "Data");
    std::filesystem::create_directories(dir / "Data");
    dir.Write(r.existing, "alt");
    messages_service.boxes.clear();
    ASSERT_TRUE(r.save());
    EXPECT_EQ(dir.Read(r.existing), ProjectText(project->Tree));
    const std::string folder = platform::DirOf(dir / r.existing);
    size_t inis = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      inis += platform::UpperCase1252(e.path().extension().string()) == ".INI";
    EXPECT_EQ(inis, 1u);
  }
}

TEST_F(ProjectTest, ServerIniGoesToTheProgramFolderAndKeepsTheProjectPath) {
  Add(Root("Z"), Station("S", 4));
  project->ProjectPath = dir / "Data/Anlage";
  project->Modified = true;
  ASSERT_TRUE(project->WriteServerIni());
  EXPECT_EQ(project->ProjectPath, dir / "Data/Anlage");
  EXPECT_TRUE(project->Modified) << "the project itself is not saved yet";
  EXPECT_EQ(dir.Read("Ostrel.INI"), ProjectText(project->Tree));
  project->ShowServerIniWritten();
  EXPECT_EQ(messages_service.Texts().back(), "Ostrel.INI wurde in " + dir.Path() + " geschrieben.");
}

TEST_F(ProjectTest, ResetProjectFreesEverything) {
  TStationNode* root = Root("Z");
  TStationNode* s = Add(root, Station("S", 4));
  project->CurrentNode = s;
  project->Tree.Select(s);
  project->Modified = project->ProjectOpen = project->StationEditFlag = true;
  project->ResetProject();
  EXPECT_TRUE(project->Tree.Empty());
  EXPECT_EQ(project->CurrentNode, nullptr);
  EXPECT_EQ(project->Tree.Selected(), nullptr);
  EXPECT_FALSE(project->Modified || project->ProjectOpen || project->StationEditFlag);
  EXPECT_EQ(project->Addresses().FirstFree(), 1);
}

TEST_F(ProjectTest, DeletingANodeFreesTheAddressesOfTheBranch) {
  TStationNode* root = Root("Z");
  TStationNode* a = Add(root, Station("A", 1));
  Add(Add(a, Station("B", 2)), Station("C", 3));
  Add(root, Station("D", 4));
  project->CurrentNode = Node("C");
  project->Tree.Delete(a);
  EXPECT_EQ(project->CurrentNode, nullptr);
  EXPECT_EQ(Outline(), "Z\n D\n");
  for (int adr : {1, 2, 3}) EXPECT_TRUE(project->Addresses().IsFree(adr)) << adr;
  EXPECT_FALSE(project->Addresses().IsFree(4));
}

TEST_F(ProjectTest, CommandStates) {
  struct Row {
    const char* name;
    int centralType;  // -1: no tree, -2: a root without an object
    const char* current;  // node text, "" for none
    const char* selected;
    bool modified, open;
    TCommandStates want;  // save, save as, menu, insert, edit, delete
  } rows[] = {
      {"empty tree", -1, "", "", false, false, {false, false, false, false, false, false}},
      {"root without object", -2, "", "", true, true, {false, false, true, false, false, true}},
      {"mode 0, root current", 0, "Z", "Z", true, true, {true, true, true, true, true, false}},
      {"mode 0, station current", 0, "A", "A", false, true, {false, true, true, false, true, true}},
      {"mode 1, level 2 current", 1, "B", "B", false, true, {false, true, true, true, true, true}},
      {"mode 1, level 3 current", 1, "C", "C", false, true, {false, true, true, false, true, true}},
      {"mode 1, nothing current", 1, "", "", false, false, {false, true, false, false, false, true}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    project->ResetProject();
    if (r.centralType == -2) {
      project->Tree.AddRoot("Z", nullptr);
    } else if (r.centralType >= 0) {
      TStationNode* a = Add(Root("Z", r.centralType), Station("A", 1));
      Add(Add(a, Station("B", 2)), Station("C", 3));
    }
    project->CurrentNode = *r.current ? Node(r.current) : nullptr;
    project->Tree.Select(*r.selected ? Node(r.selected) : nullptr);
    project->Modified = r.modified;
    project->ProjectOpen = r.open;
    TCommandStates s = project->UpdateCommands();
    EXPECT_EQ(s.Save, r.want.Save);
    EXPECT_EQ(s.SaveAs, r.want.SaveAs);
    EXPECT_EQ(s.RadioModemMenu, r.want.RadioModemMenu);
    EXPECT_EQ(s.Insert, r.want.Insert);
    EXPECT_EQ(s.Edit, r.want.Edit);
    EXPECT_EQ(s.Delete, r.want.Delete);
  }
}

}  // namespace
}  // namespace configurator
