// What only the station window can get wrong: the click at the right pixel, what the picture
// shows, captions, colours, the timer and closing.
#include "visualisation/qt/station_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QTest>

#include "visualisation/led_table.h"
#include "visualisation/qt/front_panel.h"
#include "visualisation/tests/gui_app.h"
#include "visualisation/tests/lumaro_fixture.h"

namespace lumaro::testing {
namespace {

using com::Variant;

class StationWindowTest : public LumaroTest {
 protected:
  TMemIni ini;
  RStation entry{"Pumpe", "PT100", 7, nullptr};
  TStation* window = nullptr;

  void TearDown() override {
    delete window;
    LumaroTest::TearDown();
  }
  void Open(const std::string& text, bool logging = false) {
    ini.LoadFromText(text);
    window = new TStation(context, ini, {"Pumpe", "PT100", 7, "Zentrale", kServerProgId}, &entry, logging);
    entry.window = window;
    window->Init();
  }
  void OpenTwoStations(bool logging = false) {
    Know(TwoStationItems());
    Open(kTwoStations, logging);
  }
  kopl::testing::ScriptedGroup& Remote(const char* group) { return *servers.back()->Group(group); }
  void Send(const char* group, const std::string& reg, Variant v, com::WORD q = com::OPC_QUALITY_GOOD) {
    Remote(group).SendData(0, {"Zentrale.Pumpe." + reg}, {v}, q);
    Run();
  }
  QColor Pixel(int x, int y) { return window->Picture().Rendered().pixelColor(x, y); }
  template <class W>
  W* Child(const char* name) {
    W* w = window->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QColor TextColour(const char* name) { return Child<QLabel>(name)->palette().color(QPalette::WindowText); }
};

TEST_F(StationWindowTest, CaptionAndStatusBar) {
  OpenTwoStations();
  EXPECT_EQ(window->windowTitle().toStdString(), "Station - Pumpe (PT100)");
  EXPECT_EQ(Child<QLabel>("SBStationPanel1")->text().toStdString(), "Aktiv");
  EXPECT_EQ(Child<QLabel>("SBStationPanel2")->text().toStdString(), "verbunden");
  EXPECT_EQ(Child<QLabel>("SLStatus")->text().toStdString(), "unbekannt");
}

TEST_F(StationWindowTest, ClickOnAnOutputLedWritesTheOutput) {
  OpenTwoStations();
  window->show();
  QWidget* picture = Child<QWidget>("ImageStation");
  const LedPlace& out1 = kLeds[16];
  QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(out1.x + 6, out1.y));  // six pixels beside
  EXPECT_TRUE(Remote("BINPUT").writes.empty());
  QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(out1.x, out1.y));
  ASSERT_EQ(Remote("BINPUT").writes.size(), 1u);
  EXPECT_EQ(Remote("BINPUT").writes[0].values, std::vector<Variant>{Variant::I4(1)});
  EXPECT_EQ(Pixel(out1.x, out1.y), QColor(0xFF, 0, 0));  // lit at once
  Grab(*window, "station");
}

// Counts the paint events a widget gets.
class PaintCounter final : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST_F(StationWindowTest, AClickedOutputIsPaintedBeforeTheWriteGoesOut) {
  OpenTwoStations();
  window->show();
  QWidget* picture = Child<QWidget>("ImageStation");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  PaintCounter counter;
  picture->installEventFilter(&counter);
  const LedPlace& out1 = kLeds[16];
  int paints_before_write = -1;
  QColor lit_while_writing;
  servers.back()->while_writing = [&] {
    paints_before_write = counter.paints;
    lit_while_writing = Pixel(out1.x, out1.y);
  };
  QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(out1.x, out1.y));
  ASSERT_EQ(Remote("BINPUT").writes.size(), 1u);
  EXPECT_GE(paints_before_write, 1) << "the picture is painted only after the write returned";
  EXPECT_EQ(lit_while_writing, QColor(0xFF, 0, 0));
  picture->removeEventFilter(&counter);
}

