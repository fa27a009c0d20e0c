#include "configurator/windows/main_window.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>

#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "configurator/channel_grid.h"
#include "configurator/tests/gui/gui_fixture.h"
#include "configurator/windows/about_box.h"
#include "configurator/windows/channel_grid_widget.h"
#include "configurator/windows/project_name_dialog.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/station_dialog.h"
#include "configurator/windows/zfm_dialog.h"

namespace configurator::windows {
namespace {

using platform::MessageAnswer;
using testing::MainWindowTest;
using testing::OnModal;
using testing::Type;

// A project of the example installation: Brunnen (three channels) with Hochbehaelter below
// it, and Pumpwerk.
const char* const kProject =
    "[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,MoP-Modem,2\r\nOption=0,0\r\nRS232=COM1,9600,None,8,1\r\nMODUS=1\r\n\r\n"
    "[UNTERSTATIONEN]\r\nTYP=Brunnen,RM-Kompakt,0,3,0,0\r\nTYP=Hochbeh\xE4lter,RM-Kompakt,0,12,3,0\r\n"
    "TYP=Pumpwerk,RM-Gro\xDF,0,5,0,0\r\n\r\n"
    "[KONFIGURATOR]\r\nBrunnen=11\r\nHochbeh\xE4lter=11\r\nPumpwerk=12\r\n\r\n"
    "[ADR003+]\r\nInfo=9,2,0,0,0,0\r\nOption=0,0\r\n[ADR003]\r\nKANAL=AA,Stell,%,0.5,0,1\r\n"
    "KANAL=AE,Pegel,m,0.1,0,2\r\nKANAL=BE,Alarm,,0,0,0\r\n\r\n"
    "[ADR012+]\r\nInfo=9,2,0,0,0,0\r\nOption=0,0\r\n[ADR012]\r\n\r\n"
    "[ADR005+]\r\nInfo=1,0,0,0,0,0\r\nOption=0,0\r\n[ADR005]";

class ProjectWindowTest : public MainWindowTest {
 protected:
  // The window with the project opened from the last-active entry.
  void OpenProject() {
    std::filesystem::create_directories(dir / "Data");
    dir.Write("Data/Anlage.INI", kProject);
    Open("[ALLGEMEIN]\r\nLETZE AKTIVE KONFIGURATION=" + dir / "Data/Anlage" + "\r\n");
    ASSERT_TRUE(window->mnuLastActive->isEnabled());
    window->mnuLastActive->trigger();
    ASSERT_TRUE(window->tvFML->isVisible()) << ::testing::PrintToString(boxes.Texts());
  }
  QTreeWidgetItem* Item(const char* text) {
    QList<QTreeWidgetItem*> found = window->tvFML->findItems(Q(text), Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
  }
  QPoint At(QTreeWidgetItem* item) { return window->tvFML->visualItemRect(item).center(); }
  void Click(const char* text) { QTest::mouseClick(window->tvFML->viewport(), Qt::LeftButton, {}, At(Item(text))); }
  QPoint CellAt(int row, int col) { return window->sgKanal->visualRect(window->sgKanal->model()->index(row, col)).center(); }
  // Clicks into a cell of the selected station's grid and selects its text, as a user starts
  // typing over it.
  void EditCell(int row, int col) {
    QTest::mouseClick(window->sgKanal->viewport(), Qt::LeftButton, {}, CellAt(row, col));
    ASSERT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr) << "the cell is edited in place";
    Type(Qt::Key_A, Qt::ControlModifier);
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QWidget* vp = window->tvFML->viewport();
    QMouseEvent e(type, at, vp->mapToGlobal(at), Qt::LeftButton, buttons, {});
    QApplication::sendEvent(vp, &e);
  }
};

TEST_F(MainWindowTest, FirstTickTranslatesTheSurface) {
  Open();
  const std::string title = "Konfigurationsprogramm f\xFCr Qar OPC Data Access Server f\xFCr Funkmodems";
  EXPECT_EQ(Cp(window->windowTitle()), title + " - kein Projekt ge\xF6" "ffnet");
  EXPECT_EQ(window->width(), 700);
  EXPECT_EQ(window->mnuDatei->title(), "&Datei");
  EXPECT_EQ(Cp(window->mnuDateiOeffnen->text()), "\xD6&" "ffnen...");
  EXPECT_EQ(window->N171OpenRecent->title(), Q("&Zuletzt ge\xF6" "ffnet"));
  EXPECT_EQ(window->mnuInfo->text(), "&Info...");
  EXPECT_EQ(Cp(window->pmFM_Loeschen->text()), "FM l\xF6schen");
  EXPECT_EQ(window->mnuLastActive->text(), "Unbekannt");
  EXPECT_FALSE(window->mnuLastActive->isEnabled());
  struct Shortcut {
    QAction* action;
    const char* keys;
  } shortcuts[] = {{window->mnuDateiOeffnen, "F3"},       {window->mnuDateiSpeichern, "F2"},
                   {window->mnuDateiBeenden, "Alt+X"},    {window->mnuFunkmodemZFM, "Ctrl+Z"},
                   {window->mnuFunkmodemEinfuegen, "Ctrl+E"}, {window->mnuFunkmodemBearbeiten, "Ctrl+B"},
                   {window->mnuFunkmodemLoeschen, "Ctrl+L"},  {window->mnuInfo, "Ctrl+I"}};
  for (const Shortcut& s : shortcuts) EXPECT_EQ(s.action->shortcut(), QKeySequence(s.keys)) << s.keys;
  EXPECT_TRUE(window->mnuDateiNeu->isEnabled());
  EXPECT_TRUE(window->mnuDateiOeffnen->isEnabled());
  EXPECT_FALSE(window->mnuDateiSpeichern->isEnabled());
  EXPECT_FALSE(window->mnuDateiErstelleINI->isEnabled());
  EXPECT_FALSE(window->mnuFunkmodem->menuAction()->isEnabled());
  EXPECT_TRUE(window->pnlBackground->isVisible());
  EXPECT_FALSE(window->tvFML->isVisible());
  EXPECT_EQ(window->StatusPanel1->text(), "22:13, 14.11.2023");
  EXPECT_EQ(Cp(window->mnuDateiSpeichern->statusTip()), "Speichern");
  EXPECT_TRUE(boxes.boxes.empty());
}

// The hint of the control under the mouse goes to panel 0; the clock beside it stays.
TEST_F(MainWindowTest, AHintLeavesTheClockInTheStatusBar) {
  Open();
  QToolBar* bar = window->findChild<QToolBar*>();
  QStatusTipEvent hint(window->mnuDateiOeffnen->statusTip());  // the mouse over the open button
  QApplication::sendEvent(bar->widgetForAction(window->mnuDateiOeffnen), &hint);
  EXPECT_EQ(Cp(window->StatusPanel0->text()), "\xD6" "ffnen");
  EXPECT_TRUE(window->StatusPanel0->isVisible());
  EXPECT_TRUE(window->StatusPanel1->isVisible());
  EXPECT_EQ(window->StatusPanel1->text(), "22:13, 14.11.2023");
  EXPECT_TRUE(window->statusBar()->currentMessage().isEmpty());
}

// An enabled toolbar button looks enabled: its glyph has strong colour or dark lines that the
// disabled form lacks.
TEST_F(MainWindowTest, EnabledToolbarGlyphsLookEnabled) {
  Open();
  QToolBar* bar = window->findChild<QToolBar*>();
  for (QAction* a : bar->actions()) {
    if (a->isSeparator()) continue;
    SCOPED_TRACE(Cp(a->text()));
    auto strong = [](const QImage& image) {
      int n = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
          const QColor c = image.pixelColor(x, y);
          n += c.alpha() > 200 && (c.lightness() < 80 || c.hsvSaturation() > 150);
        }
      return n;
    };
    const QSize size = bar->iconSize();
    EXPECT_GE(strong(a->icon().pixmap(size, QIcon::Normal).toImage()), 6);
    EXPECT_LT(strong(a->icon().pixmap(size, QIcon::Disabled).toImage()), 6);
  }
}

TEST_F(MainWindowTest, AMissingLanguageFileEndsTheProgram) {
  Open("[ALLGEMEIN]\r\nSPRACHE=fehlt.spr\r\n");
  EXPECT_TRUE(window->Logic().Terminated);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Die Sprachdatei fehlt.\r" + dir / "fehlt.spr"});
}

TEST_F(MainWindowTest, NewRunsTheNameAndTheCentralModemDialogs) {
  Open();
  OnModal<TfrmProjektname>([](TfrmProjektname* d) {
    Type("Anlage");
    d->btnOK->click();
    OnModal<TfrmZFM>([](TfrmZFM* z) {
      EXPECT_EQ(Cp(z->windowTitle()), "Zentralfunkmodem einrichten");
      z->editName->setText("Zentrale");
      z->btnOK->click();
    });
  });
  window->mnuDateiNeu->trigger();
  ASSERT_EQ(window->tvFML->topLevelItemCount(), 1);
  EXPECT_EQ(window->tvFML->topLevelItem(0)->text(0), "Zentrale");
  EXPECT_TRUE(window->tvFML->topLevelItem(0)->isSelected());
  EXPECT_TRUE(window->windowTitle().endsWith(" - [Anlage]"));
  EXPECT_FALSE(window->pnlBackground->isVisible());
  EXPECT_TRUE(window->mnuDateiSpeichern->isEnabled());
  EXPECT_TRUE(window->mnuDateiErstelleINI->isEnabled());
  EXPECT_TRUE(window->mnuFunkmodem->menuAction()->isEnabled());
  EXPECT_EQ(window->stFuMoName->text(), "Zentrale");
  EXPECT_EQ(window->stBetriebsart->text(), "ISM");
  EXPECT_TRUE(window->stBetriebsart->isVisible());
  EXPECT_FALSE(window->sgKanal->isVisible());
  EXPECT_FALSE(window->lblHinweis->isVisible());
}

// A project name beyond ASCII: the file system's encoding in the file name, Windows-1252 in
// the questions and in CONFIG.CFG, and the next start opens it again.
TEST_F(MainWindowTest, AProjectNameWithUmlautsIsTheSameNameInFilesAndTexts) {
  Open();
  OnModal<TfrmProjektname>([](TfrmProjektname*) {
    Type(Q("Pr\xFC" "f"));
    Type(Qt::Key_Return);
    OnModal<TfrmZFM>([](TfrmZFM* z) {
      z->editName->setText("Zentrale");
      z->btnOK->click();
    });
  });
  window->mnuDateiNeu->trigger();
  EXPECT_TRUE(window->windowTitle().endsWith(Q(" - [Pr\xFC" "f]")));
  Type(Qt::Key_F2);
  EXPECT_TRUE(boxes.boxes.empty());
  const std::string file = dir / "Data/Pr\xC3\xBC" "f.INI";
  EXPECT_TRUE(std::filesystem::exists(file));

  Project().Modified = true;
  window->MainTimer();
  boxes.answers = {MessageAnswer::No, MessageAnswer::No};
  Type(Qt::Key_F2);
  EXPECT_TRUE(window->close());
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{
                               "Das Projekt Pr\xFC" "f gibt es schon. Soll es \xFC" "berschrieben werden?",
                               "Das Projekt " + dir / "Data/Pr\xFC" "f wurde ge\xE4ndert.\r"
                                   "Sollen die \xC4nderungen gespeichert werden?"}));
  window.reset();
  core.reset();
  EXPECT_NE(dir.Read("CONFIG.CFG").find("ZULETZT VERWENDET0=" + dir / "Data/Pr\xFC" "f\r\n"), std::string::npos);

  Open();
  QList<QAction*> recent = window->N171OpenRecent->actions();
  ASSERT_EQ(recent.size(), 3);
  EXPECT_EQ(recent[2]->text(), QString::fromStdString(dir / "Data/Pr\xC3\xBC" "f"));
  recent[2]->trigger();
  EXPECT_TRUE(window->tvFML->isVisible());
  EXPECT_EQ(Project().ProjectPath + ".INI", file);
}

