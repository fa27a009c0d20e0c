// The fixture of the explorer's tests: the client library's scripted server and services,
// scripted dialogs and message boxes, and a temporary folder as the current directory (the
// program writes its last configuration and its protocols there).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "explorer/main_model.h"
#include "opcclient/tests/kopl_fixture.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"

namespace explorer::testing {

using kopl::testing::ScriptedServer;

// Each dialog answers through its function; unset ones end with Cancel.
struct ScriptedDialogs final : TExplorerDialogs {
  std::vector<std::string> asked;  // the dialogs opened, in order

  std::function<bool(std::string& computer, std::string& prog_id, std::string& clsid)> select_server;
  std::function<bool(kopl::TKoplBrowser&, std::vector<std::string>&, bool)> browse_items;
  std::function<bool(kopl::tGroupStateRec&)> edit_group;
  std::function<std::string(const std::vector<std::string>&)> select_group;
  std::function<bool(const std::string&, const std::string&, std::string&)> input_query;
  std::function<bool(std::string&)> open_file;
  std::function<bool(std::string&)> save_file;

  bool SelectServer(std::string& computer, std::string& prog_id, std::string& clsid) override {
    asked.push_back("SelectServer " + computer);
    return select_server && select_server(computer, prog_id, clsid);
  }
  bool BrowseItems(kopl::TKoplBrowser& b, std::vector<std::string>& ids, bool root) override {
    asked.push_back("BrowseItems");
    return browse_items && browse_items(b, ids, root);
  }
  bool EditGroup(kopl::tGroupStateRec& state) override {
    asked.push_back("EditGroup " + state.Name);
    return edit_group && edit_group(state);
  }
  std::string SelectGroup(const std::vector<std::string>& names) override {
    asked.push_back("SelectGroup");
    return select_group ? select_group(names) : "";
  }
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override {
    asked.push_back("InputQuery " + caption + " / " + prompt);
    return input_query && input_query(caption, prompt, value);
  }
  bool OpenSessionFile(std::string& file_name) override {
    asked.push_back("Open " + file_name);
    return open_file && open_file(file_name);
  }
  bool SaveSessionFile(std::string& file_name) override {
    asked.push_back("Save " + file_name);
    return save_file && save_file(file_name);
  }
};

class ExplorerTest : public kopl::testing::KoplTest {
 protected:
  platform::testing::TempDir dir;
  ScriptedDialogs dialogs;
  platform::testing::RecordingMessages messages;
  std::unique_ptr<TMainModel> main;
  std::string old_cwd;
  std::string old_registry;

  void SetUp() override {
    // A registry of this test's own: what one test registers is not there for the next.
    const char* registry = std::getenv("QAR_REGISTRY");
    old_registry = registry ? registry : "";
    setenv("QAR_REGISTRY", (dir / "registry").c_str(), 1);
    KoplTest::SetUp();
    char buf[4096];
    old_cwd = getcwd(buf, sizeof buf) ? buf : "/";
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    main = MakeMain();
  }
  void TearDown() override {
    main.reset();
    EXPECT_EQ(chdir(old_cwd.c_str()), 0);
    KoplTest::TearDown();
    setenv("QAR_REGISTRY", old_registry.c_str(), 1);
  }
  std::unique_ptr<TMainModel> MakeMain() {
    TMainModel::Options o;
    o.settings_path = dir / "Feddra.ini";
    o.apartment = &apartment;
    o.clock = &clock;
    return std::make_unique<TMainModel>(dialogs, messages, o);
  }
  kopl::TKoplServer& Server() { return main->OPCServer(); }
  TInspecModel& Inspector() { return main->Inspector(); }
  TExplorerModel& Explorer() { return main->Explorer(); }

  // Connects the main window's connection to the scripted server by its ProgID.
  void ConnectScripted() {
    main->SetServerText(kopl::testing::kScriptedProgId);
    main->Connect();
    ASSERT_TRUE(Server().Active());
  }
  // A data change of the named items of a group, handled as the program's loop would.
  void SendData(const std::string& group, const std::vector<std::string>& ids, const std::vector<kopl::Variant>& values,
                uint16_t quality = platform::com::OPC_QUALITY_GOOD) {
    fake->Group(group)->SendData(0, ids, values, quality);
    Run();
  }
};

}  // namespace explorer::testing