TEST_F(StationWindowTest, PictureShowsLedColoursAtTheirPlaces) {
  OpenTwoStations();
  Send("BINPUT", "Taster", Variant::I4(1));
  Send("STATUS", "RM_RECPOWER", Variant::I4(10));
  EXPECT_EQ(Pixel(37, 112), QColor(0, 0xFF, 0));      // input 1 on
  EXPECT_EQ(Pixel(54, 112), QColor(0, 0x60, 0));      // input 2 off
  EXPECT_EQ(Pixel(37, 204), QColor(0x60, 0, 0));      // output 1 off
  EXPECT_EQ(Pixel(478, 204), QColor(0xFF, 0, 0));     // bar LED 3 on
  EXPECT_EQ(Pixel(495, 204), QColor(0x60, 0x60, 0));  // bar LED 4 off
  Send("BINPUT", "Taster", Variant::I4(1), com::OPC_QUALITY_NOT_CONNECTED);
  window->OnTimer();
  EXPECT_EQ(Pixel(37, 112), QColor(0x50, 0x50, 0x50));  // invalid
}

TEST_F(StationWindowTest, OutputBlockIsCopiedForOutputsNineToSixteen) {
  std::string text = "[ADR007]\r\n";
  std::vector<std::string> ids;
  for (int i = 1; i <= 20; ++i) {
    text += "KANAL=BA,A" + std::to_string(i) + ",,0,0,0\r\n";
    ids.push_back("Zentrale.Pumpe.A" + std::to_string(i));
  }
  text += "KANAL=AE,Druck,bar,1,0,0\r\n";
  ids.push_back("Zentrale.Pumpe.Druck");
  Know(ids);
  Open(text);
  const QImage shown = window->Picture().Rendered();
  const QImage drawn = DrawStationPicture();
  // Away from the LEDs, the copy holds the block's pixels.
  for (QPoint p : {QPoint(20, 240), QPoint(100, 260), QPoint(180, 300)}) {
    SCOPED_TRACE(p.x());
    EXPECT_EQ(shown.pixelColor(p + QPoint(176, 0)), drawn.pixelColor(p));
  }
  EXPECT_EQ(shown.pixelColor(334, 204), QColor(0x60, 0, 0));  // output 16, valid and off
  EXPECT_TRUE(Child<QWidget>("GAnalog1")->isVisibleTo(window));
}

TEST_F(StationWindowTest, ThreeAnalogInputsShowThreeGauges) {
  Know({"Zentrale.Pumpe.A1", "Zentrale.Pumpe.A2", "Zentrale.Pumpe.A3"});
  Open("[ADR007]\r\nKANAL=AE,A1,V,1,0,1\r\nKANAL=AE,A2,V,1,0,1\r\nKANAL=AE,A3,mA,1,0,1\r\n");
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    const std::string g = "GAnalog" + std::to_string(n);
    EXPECT_EQ(Child<QWidget>(g.c_str())->isVisibleTo(window), n <= 3);
  }
  EXPECT_EQ(Child<QLabel>("LAEinheit3")->text().toStdString(), "mA");
  const QImage analog = DrawAnalogPicture();
  EXPECT_EQ(window->Picture().Rendered().pixelColor(kAnalogX + 5, kAnalogY + 100), analog.pixelColor(5, 100));
}