TEST_F(ProjectWindowTest, ClickingANodeShowsItsDetailsAndChannels) {
  OpenProject();
  EXPECT_TRUE(window->lblHinweis->isVisible()) << "nothing is selected after opening";
  EXPECT_TRUE(Item("Hochbeh\xE4lter")->parent()->isExpanded());
  Click("Brunnen");
  EXPECT_EQ(window->stFuMoName->text(), "Brunnen");
  EXPECT_EQ(window->stFuMoAdresse->text(), "3");
  EXPECT_EQ(window->stAnalogAus->text(), "1");
  EXPECT_EQ(window->stDigitalAus->text(), "---");
  EXPECT_FALSE(window->stBetriebsart->isVisible());
  ASSERT_TRUE(window->sgKanal->isVisible());
  ASSERT_EQ(window->sgKanal->rowCount(), 3);
  EXPECT_EQ(window->sgKanal->horizontalHeaderItem(0), nullptr);
  EXPECT_EQ(window->sgKanal->item(1, 0)->text(), "Pegel");

  // The label column is drawn in the colour of each channel's kind, the text 2, 4 pixels in.
  QImage shot = window->sgKanal->grab().toImage();
  QHeaderView* labels = window->sgKanal->verticalHeader();
  struct Row {
    int row;
    QColor colour;
  } rows[] = {{0, QColor(0, 255, 255)}, {1, QColor(0, 255, 0)}, {2, QColor(255, 255, 0)}};
  for (const Row& r : rows) {
    const QPoint cell(labels->x() + labels->width() - 4, labels->y() + labels->sectionViewportPosition(r.row) + 3);
    EXPECT_EQ(shot.pixelColor(cell), r.colour) << r.row;
  }
  // The columns fill the grid, and every fixed cell's text fits its cell from 2 pixels in.
  TChannelGridWidget* grid = window->sgKanal;
  int total = labels->width();
  for (int c = 0; c < grid->columnCount(); ++c) total += grid->columnWidth(c);
  EXPECT_EQ(total, grid->width() - 2 * grid->frameWidth() - grid->verticalScrollBar()->sizeHint().width());
  const QFontMetrics metrics(grid->horizontalHeader()->font());
  for (int c = 0; c < grid->columnCount(); ++c) {
    const QString header = Q(window->Logic().Grid.Cell(c + 1, 0));
    EXPECT_LE(2 + metrics.horizontalAdvance(header), grid->columnWidth(c)) << header.toStdString();
  }
  EXPECT_GE(grid->columnWidth(4), 64);
  for (const char* label : {"AnaOut 99", "AnaIn 99", "DigOut 99", "DigIn 99"})
    EXPECT_LE(2 + QFontMetrics(labels->font()).horizontalAdvance(label), labels->width()) << label;

  Click("Zentrale");
  EXPECT_FALSE(window->sgKanal->isVisible());
  EXPECT_EQ(window->stBetriebsart->text(), "MoP");
}

