// The debug window in a process without a QApplication, as a host without a window toolkit is:
// the library runs a GUI thread of its own while the window is open, only when a display is
// there, and leaves no thread behind. And the server library loading the window library from
// its own folder when the host installed no hook.
#include <gtest/gtest.h>

#include <QToolButton>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "server/opc/debug_window/gui_thread.h"
#include "server/opc/debug_window/tests/window_fixture.h"
#include "server/opc/tests/server_folder.h"

namespace opc::testing {
namespace {

// The library's own GUI thread opens the offscreen platform unless another is asked for.
class Offscreen : public ::testing::Environment {
 public:
  void SetUp() override { setenv("QT_QPA_PLATFORM", "offscreen", 0); }
};
[[maybe_unused]] ::testing::Environment* const offscreen = ::testing::AddGlobalTestEnvironment(new Offscreen);

// Ours, and those of Qt's pool that painting starts.
int WindowThreads(int most) { return ThreadsNamed(kGuiThreadName, most) + ThreadsNamed("Thread (pooled)", most); }

TEST_F(DebugWindowTest, OwnGuiThreadLivesAsLongAsTheWindow) {
  StartDemo();
  EXPECT_EQ(ThreadsNamed(kGuiThreadName, 1), 1);
  WindowTexts t = Texts([](TfrmDebug& w) {
    EXPECT_FALSE(w.close());  // the user's close is refused
    w.SpinButton1->UpButton->click();
  });
  EXPECT_TRUE(t.visible);
  EXPECT_EQ(t.shown, 2);
  EXPECT_EQ(t.caption, "Turm  (40:3:0)");
  EXPECT_EQ(t.fm, QuietStation());
  host.Stop();
  EXPECT_EQ(WindowThreads(0), 0);

  // A second start gets a new thread and a new application.
  Load();
  ASSERT_TRUE(host.Start());
  ASSERT_NE(DebugWindow(), nullptr);
  EXPECT_EQ(Texts().caption, "Pumpe  (12:0:0)");
  host.Stop();
  EXPECT_EQ(WindowThreads(0), 0);
}

struct CountingSource : TDebugSource {
  TDebugSnapshot Snapshot(int32_t) const override {
    ++calls;
    return {};
  }
  mutable int calls = 0;
};

// Sets environment variables for one scope ("" unsets), and puts the old values back.
class Environment {
 public:
  explicit Environment(std::vector<std::pair<std::string, std::string>> values) {
    for (auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
  }
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct DisplayRow {
  const char* name;
  const char* qpa;
  const char* x11;
};

class WithoutDisplay : public ::testing::TestWithParam<DisplayRow> {};

TEST_P(WithoutDisplay, NoWindowAndNoThread) {
  Environment env({{"QT_QPA_PLATFORM", GetParam().qpa}, {"DISPLAY", GetParam().x11}, {"WAYLAND_DISPLAY", ""}});
  CountingSource source;
  EXPECT_EQ(OstrelDebugOpen(&source), nullptr);
  EXPECT_EQ(ThreadsNamed(kGuiThreadName, 0), 0);
  EXPECT_EQ(source.calls, 0);
}

INSTANTIATE_TEST_SUITE_P(DebugWindow, WithoutDisplay,
                         ::testing::Values(DisplayRow{"NothingSet", "", ""},
                                           DisplayRow{"UnreachableX11Display", "", ":97"},
                                           DisplayRow{"UnknownPlatform", "no-such-platform", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// The test host program in a server folder, on the built server library or a copy of it.
struct Install : ServerFolder {
  Install() : ServerFolder(TEST_HOST) {
    Register();
    dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nMODUS=1\r\nRS232=COM1,9600,None,8,1\r\n\r\n"
                            "[Unterstationen]\r\n" + kStations + "\r\n" + kChannels);
    dir.Write("DEMO", "");
    dir.Write("DEBUG", "128");
  }

  // The host's output lines; errors gets its standard error.
  std::vector<std::string> Run(const std::string& library, const std::string& qpa, std::string& errors) const {
    std::string text;
    const std::string script = "init;start;threads ostrel-debugwin 1;stop;threads ostrel-debugwin 0;unload";
    ServerFolder::Run({},
                      {{"OSTREL_LIBRARY", library}, {"OSTREL_SCRIPT", script}, {"QT_QPA_PLATFORM", qpa},
                       {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
                      &text, &errors);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Log lines about the debug window.
  std::vector<std::string> WindowLog() const {
    std::vector<std::string> found;
    std::istringstream all(dir.Read("Problem2.TXT"));
    for (std::string line; std::getline(all, line);)
      if (auto at = line.find(">SOXpSStart: no debug window"); at != std::string::npos)
        found.push_back(line.substr(at + 1, line.rfind('<') - at - 1));
    return found;
  }
};

struct LoadRow {
  const char* name;
  bool library_beside;
  const char* qpa;
  bool opened;
  const char* log;  // what the one log line says when no window opened
};

class LoadsTheWindowLibrary : public ::testing::TestWithParam<LoadRow> {};

TEST_P(LoadsTheWindowLibrary, WhenTheHostHasNoHook) {
  const LoadRow& row = GetParam();
  Install in;
  std::string library = OSTREL_LIBRARY;
  if (!row.library_beside) {
    library = in.dir / "libOstrel.so";
    platform::testing::PlaceFile(OSTREL_LIBRARY, library);
  }
  std::string errors;
  auto out = in.Run(library, row.qpa, errors);
  ASSERT_EQ(out.size(), 6u) << ::testing::PrintToString(out) << errors;
  EXPECT_EQ(out[1], "start 1");
  // The window's thread runs while the server runs, and is gone after the stop.
  EXPECT_EQ(out[2], row.opened ? "threads ostrel-debugwin 1" : "threads ostrel-debugwin 0");
  EXPECT_EQ(out[4], "threads ostrel-debugwin 0");
  auto log = in.WindowLog();
  if (row.opened) {
    EXPECT_TRUE(log.empty()) << log.front();
  } else {
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("SOXpSStart: no debug window, ", 0), 0u) << log[0];
    EXPECT_NE(log[0].find(row.log), std::string::npos) << log[0];
  }
}

INSTANTIATE_TEST_SUITE_P(
    DebugWindow, LoadsTheWindowLibrary,
    ::testing::Values(LoadRow{"Opened", true, "offscreen", true, ""},
                      LoadRow{"NoDisplay", true, "", false, ", no display"},
                      LoadRow{"LibraryMissing", false, "offscreen", false,
                              "/libOstrelDebug.so: cannot open shared object file"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace opc::testing
