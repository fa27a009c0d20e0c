// What only the main window can get wrong: caption, station list, button, labels, status bar,
// and the station windows it makes.
#include "visualisation/qt/main_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "visualisation/qt/station_window.h"
#include "visualisation/tests/gui_app.h"
#include "visualisation/tests/lumaro_fixture.h"

namespace lumaro::testing {
namespace {

using com::Variant;

class MainWindowTest : public LumaroTest {
 protected:
  std::unique_ptr<TOVMain> window;

  void TearDown() override {
    window.reset();
    LumaroTest::TearDown();
  }
  bool Start() {
    window = std::make_unique<TOVMain>(context);
    return window->Start();
  }
  template <class W>
  W* Child(const char* name) {
    W* w = window->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string Text(const char* label) { return Child<QLabel>(label)->text().toStdString(); }
};

TEST_F(MainWindowTest, ShowsTheStationsAndTheCentralModem) {
  WriteIni(kTwoStations);
  Know(TwoStationItems());
  ASSERT_TRUE(Start());
  EXPECT_EQ(window->windowTitle().toStdString(), "Lumaro");
  auto* list = Child<QComboBox>("CBStationen");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->itemText(1).toStdString(), "Brunnen");
  EXPECT_EQ(list->currentIndex(), 0);
  EXPECT_TRUE(Child<QPushButton>("BStationAnzeigen")->isEnabled());
  EXPECT_EQ(Text("LblVersion"), "V 061121");
  EXPECT_EQ(Text("SBZentralePanel1"), "Aktiv");
  EXPECT_EQ(Text("SBZentralePanel2"), "verbunden");
  EXPECT_TRUE(window->StatusTimer().isActive());

  servers.front()->Group("STATUS")->SendData(0, {"Zentrale.RS_STATUS"}, {Variant::I4(7)});
  Run();
  EXPECT_EQ(Text("ZLStatus"), "unbekannt");
  EXPECT_EQ(Child<QLabel>("ZLStatus")->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
  servers.front()->Group("STATUS")->SendData(0, {"Zentrale.RS_DCF_TIME"}, {Variant::I4(2)}, com::OPC_QUALITY_BAD);
  Run();
  EXPECT_EQ(Text("ZLDCFStatus"), "Ok");
  EXPECT_EQ(Child<QLabel>("ZLDCFStatus")->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
  window->show();
  Grab(*window, "main");
}

TEST_F(MainWindowTest, WhenTheServerGoesTheLastValuesShowAsBad) {
  WriteIni(kTwoStations);
  Know(TwoStationItems());
  ASSERT_TRUE(Start());
  window->show();
  servers.front()->Group("STATUS")->SendData(0, {"Zentrale.RS_STATUS", "Zentrale.RM_RECPOWER"},
                                             {Variant::I4(1), Variant::I4(17)});
  Run();
  ASSERT_EQ(Child<QLabel>("ZLStatus")->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));

  servers.front()->ShutdownSink()->ShutdownRequest("");  // the host stops
  Run();
  window->Core().StatusTimer();
  EXPECT_EQ(Text("SBZentralePanel2"), "nicht verbunden");
  for (const char* label : {"ZLStatus", "ZLRecPower"}) {
    SCOPED_TRACE(label);
    EXPECT_EQ(Child<QLabel>(label)->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
  }
  EXPECT_EQ(Text("ZLStatus"), "Ok");  // the last value, now shown as doubtful
  EXPECT_EQ(Text("ZLRecPower"), "17");
}

TEST_F(MainWindowTest, StatusPanelsShowEveryTextWhole) {
  WriteIni(kTwoStations);
  activation_result = com::E_FAIL;
  ASSERT_TRUE(Start());
  window->show();
  ExpectWholeTexts(*window, {{"SBZentralePanel1", {"Aktiv", "Inaktiv"}}, {"SBZentralePanel2", AllServerStatusTexts()}});
  EXPECT_EQ(Text("SBZentralePanel2"), "nicht verbunden");
}

TEST_F(MainWindowTest, TheButtonOpensTheSelectedStationOnce) {
  WriteIni(kTwoStations);
  Know(TwoStationItems());
  ASSERT_TRUE(Start());
  window->show();
  Child<QComboBox>("CBStationen")->setCurrentIndex(1);
  QTest::mouseClick(Child<QPushButton>("BStationAnzeigen"), Qt::LeftButton);
  QTest::mouseClick(Child<QPushButton>("BStationAnzeigen"), Qt::LeftButton);
  auto windows = window->StationWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_TRUE(windows[0]->isVisible());
  EXPECT_EQ(windows[0]->windowTitle().toStdString(), "Station - Brunnen (PT200)");
  EXPECT_EQ(window->Core().Station(1).window, windows[0]);

  windows[0]->close();  // not logging: the window goes and the entry forgets it
  EXPECT_EQ(window->Core().Station(1).window, nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window->StationWindows().empty());
}

TEST_F(MainWindowTest, LoggingModeMakesHiddenWindowsForEveryStation) {
  WriteIni(kTwoStations);
  Know(TwoStationItems());
  current.Write("datenloggen", "");
  ASSERT_TRUE(Start());
  EXPECT_EQ(window->windowTitle().toStdString(), "Lumaro - Loggend");
  auto windows = window->StationWindows();
  ASSERT_EQ(windows.size(), 2u);
  for (TStation* w : windows) EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(servers.size(), 3u);  // the main window's connection and one per station
}

TEST_F(MainWindowTest, WithoutServerTheButtonIsOff) {
  WriteIni(kTwoStations);
  activation_result = com::E_FAIL;
  ASSERT_TRUE(Start());
  EXPECT_FALSE(Child<QPushButton>("BStationAnzeigen")->isEnabled());
  EXPECT_EQ(Child<QComboBox>("CBStationen")->count(), 0);
  EXPECT_EQ(Text("SBZentralePanel1"), "Inaktiv");
  EXPECT_EQ(Text("SBZentralePanel2"), "nicht verbunden");
}

TEST_F(MainWindowTest, FatalStartReportsFailure) {
  EXPECT_FALSE(Start());
  EXPECT_EQ(messages.Texts(),
            std::vector<std::string>{"Die INI-Datei (ostrel.ini) des OPC-Servers konnte nicht gelesen werden!"});
  EXPECT_FALSE(window->StatusTimer().isActive());
}

}  // namespace
}  // namespace lumaro::testing