// With nothing selected, no box of the detail group keeps what the station shown before had.
TEST_F(ProjectWindowTest, NothingSelectedEmptiesTheDetails) {
  OpenProject();
  Click("Brunnen");
  ASSERT_EQ(window->stFuMoAdresse->text(), "3");
  window->mnuLastActive->trigger();  // the project again: nothing is selected
  EXPECT_TRUE(window->lblHinweis->isVisible());
  for (QLabel* box : {window->stFuMoName, window->stFuMoTyp, window->stFuMoAdresse, window->stBetriebsart})
    EXPECT_EQ(box->text(), "") << box->objectName().toStdString();
}

template <class T>
bool Is(QDialog* d) {
  return dynamic_cast<T*>(d) != nullptr;
}

// The main window and its dialogs come up in the middle of the screen, not over the window that
// opens them.
TEST_F(ProjectWindowTest, WindowsAreCentredOnTheScreen) {
  OpenProject();
  const QPoint middle = window->screen()->availableGeometry().center();
  // The frame's middle, up to half the frame's own size (a title bar), which is not known before
  // the window shows.
  auto centred = [&](QWidget* w) {
    const QPoint off = w->frameGeometry().center() - middle;
    const QSize frame = w->frameGeometry().size() - w->size();
    return std::abs(off.x()) <= frame.width() / 2 + 2 && std::abs(off.y()) <= frame.height() / 2 + 2;
  };
  EXPECT_TRUE(centred(window.get()));
  window->move(0, 0);
  Click("Brunnen");
  struct Row {
    const char* dialog;
    bool (*is)(QDialog*);
    std::function<void()> open;
  } rows[] = {
      {"station", Is<TfrmFuMo>, [] { Type(Qt::Key_B, Qt::ControlModifier); }},
      {"central modem", Is<TfrmZFM>, [] { Type(Qt::Key_Z, Qt::ControlModifier); }},
      {"about box", Is<TAboutWnd>, [] { Type(Qt::Key_I, Qt::ControlModifier); }},
      {"project name", Is<TfrmProjektname>, [&] { window->mnuDateiNeu->trigger(); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.dialog);
    bool shown = false;
    OnModal<QDialog>([&](QDialog* d) {
      shown = true;
      EXPECT_TRUE(centred(d));
      EXPECT_TRUE(r.is(d));
      d->reject();
    });
    boxes.answers = {MessageAnswer::No};
    r.open();
    EXPECT_TRUE(shown);
  }
  EXPECT_EQ(QApplication::focusWidget(), window->tvFML) << "a cancelled New gives the tree the keyboard back";
}

TEST_F(ProjectWindowTest, AGridCellIsRefusedUntilItHoldsAUsableName) {
  OpenProject();
  Click("Brunnen");
  TChannelGridWidget* grid = window->sgKanal;
  EditCell(0, 0);
  Type("Soll.wert");
  Type(Qt::Key_Tab);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Der Kanalname enth\xE4lt ein unzul\xE4ssiges Zeichen."});
  EXPECT_EQ(grid->currentRow(), 0);
  EXPECT_EQ(grid->currentColumn(), 0);

  // Leaving the grid for the tree brings the stored name back.
  Click("Brunnen");
  EXPECT_EQ(QApplication::focusWidget(), window->tvFML);
  EXPECT_EQ(Project().CurrentNode->Station()->Channels[0].Name, "Stell");
  EXPECT_EQ(window->Logic().Grid.Cell(1, 1), "Stell");

  boxes.boxes.clear();
  EditCell(0, 1);
  Type("m/s");
  Type(Qt::Key_Tab);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(Project().CurrentNode->Station()->Channels[0].Einheit, "m/s");
  EXPECT_EQ(grid->currentColumn(), 2) << "Tab moves on to the factor";
  window->MainTimer();  // the next tick enables Save
  EXPECT_TRUE(window->mnuDateiSpeichern->isEnabled());
}

// Each refusal of a cell says what was refused, in the program's language, as an error box;
// the cell keeps the keyboard and the channel keeps its value.
TEST_F(ProjectWindowTest, ARefusedCellSaysWhatWasRefused) {
  OpenProject();
  Click("Brunnen");
  const std::string uncodable = "Dieses Zeichen kann nicht gespeichert werden.\rU+03A9";
  const std::string range = "Der Wert liegt au\xDF" "erhalb des zul\xE4ssigen Bereichs.\r";
  struct Row {
    int row, col;
    QString typed;
    std::string box;
  } rows[] = {
      {0, 1, "a;b", "Die Einheit enth\xE4lt ein unzul\xE4ssiges Zeichen."},
      {0, 0, QString::fromUtf16(u"\u03A91"), uncodable},
      {1, 1, QString::fromUtf16(u"k\u03A9"), uncodable},
      {0, 2, "1e7", range + "1e7 (-999999..999999)"},
      {1, 3, "abc", "Der Wert ist keine Zahl.\rabc"},
      {1, 4, "11", range + "11 (0..10)"},
      {1, 4, "1.5", "Der Wert ist keine ganze Zahl.\r1.5"},
  };
  const std::vector<TWert> stored = Project().CurrentNode->Station()->Channels;
  for (const Row& r : rows) {
    SCOPED_TRACE(Cp(r.typed));
    boxes.boxes.clear();
    EditCell(r.row, r.col);
    Type(r.typed);
    Type(Qt::Key_Tab);
    ASSERT_EQ(boxes.Texts(), std::vector<std::string>{r.box});
    EXPECT_EQ(boxes.boxes[0].kind, platform::MessageKind::Error);
    EXPECT_EQ(window->sgKanal->currentRow(), r.row);
    EXPECT_EQ(window->sgKanal->currentColumn(), r.col);
    Click("Brunnen");
    const TWert& w = Project().CurrentNode->Station()->Channels[size_t(r.row)];
    EXPECT_EQ(TChannelGrid::ValueText(w, r.col + 1), TChannelGrid::ValueText(stored[size_t(r.row)], r.col + 1));
    EXPECT_EQ(window->Logic().Grid.Cell(r.col + 1, r.row + 1), TChannelGrid::ValueText(w, r.col + 1));
  }
}

// Station names that differ only in case: each keeps its own type from the file, and writing
// the project and Ostrel.INI gives the file back byte for byte.
TEST_F(MainWindowTest, StationNamesThatDifferOnlyInCaseKeepTheirTypes) {
  const std::string stored =
      "[ZENTRALFUNKMODEM]\r\nTYP=Zentrale,MoP-Modem,2\r\nOption=0,0\r\nRS232=COM1,9600,None,8,1\r\nMODUS=1\r\n\r\n"
      "[UNTERSTATIONEN]\r\nTYP=Nord,RM-Kompakt,0,1,0,0\r\nTYP=NORD,RM-Gro\xDF,0,2,0,0\r\n\r\n"
      "[KONFIGURATOR]\r\nNord=11\r\nNORD=12\r\n\r\n"
      "[ADR001+]\r\nInfo=9,2,0,0,0,1\r\nOption=0,0\r\n[ADR001]\r\nKANAL=AA,AO1,,0,0,0\r\n\r\n"
      "[ADR002+]\r\nInfo=1,0,1,0,0,1\r\nOption=0,0\r\n[ADR002]\r\nKANAL=AA,AO1,,0,0,0\r\nKANAL=BE,DI1,,0,0,0\r\n";
  std::filesystem::create_directories(dir / "Data");
  dir.Write("Data/Anlage.INI", stored);
  Open("[ALLGEMEIN]\r\nLETZE AKTIVE KONFIGURATION=" + dir / "Data/Anlage" + "\r\n");
  window->mnuLastActive->trigger();
  struct Row {
    const char* name;
    const char* type;
    int channels;
  } rows[] = {{"NORD", "RM-Gro\xDF", 2}, {"Nord", "RM-Kompakt", 1}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    QList<QTreeWidgetItem*> found = window->tvFML->findItems(Q(r.name), Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(found.size(), 1);
    QTest::mouseClick(window->tvFML->viewport(), Qt::LeftButton, {}, window->tvFML->visualItemRect(found[0]).center());
    EXPECT_EQ(window->stFuMoName->text(), r.name);
    EXPECT_EQ(Cp(window->stFuMoTyp->text()), r.type);
    EXPECT_EQ(window->sgKanal->rowCount(), r.channels);
  }
  boxes.answers = {MessageAnswer::Yes, MessageAnswer::Ok};  // overwrite the project, then the note
  window->mnuDateiErstelleINI->trigger();
  EXPECT_EQ(boxes.boxes.size(), 2u) << ::testing::PrintToString(boxes.Texts());
  EXPECT_EQ(dir.Read("Ostrel.INI"), stored);
  EXPECT_EQ(dir.Read("Data/Anlage.INI"), stored);
}

// Whatever made a node current (keys, the mouse, a closed station dialog), the tree keeps the
// keyboard: its keys act on the stations, and no cell of the grid is edited behind them.
TEST_F(ProjectWindowTest, TreeKeysActOnTheTreeAfterEveryTreeChange) {
  OpenProject();
  struct Row {
    const char* name;
    std::function<void()> toBrunnen;
  } rows[] = {
      {"arrow key from a station without channels",
       [&] {
         Click("Hochbeh\xE4lter");
         Type(Qt::Key_Up);
       }},
      {"mouse from a station without channels",
       [&] {
         Click("Pumpwerk");
         Click("Brunnen");
       }},
      {"the station dialog closed",
       [&] {
         Click("Brunnen");
         OnModal<TfrmFuMo>([](TfrmFuMo* d) { d->btnOK->click(); });
         Type(Qt::Key_Return);
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    r.toBrunnen();
    ASSERT_EQ(window->tvFML->currentItem(), Item("Brunnen"));
    EXPECT_TRUE(window->sgKanal->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), window->tvFML);

    boxes.boxes.clear();
    boxes.answers = {MessageAnswer::No};
    Type(Qt::Key_Delete);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Die Unterstationen werden mit gel\xF6scht.\r"
                                                      "Soll Brunnen gel\xF6scht werden?"});
    EXPECT_EQ(Project().CurrentNode->Station()->Channels[0].Name, "Stell");

    Type(Qt::Key_Down);
    EXPECT_EQ(window->tvFML->currentItem(), Item("Hochbeh\xE4lter"));
    std::string edited;
    OnModal<TfrmFuMo>([&](TfrmFuMo* d) {
      edited = Cp(d->editName->text());
      d->btnAbbrechen->click();
    });
    Type(Qt::Key_Return);
    EXPECT_EQ(edited, "Hochbeh\xE4lter");
  }
  window->MainTimer();
  EXPECT_EQ(Project().Tree.Root()->Children().size(), 2u) << "nothing was deleted";
}

// A station command given while a cell is edited changes the tree: the grid is hidden before
// the new node shows, the tree takes the keyboard and no cell editor stays open, so Delete asks
// to delete the station instead of erasing a channel name.
TEST_F(ProjectWindowTest, StationCommandsFromACellEditorGiveTheTreeTheKeyboard) {
  auto insert = [&](std::function<void()> give) {
    return [this, give] {
      OnModal<TfrmFuMo>([](TfrmFuMo* d) { d->btnOK->click(); });
      give();
    };
  };
  struct Row {
    const char* name;
    bool nested;          // the cell edited is one of a station below Brunnen
    std::function<void()> command;
    const char* shown;    // the station shown afterwards
    std::string question; // what Delete asks about it
  } rows[] = {
      {"Ctrl+E, OK", false, insert([] { Type(Qt::Key_E, Qt::ControlModifier); }), "Station",
       "Soll Station gel\xF6scht werden?"},
      {"Insert on the toolbar, OK", false,
       insert([&] {
         QToolBar* bar = window->findChild<QToolBar*>();
         QTest::mouseClick(bar->widgetForAction(window->mnuFunkmodemEinfuegen), Qt::LeftButton);
       }),
       "Station", "Soll Station gel\xF6scht werden?"},
      {"Ctrl+L, Ja", true,
       [&] {
         boxes.answers = {MessageAnswer::Yes};
         Type(Qt::Key_L, Qt::ControlModifier);
       },
       "Brunnen", "Die Unterstationen werden mit gel\xF6scht.\rSoll Brunnen gel\xF6scht werden?"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    OpenProject();
    Click("Brunnen");
    if (r.nested) {
      OnModal<TfrmFuMo>([](TfrmFuMo* d) { d->btnOK->click(); });
      Type(Qt::Key_Insert);
      ASSERT_EQ(window->tvFML->currentItem(), Item("Station"));
    }
    EditCell(0, 0);
    boxes.boxes.clear();
    r.command();
    ASSERT_EQ(window->tvFML->currentItem(), Item(r.shown));
    EXPECT_EQ(Cp(window->stFuMoName->text()), r.shown);
    EXPECT_TRUE(window->sgKanal->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), window->tvFML);
    for (const QLineEdit* editor : window->sgKanal->findChildren<QLineEdit*>())
      EXPECT_FALSE(editor->isVisible()) << "an editor is open on " << Cp(editor->text());

    const std::vector<TWert> channels = Project().CurrentNode->Station()->Channels;
    ASSERT_FALSE(channels.empty());
    boxes.boxes.clear();
    boxes.answers = {MessageAnswer::No};
    Type(Qt::Key_Backspace);  // the keys that erase a cell's text do nothing in the tree
    Type(Qt::Key_Delete);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{r.question});
    ASSERT_EQ(Project().CurrentNode->Station()->Channels.size(), channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
      EXPECT_EQ(Project().CurrentNode->Station()->Channels[i].Name, channels[i].Name) << i;
      EXPECT_EQ(window->Logic().Grid.Cell(1, int(i) + 1), channels[i].Name) << "what the next save takes";
    }
  }
}

