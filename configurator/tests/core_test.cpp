#include "configurator/core.h"

#include <gtest/gtest.h>

#include "configurator/tests/fixture.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"

namespace configurator {
namespace {

using platform::testing::RecordingMessages;
using platform::testing::TempDir;

TEST(TConfig, ReadsWhatIsThereAndWritesEveryKey) {
  TempDir dir;
  dir.Write("config.cfg",
            "[ALLGEMEIN]\r\nSPRACHE=E.spr\r\nLETZE AKTIVE KONFIGURATION=/d/Data/Nord\r\nZULETZT VERWENDET1=/d/Data/S\xFC" "d\r\n"
            "[EIGENES]\r\nX=1\r\n");
  TConfig config(dir.Path());
  EXPECT_TRUE(dir.Exists("Data"));
  EXPECT_EQ(config.DataDir, dir / "Data/");
  EXPECT_EQ(config.Sprache, "E.spr");
  EXPECT_EQ(config.LastActive, "/d/Data/Nord");
  EXPECT_EQ(config.Recent, (std::array<std::string, 6>{"", "/d/Data/S\xC3\xBC" "d", "", "", "", ""}));

  config.Recent[5] = "/d/Data/Ost";
  config.Save();
  EXPECT_EQ(dir.Read("config.cfg"),
            "[ALLGEMEIN]\r\nSPRACHE=E.spr\r\nLETZE AKTIVE KONFIGURATION=/d/Data/Nord\r\nZULETZT VERWENDET1=/d/Data/S\xFC" "d\r\n"
            "ZULETZT VERWENDET0=\r\nZULETZT VERWENDET2=\r\nZULETZT VERWENDET3=\r\nZULETZT VERWENDET4=\r\n"
            "ZULETZT VERWENDET5=/d/Data/Ost\r\n[EIGENES]\r\nX=1\r\n");
}

// The project paths are the file system's names in memory and Windows-1252 in the file.
TEST(TConfig, ProjectPathsAreFileNamesInMemoryAndWindows1252InTheFile) {
  struct Row {
    const char* name;
    const char* stored;  // in CONFIG.CFG
    const char* path;    // in memory
    const char* rewritten;
  } rows[] = {
      {"Windows-1252", "/d/Data/S\xFC" "d", "/d/Data/S\xC3\xBC" "d", "/d/Data/S\xFC" "d"},
      {"UTF-8 of an earlier build", "/d/Data/S\xC3\xBC" "d", "/d/Data/S\xC3\xBC" "d", "/d/Data/S\xFC" "d"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TempDir dir;
    dir.Write("CONFIG.CFG", std::string("[ALLGEMEIN]\r\nLETZE AKTIVE KONFIGURATION=") + r.stored + "\r\n");
    TConfig config(dir.Path());
    EXPECT_EQ(config.LastActive, r.path);
    config.Save();
    EXPECT_NE(dir.Read("CONFIG.CFG").find(std::string("KONFIGURATION=") + r.rewritten + "\r\n"), std::string::npos);
  }
  // A name that no Windows-1252 text can name is left out, not stored as another file's.
  TempDir dir;
  TConfig config(dir.Path());
  config.Recent = {"/d/\xE5\x8C\x97", "/alt/S\xFC" "d", "/d/Nord"};
  config.Save();
  EXPECT_NE(dir.Read("CONFIG.CFG").find("ZULETZT VERWENDET0=\r\nZULETZT VERWENDET1=\r\nZULETZT VERWENDET2=/d/Nord\r\n"),
            std::string::npos);
}

TEST(TConfig, MissingFileGivesTheDefaults) {
  TempDir dir;
  TConfig config(dir.Path());
  EXPECT_EQ(config.Sprache, "D.spr");
  EXPECT_EQ(config.LastActive, "");
}

class CoreTest : public ::testing::Test {
 protected:
  // Tests run side by side: each has a guard name of its own.
  std::unique_ptr<TConfiguratorCore> Start(RecordingMessages* messages = nullptr) {
    return TConfiguratorCore::Start(dir / "Brindel", messages ? *messages : service, TCollation("de_DE.UTF-8"),
                                    "test-" + dir.Path());
  }
  TempDir dir;
  RecordingMessages service;
};

TEST_F(CoreTest, StartUpReadsTheFilesBesideTheProgram) {
  dir.Write("Brindel.FML", testing::kDeviceTypes);
  dir.Write("Brindel.TXT", "[GLOBALE-TEXTE]\r\nT01=Start-OK\r\n");
  dir.Write("E.spr", "[GLOBALE-TEXTE]\r\nT01=OK\r\n");
  dir.Write("CONFIG.CFG", "[ALLGEMEIN]\r\nSPRACHE=e.SPR\r\n");
  auto core = Start();
  ASSERT_NE(core, nullptr);
  EXPECT_EQ(core->Texts.TranslateText("@01"), "Start-OK");
  EXPECT_EQ(core->Tables.Central.Count, 2);
  EXPECT_EQ(core->Tables.Modules.Count, 3);
  EXPECT_TRUE(core->SwitchLanguage());
  EXPECT_EQ(core->Texts.TranslateText("@01"), "OK");
  EXPECT_TRUE(core->CheckDeviceTables());
  EXPECT_TRUE(service.boxes.empty());

  // A second copy is refused before it reads anything.
  RecordingMessages second;
  EXPECT_EQ(Start(&second), nullptr);
  EXPECT_EQ(second.Texts(), std::vector<std::string>{"Diese Anwendung ist bereits aktiv!"});

  core->Config.LastActive = "/x/Data/Nord";
  core.reset();
  EXPECT_NE(dir.Read("CONFIG.CFG").find("LETZE AKTIVE KONFIGURATION=/x/Data/Nord\r\n"), std::string::npos);
  EXPECT_NE(Start(), nullptr);  // the guard went with the first copy
}

TEST_F(CoreTest, StartUpChecksEndTheProgram) {
  struct Row {
    const char* name;
    std::string config;
    std::string types;
    bool language, tables;
    std::vector<std::string> messages;
  } rows[] = {
      {"no language file set", "[ALLGEMEIN]\r\nSPRACHE=\r\n", testing::kDeviceTypes, false, true, {"Sprache fehlt"}},
      {"language file missing", "", testing::kDeviceTypes, false, true, {"Sprache fehlt\r" + (dir / "D.spr")}},
      {"no station types", "[ALLGEMEIN]\r\nSPRACHE=B.spr\r\n",
       "[ZENTRALFUNKMODEM]\r\nTYP=Z\r\n[ERWEITERUNGSMODULE]\r\nTYP=kein\r\nTYP=M\r\n", true, false, {"Tabelle leer"}},
      {"one module only", "[ALLGEMEIN]\r\nSPRACHE=B.spr\r\n",
       "[ZENTRALFUNKMODEM]\r\nTYP=Z\r\n[UNTERSTATIONEN]\r\nTYP=S\r\n[ERWEITERUNGSMODULE]\r\nTYP=kein\r\n", true, false,
       {"Tabelle leer"}},
  };
  dir.Write("Brindel.TXT", "[FEHLER]\r\nT1=Sprache fehlt\r\nT14=Tabelle leer\r\n");
  dir.Write("B.spr", "[FEHLER]\r\nT1=Sprache fehlt\r\nT14=Tabelle leer\r\n");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    dir.Write("CONFIG.CFG", r.config);
    dir.Write("Brindel.FML", r.types);
    service.boxes.clear();
    auto core = Start();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->SwitchLanguage(), r.language);
    if (r.language) {
      EXPECT_EQ(core->CheckDeviceTables(), r.tables);
    }
    EXPECT_EQ(service.Texts(), r.messages);
  }
}

}  // namespace
}  // namespace configurator