TEST_F(StationWindowTest, APictureInTheProgramFolderReplacesTheDrawnOne) {
  QImage own(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  own.fill(QColor(0x12, 0x34, 0x56));
  ASSERT_TRUE(own.save(QString::fromStdString(program / "station.PNG")));
  OpenTwoStations();
  EXPECT_EQ(Pixel(300, 20), QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(Pixel(37, 112), QColor(0, 0x60, 0));  // the LEDs are drawn over it
}

TEST_F(StationWindowTest, ValuePanelAndGaugeColours) {
  OpenTwoStations();
  Send("BINPUT", "Druck", Variant::R8(409.5));
  auto* gauge = window->findChild<TGauge*>("GAnalog1");
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(Child<QLabel>("EAnalog1")->text().toStdString(), "409.50");
  EXPECT_EQ(TextColour("EAnalog1"), QColor(0, 0x80, 0));
  EXPECT_EQ(gauge->Progress(), 4095);
  EXPECT_EQ(gauge->ForeColor(), QColor(0, 0, 0x80));
  Send("BINPUT", "Druck", Variant::R8(1), com::OPC_QUALITY_NOT_CONNECTED);
  EXPECT_TRUE(window->Timer().isActive());
  window->OnTimer();
  EXPECT_FALSE(window->Timer().isActive());
  EXPECT_EQ(TextColour("EAnalog1"), QColor(0xFF, 0, 0));
  EXPECT_EQ(gauge->ForeColor(), QColor(0xFF, 0, 0));
}

TEST_F(StationWindowTest, StatusLabelColours) {
  OpenTwoStations();
  Send("STATUS", "RS_KOM_OK", Variant::I4(12));
  EXPECT_EQ(TextColour("SLKomOK"), QColor(0, 0x80, 0));
  Send("STATUS", "RS_KOM_OK", Variant::I4(12), com::OPC_QUALITY_NOT_CONNECTED);
  EXPECT_EQ(TextColour("SLKomOK"), QColor(0xFF, 0, 0));
  EXPECT_EQ(Child<QLabel>("SLKomOK")->text().toStdString(), "12");
}

TEST_F(StationWindowTest, WhenTheServerGoesTheLastValuesShowAsBad) {
  OpenTwoStations();
  window->show();
  Send("BINPUT", "Taster", Variant::I4(1));
  Send("BINPUT", "Druck", Variant::R8(12.5));
  Send("STATUS", "RS_KOM_OK", Variant::I4(12));
  Send("STATUS", "RM_RECPOWER", Variant::I4(10));
  ASSERT_EQ(Pixel(37, 112), QColor(0, 0xFF, 0));
  ASSERT_EQ(TextColour("EAnalog1"), QColor(0, 0x80, 0));
  const auto& writes = Remote("BINPUT").writes;

  servers.back()->ShutdownSink()->ShutdownRequest("");  // the host stops
  Run();
  EXPECT_EQ(Child<QLabel>("SBStationPanel2")->text().toStdString(), "nicht verbunden");
  EXPECT_EQ(TextColour("SLKomOK"), QColor(0xFF, 0, 0));
  EXPECT_EQ(Child<QLabel>("SLKomOK")->text().toStdString(), "12");
  EXPECT_EQ(Pixel(442, 204), QColor(0x50, 0x50, 0x50));  // bar LED 1: no longer valid
  // The channels go the way of a bad quality: invalid at the timer's next tick.
  EXPECT_TRUE(window->Timer().isActive());
  window->OnTimer();
  EXPECT_EQ(Pixel(37, 112), QColor(0x50, 0x50, 0x50));
  EXPECT_EQ(TextColour("EAnalog1"), QColor(0xFF, 0, 0));
  EXPECT_EQ(window->findChild<TGauge*>("GAnalog1")->ForeColor(), QColor(0xFF, 0, 0));
  // Clicks do nothing.
  QTest::mouseClick(Child<QWidget>("ImageStation"), Qt::LeftButton, {}, QPoint(kLeds[16].x, kLeds[16].y));
  EXPECT_TRUE(writes.empty());
}

TEST_F(StationWindowTest, StatusPanelsShowEveryTextWhole) {
  OpenTwoStations();
  window->show();
  ExpectWholeTexts(*window,
                   {{"SBStationPanel1", {"Aktiv", "Inaktiv"}}, {"SBStationPanel2", {"verbunden", "nicht verbunden"}}});
}

TEST_F(StationWindowTest, ClosingReleasesTheWindowUnlessItLogs) {
  OpenTwoStations(true);
  window->show();
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(entry.window, window);  // hidden, still logging
  EXPECT_FALSE(window->Released());

  delete window;
  entry.window = nullptr;
  OpenTwoStations(false);
  QPointer<TStation> p(window);
  window->show();
  window->close();
  EXPECT_EQ(entry.window, nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(p.isNull());
  window = nullptr;
}

TEST_F(StationWindowTest, WithoutAConnectionItClosesItself) {
  activation_result = com::E_FAIL;
  Open(kTwoStations);
  EXPECT_TRUE(window->Released());
  EXPECT_EQ(entry.window, nullptr);
  EXPECT_EQ(messages.boxes.size(), 2u);
  QPointer<TStation> p(window);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(p.isNull());
  window = nullptr;
}

}  // namespace
}  // namespace lumaro::testing
