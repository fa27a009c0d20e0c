// Helpers of the window tests: acting on the next modal dialog, a shell that records what it
// is asked to open, and the main window on an installation of its own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
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
// code under test) and it is the active window, as a user meets it; gives up after many turns
// of the event loop without one.
template <class T>
void OnModal(std::function<void(T*)> act, int turns = 1000) {
  QTimer::singleShot(0, [act = std::move(act), turns]() mutable {
    auto* w = dynamic_cast<T*>(QApplication::activeModalWidget());
    if (w && QApplication::activeWindow() == w) {
      act(w);
    } else if (turns > 0) {
      OnModal<T>(std::move(act), turns - 1);
    } else {
      ADD_FAILURE() << "no modal window came";
    }
  });
}

// What a window manager does and the offscreen platform does not: when a dialog closes, the
// window below it is active again, and its focus widget has the keyboard back.
class WindowManager : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Hide) {
      auto* w = qobject_cast<QWidget*>(watched);
      if (w && w->isWindow() && w->isModal() && w->parentWidget() && w->parentWidget()->isVisible())
        QApplication::setActiveWindow(w->parentWidget()->window());
    }
    return false;
  }
};

// A key as the user types it: to the widget that has the keyboard focus, whichever that is.
inline void Type(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr) << "no widget has the focus";
  QTest::keyClick(focus, key, modifiers);
}
inline void Type(const QString& text) {
  for (QChar c : text) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << "no widget has the focus";
    if (c.unicode() < 0x80)
      QTest::keyClick(focus, char(c.unicode()));
    else  // a key of the German keyboard: its text, no ASCII key code
      QTest::sendKeyEvent(QTest::Click, focus, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
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
    window.reset();
    core.reset();  // a new start: the guard of the one before is given up
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
