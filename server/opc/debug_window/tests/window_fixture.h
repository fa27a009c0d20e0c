// The server started in-process, as the host starts it, with the window library's entry points
// as the host's debug-window hook; the window's texts read on the window's own thread.
#pragma once

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QPlainTextEdit>
#include <functional>
#include <string>
#include <vector>

#include "server/opc/debug_window/debug_window_api.h"
#include "server/opc/exports.h"
#include "platform/testing/threads.h"
#include "server/opc/tests/exports_fixture.h"

namespace opc::testing {

using platform::testing::ThreadsNamed;

inline std::vector<std::string> MemoLines(const QPlainTextEdit* memo) {
  std::vector<std::string> lines;
  const QString text = memo->toPlainText();
  if (!text.isEmpty())
    for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
  return lines;
}

// What the window shows; texts in UTF-8.
struct WindowTexts {
  std::string title, caption;
  std::vector<std::string> zfm, fm;
  int32_t shown = -1;
  bool visible = false;
};

inline WindowTexts ReadTexts(TfrmDebug& w) {
  return {w.windowTitle().toStdString(), w.gbFM->title().toStdString(), MemoLines(w.mZFM), MemoLines(w.mFM),
          w.ShownStation(), w.isVisible()};
}

class DebugWindowTest : public ExportsTest {
 protected:
  void SetUp() override {
    ExportsTest::SetUp();
    QarSetDebugWindowHook(&OstrelDebugOpen, &OstrelDebugClose);
  }

  // The small network in DEMO mode with debug bit 128: started, window open.
  void StartDemo() {
    WriteIni(kStations, kChannels);
    StartLog({{"DEBUG", "128"}, {"DEMO", ""}});
    Load();
    ASSERT_TRUE(host.Start());
    ASSERT_NE(DebugWindow(), nullptr);
  }

  // Runs act with the window on its thread, then reads what it shows.
  WindowTexts Texts(const std::function<void(TfrmDebug&)>& act = {}) {
    WindowTexts t;
    EXPECT_TRUE(WithDebugWindow(DebugWindow(), [&](TfrmDebug& w) {
      if (act) act(w);
      t = ReadTexts(w);
    }));
    return t;
  }
};

// mFM of a station of the small network in DEMO mode that nobody asked for anything.
inline std::vector<std::string> QuietStation(const std::string& timeouts = "0\t0\t0\t0\t0\t0\t") {
  return {"Gruppe: IN\tOUT\tSYS\t",
          "bDoneRd FALSE\tFALSE\tFALSE\t",
          "iWantRd 0\t0\t0\t",
          "bWantWr FALSE\tFALSE\tFALSE\t",
          "",
          "TO-Typ: START\tOUT\tINOUT\tIN\tSYS\tTEMP\t",
          "RegCnt: 0\t0\t0\t0\t0\t0\t",
          "Timeout:" + timeouts};
}

}  // namespace opc::testing