// Looking at stations and saving are no changes: neither Close nor New asks to save.
TEST_F(ProjectWindowTest, NoSaveQuestionWithoutAChange) {
  auto close = [&] {
    Type(Qt::Key_X, Qt::AltModifier);
    EXPECT_FALSE(window->isVisible()) << "the window closes at once";
  };
  struct Row {
    const char* name;
    std::function<void()> before;
    std::function<void()> act;
  } rows[] = {
      {"Alt+X after a click on a station", [] {}, close},
      {"Alt+X with a cell editor open", [&] { EditCell(0, 1); }, close},
      {"Alt+X after the same text typed again", [&] {
         EditCell(0, 1);
         Type("%");
         Type(Qt::Key_Tab);
       },
       close},
      {"Alt+X after F2",
       [&] {
         boxes.answers = {MessageAnswer::Yes};  // over the project file
         Type(Qt::Key_F2);
       },
       close},
      {"New after a click on a station", [] {},
       [&] {
         bool asked = false;
         OnModal<TfrmProjektname>([&](TfrmProjektname* d) {
           asked = true;
           d->btnAbbrechen->click();
         });
         window->mnuDateiNeu->trigger();
         EXPECT_TRUE(asked) << "the project name is asked for at once";
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    OpenProject();
    Click("Brunnen");
    r.before();
    window->MainTimer();
    EXPECT_FALSE(window->mnuDateiSpeichern->isEnabled());
    boxes.boxes.clear();
    r.act();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
  }
}

// Escape in a cell editor puts back the text from before the edit; the cell is taken only when
// the editor is left, so nothing of the typing is stored.
TEST_F(ProjectWindowTest, EscapeInACellEditorPutsBackTheText) {
  struct Row {
    const char* name;
    int col;
    const char* typed;
    bool tab;  // Tab before Escape: the typed text is refused
    const char* stored;
  } rows[] = {
      {"unit", 1, "Liter", false, "%"},
      {"name", 0, "Soll", false, "Stell"},
      {"factor", 2, "7", false, "0.5"},
      {"a refused factor", 2, "viel", true, "0.5"},
  };
  OpenProject();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Click("Brunnen");
    EditCell(0, r.col);
    Type(Q(r.typed));
    boxes.boxes.clear();
    if (r.tab) {
      Type(Qt::Key_Tab);
      ASSERT_EQ(boxes.boxes.size(), 1u) << "refused";
    }
    Type(Qt::Key_Escape);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr) << "the editor stays";
    EXPECT_EQ(Cp(editor->text()), r.stored);
    Click("Brunnen");  // leaves the grid
    EXPECT_EQ(QApplication::focusWidget(), window->tvFML);
    EXPECT_EQ(boxes.boxes.size(), r.tab ? 1u : 0u);
    EXPECT_EQ(TChannelGrid::ValueText(Project().CurrentNode->Station()->Channels[0], r.col + 1), r.stored);
    EXPECT_EQ(window->Logic().Grid.Cell(r.col + 1, 1), r.stored);
    window->MainTimer();
    EXPECT_FALSE(window->mnuDateiSpeichern->isEnabled()) << "nothing changed";
  }
}

