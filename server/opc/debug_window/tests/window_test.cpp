// The debug window in a process that has a QApplication: opened by a started server through the
// entry points, on the application's thread.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontMetricsF>
#include <QPointer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "server/opc/debug_window/debug_link.h"
#include "server/opc/debug_window/debug_texts.h"
#include "server/opc/debug_window/tests/window_fixture.h"
#include "tools/testing/simulator_process.h"

namespace opc::testing {
namespace {

using radiosim::testing::SimulatorProcess;

TEST_F(DebugWindowTest, DemoServerShowsStationOneFirst) {
  StartDemo();
  WindowTexts t = Texts([](TfrmDebug& w) {
    EXPECT_EQ(w.Timer1->interval(), 500);
    EXPECT_TRUE(w.Timer1->isActive());
  });
  EXPECT_EQ(t.title, "Velto OPC-Server Debugfenster");
  EXPECT_TRUE(t.visible);
  EXPECT_EQ(t.shown, 1);
  EXPECT_EQ(t.caption, "Pumpe  (12:0:0)");
  EXPECT_EQ(t.zfm, std::vector<std::string>{});  // no driver thread, no protocol object
  EXPECT_EQ(t.fm, QuietStation());
}

TEST_F(DebugWindowTest, ShowsTheRequestMarksOfTheHost) {
  StartDemo();
  host.Read(host.Handle("ZFM1.Pumpe.Druck"));
  host.Write(host.Handle("ZFM1.Pumpe.Stell"), platform::com::Variant::I4(42));
  WindowTexts t = Texts([](TfrmDebug& w) { w.Timer1Timer(); });
  ASSERT_EQ(t.fm.size(), 8u);
  EXPECT_EQ(t.fm[1], "bDoneRd FALSE\tFALSE\tFALSE\t");
  EXPECT_EQ(t.fm[2], "iWantRd 1\t0\t0\t");
  EXPECT_EQ(t.fm[3], "bWantWr FALSE\tTRUE \tFALSE\t");
}

TEST_F(DebugWindowTest, SpinButtonWalksTheStationList) {
  StartDemo();
  struct Click {
    const char* name;
    bool up;
    int32_t shown;
    const char* caption;
    std::vector<std::string> fm;
  } clicks[] = {
      {"up to the last", true, 2, "Turm  (40:3:0)", QuietStation()},
      {"not beyond the last", true, 2, "Turm  (40:3:0)", QuietStation()},
      {"down", false, 1, "Pumpe  (12:0:0)", QuietStation()},
      {"down to the central modem", false, 0, "ZFM1  (-1:-1:-1)", QuietStation("200\t200\t200\t200\t200\t200\t")},
      {"not below the central modem", false, 0, "ZFM1  (-1:-1:-1)", QuietStation("200\t200\t200\t200\t200\t200\t")},
  };
  for (const Click& c : clicks) {
    SCOPED_TRACE(c.name);
    WindowTexts t = Texts([&](TfrmDebug& w) { (c.up ? w.SpinButton1->UpButton : w.SpinButton1->DownButton)->click(); });
    EXPECT_EQ(t.shown, c.shown);
    EXPECT_EQ(t.caption, c.caption);
    EXPECT_EQ(t.fm, c.fm);
  }
}

TEST_F(DebugWindowTest, RefusesTheUsersCloseAndGoesWithTheServer) {
  StartDemo();
  QPointer<TfrmDebug> window;
  Texts([&](TfrmDebug& w) {
    window = &w;
    EXPECT_FALSE(w.close());
  });
  ASSERT_FALSE(window.isNull());
  EXPECT_TRUE(window->isVisible());
  host.Stop();
  EXPECT_TRUE(window.isNull());
  EXPECT_EQ(DebugWindow(), nullptr);
}

// Polls a condition that the driver thread makes true, refreshing the window each turn.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool Matches(const std::vector<std::string>& lines, size_t i, const char* pattern) {
  return lines.size() > i && std::regex_match(lines[i], std::regex(pattern));
}

TEST_F(DebugWindowTest, DriverAgainstTheSimulatorShowsItsRequests) {
  dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nMODUS=1\r\nTIMEOUT=100\r\nRS232=" +
                              SimulatorProcess::DefaultPortPath(dir.Path()) +
                              ",9600,None,8,1\r\n\r\n[Unterstationen]\r\n" + kStations + "\r\n" + kChannels);
  SimulatorProcess sim(dir.Path(),
                       {"--radio-delay", "10", "--analog-period", "0", "--slot", "2000", "--slot-pause", "200"});
  ASSERT_TRUE(sim.Start()) << sim.Error();
  StartLog({{"DEBUG", "128"}});
  Load();
  ASSERT_TRUE(host.Start());
  ASSERT_NE(DebugWindow(), nullptr);

  WindowTexts t;
  auto refresh = [&] {
    t = Texts([](TfrmDebug& w) { w.Timer1Timer(); });
    return true;
  };
  // Station 1 has had its outputs and its inputs answered, and the driver is asking a station.
  EXPECT_TRUE(Eventually([&] {
    return refresh() && Matches(t.zfm, 1, R"(AF=4: US=[12] Put:[0-3]:-?\d+/\d+ Get:[1-3]:-?\d+/\d+)") &&
           Matches(t.fm, 1, "bDoneRd TRUE \tTRUE \t(TRUE |FALSE)\t");
  })) << ::testing::PrintToString(t.zfm) << ::testing::PrintToString(t.fm);
  EXPECT_TRUE(Matches(t.zfm, 0, R"(ZS=\d+ AktFM=[12] 3964r=FALSE DOfs=9)")) << t.zfm[0];
  EXPECT_TRUE(Matches(t.zfm, 2, R"(   TOindex=[0-5] TO=\d+)")) << t.zfm[2];
  // Learned or estimated time-outs of the requests made: no longer all zero.
  EXPECT_TRUE(Matches(t.fm, 7, "Timeout:(-?\\d+\t){6}")) << t.fm[7];
  EXPECT_NE(t.fm[7], QuietStation()[7]);
  host.Stop();
  EXPECT_EQ(DebugWindow(), nullptr);
}

