// Helpers of the window tests: acting on the next modal dialog, a shell that records what it
// is asked to open, and the main window on an installation of its own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "configurator/tests/install.h"
#include "configurator/windows/main_window.h"
#include "configurator/windows/shell.h"
#include "platform/clock.h"

namespace configurator::windows::testing {

// Runs act on the next modal window of type T once its event loop runs (a nested loop of the
// code under test); gives up after many turns of the event loop without one.
template <class T>
void OnModal(std::function<void(T*)> act, int turns = 1000) {
  QTimer::singleShot(0, [act = std::move(act), turns]() mutable {
    if (auto* w = dynamic_cast<T*>(QApplication::activeModalWidget())) {
      act(w);
    } else if (turns > 0) {
      OnModal<T>(std::move(act), turns - 1);
    } else {
      ADD_FAILURE() << "no modal window came";
    }
  });
}

class RecordingShell : public TShell {
 public:
  bool Open(const std::string& target) override {
    opened.push_back(target);
    return answer;
  }
  std::vector<std::string> opened;
  bool answer = true;
};

inline const platform::Clock::TimePoint kTestNow{std::chrono::seconds{1'700'000'000}};

class MainWindowTest : public ::testing::Test, public configurator::testing::Installation {
 protected:
  // The window after its first tick (the timer itself does not run in tests).
  void Open(const std::string& settings = "") {
    if (!settings.empty()) dir.Write("CONFIG.CFG", settings);
    core = StartCore();
    ASSERT_NE(core, nullptr);
    window = std::make_unique<TfrmMain>(*core, dir / "Brindel", shell, clock, false);
    window->show();
    QApplication::setActiveWindow(window.get());
    window->MainTimer();
  }
  TProject& Project() { return core->Project; }

  RecordingShell shell;
  platform::ManualClock clock{kTestNow};
  std::unique_ptr<TConfiguratorCore> core;
  std::unique_ptr<TfrmMain> window;
};

}  // namespace configurator::windows::testing