// A Ctrl+click on the selected node leaves it selected: the details and the commands go on
// acting on the station they show.
TEST_F(ProjectWindowTest, CtrlClickKeepsTheNodeSelected) {
  OpenProject();
  Click("Brunnen");
  QTest::mouseClick(window->tvFML->viewport(), Qt::LeftButton, Qt::ControlModifier, At(Item("Brunnen")));
  EXPECT_TRUE(Item("Brunnen")->isSelected());
  EXPECT_EQ(window->tvFML->currentItem(), Item("Brunnen"));
  EXPECT_EQ(window->stFuMoName->text(), "Brunnen");
  EXPECT_TRUE(window->sgKanal->isVisible());
  boxes.answers = {MessageAnswer::No};
  Type(Qt::Key_Delete);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Die Unterstationen werden mit gel\xF6scht.\r"
                                                    "Soll Brunnen gel\xF6scht werden?"});
}

// Every way of saving takes the cell being edited along, also when that edit is the project's
// only change.
TEST_F(ProjectWindowTest, SavingTakesThePendingCellEdit) {
  struct Row {
    const char* name;
    std::deque<MessageAnswer> answers;
    std::function<void()> save;
    std::vector<const char*> files;
  } rows[] = {
      {"close with Alt+X, Yes", {MessageAnswer::Yes}, [] { Type(Qt::Key_X, Qt::AltModifier); }, {"Data/Anlage.INI"}},
      {"New on the toolbar, Yes",
       {MessageAnswer::Yes},
       [&] {
         OnModal<TfrmProjektname>([](TfrmProjektname* d) { d->btnAbbrechen->click(); });
         QToolBar* bar = window->findChild<QToolBar*>();
         QTest::mouseClick(bar->widgetForAction(window->mnuDateiNeu), Qt::LeftButton);
       },
       {"Data/Anlage.INI"}},
      {"Erzeuge Ostrel.INI",
       {MessageAnswer::Yes, MessageAnswer::Ok},
       [&] { window->mnuDateiErstelleINI->trigger(); },
       {"Ostrel.INI", "Data/Anlage.INI"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    OpenProject();
    Click("Brunnen");
    EditCell(0, 1);
    Type("mA");
    boxes.boxes.clear();
    boxes.answers = r.answers;
    r.save();
    EXPECT_FALSE(boxes.boxes.empty()) << "the typed unit is a change to save";
    for (const char* file : r.files)
      EXPECT_NE(dir.Read(file).find("KANAL=AA,Stell,mA,"), std::string::npos) << file;
  }
}

// The menu shortcuts work while a cell is being edited.
TEST_F(ProjectWindowTest, MenuShortcutsWorkInTheCellEditor) {
  OpenProject();
  bool opened = false;
  auto expectModal = [&]<class T>(T*) {
    return [&] {
      OnModal<T>([&](T* d) {
        opened = true;
        d->reject();
      });
    };
  };
  struct Row {
    const char* keys;
    std::function<void()> arm;  // waits for the dialog the keys open; none for a message box
  } rows[] = {
      {"Ctrl+E", expectModal(static_cast<TfrmFuMo*>(nullptr))},
      {"Ctrl+B", expectModal(static_cast<TfrmFuMo*>(nullptr))},
      {"Ctrl+Z", expectModal(static_cast<TfrmZFM*>(nullptr))},
      {"Ctrl+I", expectModal(static_cast<TAboutWnd*>(nullptr))},
      {"Ctrl+L", nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.keys);
    Click("Brunnen");
    EditCell(0, 1);
    opened = false;
    boxes.boxes.clear();
    boxes.answers = {MessageAnswer::No};
    if (r.arm) r.arm();
    const QKeySequence keys(QString::fromLatin1(r.keys));
    Type(Qt::Key(keys[0].key()), keys[0].keyboardModifiers());
    if (r.arm)
      EXPECT_TRUE(opened);
    else
      EXPECT_EQ(boxes.boxes.size(), 1u);
  }
}

TEST_F(ProjectWindowTest, KeysDoubleClickAndContextMenu) {
  OpenProject();
  Click("Zentrale");
  Type(Qt::Key_Delete);
  EXPECT_TRUE(boxes.boxes.empty()) << "delete is disabled on the central modem; the key does nothing";

  std::string shown;
  QString hintShown;
  OnModal<TfrmFuMo>([&](TfrmFuMo* d) {
    shown = Cp(d->editName->text());
    QStatusTipEvent hint(d->cbTyp->statusTip());  // the mouse over the type box
    QApplication::sendEvent(d->cbTyp, &hint);
    hintShown = window->StatusPanel0->text();
    d->btnAbbrechen->click();
  });
  // The events of a real double click: press, release, double click, release.
  const QPoint pumpwerk = At(Item("Pumpwerk"));
  Mouse(QEvent::MouseButtonPress, pumpwerk, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, pumpwerk, Qt::NoButton);
  Mouse(QEvent::MouseButtonDblClick, pumpwerk, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, pumpwerk, Qt::NoButton);
  EXPECT_EQ(shown, "Pumpwerk");
  EXPECT_EQ(hintShown, "Typ des Funkmodems") << "a dialog's hint shows in the status bar";
  EXPECT_EQ(Cp(window->StatusPanel0->text()), "") << "and goes with the dialog";

  // The context menu acts on the current node, whichever node it opens over.
  struct Row {
    const char* current;
    bool insert, remove;
  } rows[] = {{"Zentrale", true, false}, {"Pumpwerk", true, true}};
  for (const Row& r : rows) {
    Click(r.current);
    emit window->tvFML->customContextMenuRequested(At(Item("Brunnen")));
    EXPECT_TRUE(window->KontextMenu->isVisible());
    EXPECT_EQ(window->pmFM_Einfuegen->isEnabled(), r.insert) << r.current;
    EXPECT_TRUE(window->pmFM_Bearbeiten->isEnabled());
    EXPECT_EQ(window->pmFM_Loeschen->isEnabled(), r.remove) << r.current;
    window->KontextMenu->close();
  }
}

TEST_F(ProjectWindowTest, DraggingAStationMovesIt) {
  OpenProject();
  const QPoint from = At(Item("Pumpwerk")), to = At(Item("Hochbeh\xE4lter"));
  QTest::mouseClick(window->tvFML->viewport(), Qt::LeftButton, {}, from);
  Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
  Mouse(QEvent::MouseMove, from + QPoint(0, 10), Qt::LeftButton);
  Mouse(QEvent::MouseMove, to, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
  QTreeWidgetItem* moved = Item("Pumpwerk");
  ASSERT_NE(moved, nullptr);
  ASSERT_NE(moved->parent(), nullptr);
  EXPECT_EQ(Cp(moved->parent()->text(0)), "Hochbeh\xE4lter");
  EXPECT_TRUE(moved->isSelected());
  EXPECT_EQ(boxes.beeps, 0);

  // A station with a station below it stays where it is.
  const QPoint brunnen = At(Item("Brunnen"));
  QTest::mouseClick(window->tvFML->viewport(), Qt::LeftButton, {}, brunnen);
  Mouse(QEvent::MouseButtonPress, brunnen, Qt::LeftButton);
  Mouse(QEvent::MouseMove, brunnen + QPoint(0, 30), Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, brunnen + QPoint(0, 30), Qt::NoButton);
  EXPECT_EQ(boxes.beeps, 1);
  EXPECT_EQ(Item("Brunnen")->parent(), window->tvFML->topLevelItem(0));
}

TEST_F(ProjectWindowTest, RecentProjectsAndTheCloseQuestion) {
  OpenProject();
  QList<QAction*> recent = window->N171OpenRecent->actions();
  ASSERT_EQ(recent.size(), 2) << "the last-active entry and the separator";
  window->mnuDateiSpeichern->setEnabled(true);
  Project().Modified = true;
  boxes.answers = {MessageAnswer::Abort};
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  boxes.answers = {MessageAnswer::No};
  EXPECT_TRUE(window->close());
  EXPECT_EQ(boxes.boxes.size(), 2u);
}

}  // namespace
}  // namespace configurator::windows