// A source that counts its callers; the window of a host that calls from a thread of its own.
struct CountingSource : TDebugSource {
  TDebugSnapshot Snapshot(int32_t station) const override {
    ++calls;
    TDebugSnapshot s;
    s.StationCount = 2;
    if (station == 1) s.Station = TDebugStation{"Pumpe", 12, 0, 0, {}, {}, {}, {}};
    return s;
  }
  mutable std::atomic<int> calls{0};
};

// One station with entries of every width, from "IN" to "123456".
struct WideSource : TDebugSource {
  TDebugSnapshot Snapshot(int32_t) const override {
    TDebugSnapshot s;
    s.StationCount = 2;
    TDebugStation st{"Pumpe", 12, 0, 0, {false, true, true, false}, {0, 3, 0, 12}, {false, false, true, false}, {}};
    st.Timeouts.RegCnt = {10, 3, 5, 0, 40, 2};
    st.Timeouts.Timeout = {-1013, 123456, 200, 0, 6000, -2};
    s.Station = st;
    return s;
  }
};

// Where each entry of each row of the memo starts, as the memo lays the row out: right after
// the label, then after every tab that is not the row's last character.
std::vector<std::vector<double>> EntryStarts(QPlainTextEdit& memo) {
  std::vector<std::vector<double>> rows;
  QTextDocument* doc = memo.document();
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    doc->documentLayout()->blockBoundingRect(block);  // lays the row out
    const QString text = block.text();
    const QTextLine line = block.layout()->lineAt(0);
    std::vector<double> starts;
    const int label = int(kFmLabelLength);
    if (text.size() > label) starts.push_back(line.cursorToX(label));
    for (int i = label; i + 1 < text.size(); ++i) {
      if (text[i] == QLatin1Char('\t')) starts.push_back(line.cursorToX(i + 1));
    }
    rows.push_back(starts);
  }
  return rows;
}

TEST(DebugWindowLayout, EveryEntryStandsUnderItsHeading) {
  WideSource source;
  TfrmDebug window(std::make_shared<TDebugLink>(&source));
  window.show();
  ASSERT_EQ(MemoLines(window.mFM)[1], "bDoneRd TRUE \tTRUE \tFALSE\t");
  const std::vector<std::vector<double>> starts = EntryStarts(*window.mFM);
  ASSERT_EQ(starts.size(), 8u);
  // Rows 1 to 3 under the request classes of row 0, rows 6 and 7 under the time-out types of row 5.
  const struct {
    size_t heading;
    std::vector<size_t> rows;
  } tables[] = {{0, {1, 2, 3}}, {5, {6, 7}}};
  for (const auto& table : tables) {
    const std::vector<double>& heading = starts[table.heading];
    ASSERT_EQ(heading.size(), table.heading == 0 ? 3u : 6u);
    for (size_t row : table.rows) {
      SCOPED_TRACE(MemoLines(window.mFM)[row]);
      ASSERT_EQ(starts[row].size(), heading.size());
      for (size_t k = 0; k < heading.size(); ++k) EXPECT_NEAR(starts[row][k], heading[k], 0.5) << "entry " << k;
    }
  }
  // Each column is wider than the widest entry, "123456" included.
  const QFontMetricsF metrics(window.mFM->font());
  const std::vector<double>& types = starts[5];
  for (size_t k = 1; k < types.size(); ++k) {
    EXPECT_GT(types[k] - types[k - 1], metrics.horizontalAdvance(QStringLiteral("123456"))) << "column " << k - 1;
  }
}

struct ForeignRow {
  const char* name;
  bool run_between;  // the GUI thread runs between open and close
};

class FromAnotherThread : public ::testing::TestWithParam<ForeignRow> {};

TEST_P(FromAnotherThread, NeverWaitsForTheGuiThread) {
  CountingSource source;
  void* handle = nullptr;
  std::thread([&] { handle = OstrelDebugOpen(&source); }).join();  // returns though nothing ran here
  ASSERT_NE(handle, nullptr);
  QPointer<TfrmDebug> window;
  if (GetParam().run_between) {
    QCoreApplication::processEvents();
    ASSERT_TRUE(WithDebugWindow(handle, [&](TfrmDebug& w) { window = &w; }));
    EXPECT_EQ(window->gbFM->title().toStdString(), "Pumpe  (12:0:0)");
  }
  std::thread([&] { OstrelDebugClose(handle); }).join();
  const int calls = source.calls;
  QCoreApplication::processEvents();
  EXPECT_TRUE(window.isNull());
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
  EXPECT_EQ(source.calls, calls);  // nothing read after the close
  if (!GetParam().run_between) {
    EXPECT_EQ(calls, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(DebugWindow, FromAnotherThread,
                         ::testing::Values(ForeignRow{"OpenedThenClosed", true},
                                           ForeignRow{"ClosedBeforeItsTurn", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace opc::testing
