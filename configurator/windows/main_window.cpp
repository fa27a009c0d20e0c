#include "configurator/windows/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QThread>
#include <QToolBar>
#include <set>

#include "configurator/core.h"
#include "configurator/station_editor.h"
#include "configurator/windows/channel_grid_widget.h"
#include "configurator/windows/controls.h"
#include "configurator/windows/picture.h"
#include "configurator/windows/project_name_dialog.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/station_dialog.h"
#include "configurator/windows/toolbar_glyphs.h"
#include "configurator/windows/translate_form.h"
#include "configurator/windows/zfm_dialog.h"
#include "configurator/zfm_editor.h"
#include "platform/clock.h"
#include "serial/port_list.h"

namespace configurator::windows {

namespace {

constexpr int kWidth = 700;
constexpr int kTreeWidth = 211;
constexpr int kDetailsWidth = 478;
const char* const kCaption = "@1Konfigurationsprogramm f\xFCr Qar OPC Data Access Server f\xFCr Funkmodems";

// A file's path as the file system holds it, and back for a dialog.
std::string FileSystemPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// A menu entry's plain text for hints: without "&" and a trailing "...".
QString HintOf(QString text) {
  text.remove(QLatin1Char('&'));
  if (text.endsWith(QLatin1String("..."))) text.chop(3);
  return text;
}

QLabel* StaticBox(QWidget* parent, QRect geometry) {
  QLabel* l = NewLabel(parent, "", geometry);
  l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  l->setAutoFillBackground(true);
  QPalette p = l->palette();
  p.setColor(QPalette::Window, Qt::white);
  l->setPalette(p);
  return l;
}

QLabel* Caption(QWidget* parent, const char* text, QRect geometry) { return NewLabel(parent, text, geometry); }

}  // namespace

TfrmMain::TfrmMain(TConfiguratorCore& core, const std::string& programPath, TShell& shell, platform::Clock& clock,
                   bool runTimer)
    : core_(core), shell_(shell), clock_(clock) {
  setWindowTitle(Q(kCaption));
  setFixedWidth(kWidth);
  setMinimumHeight(300);
  resize(kWidth, 520);
  logic_ = std::make_unique<TMainLogic>(core, *this);
  CreateMenus();
  CreateSurface();

  AboutBox1.AppName = "Brindel";
  AboutBox1.Copyright = "Copyright \xA9 Qar";
  AboutBox1.Url = "http://www.qar.example/";
  AboutBox1.SetPicture(LoadPicture(programPath + "Info.JPG"));
  const QImage background = LoadPicture(programPath + ".JPG");
  if (!background.isNull()) pnlBackground->setPixmap(QPixmap::fromImage(background));

  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) { GridExit(old, now); });
  // The hint of any control of the program, dialogs included, goes to the status bar.
  qApp->installEventFilter(this);
  timer_.setInterval(10);
  connect(&timer_, &QTimer::timeout, this, [this] { MainTimer(); });
  if (runTimer) timer_.start();
  Sync();
  FormResize();
  CentreOnScreen(this);
}

TfrmMain::~TfrmMain() {
  timer_.stop();
  disconnect(qApp, nullptr, this, nullptr);
  qApp->removeEventFilter(this);
  // The controls go after the logic: nothing they signal on the way may reach it.
  tvFML->blockSignals(true);
  sgKanal->blockSignals(true);
  tvFML->viewport()->removeEventFilter(this);
  tvFML->removeEventFilter(this);
}

void TfrmMain::CreateMenus() {
  QStyle* s = style();
  auto entry = [this](QMenu* menu, const char* caption, QKeySequence key, std::function<void()> run) {
    auto* a = new QAction(Q(caption), this);
    a->setProperty("caption", QByteArray(caption));
    if (!key.isEmpty()) a->setShortcut(key);
    if (menu) menu->addAction(a);
    connect(a, &QAction::triggered, this, std::move(run));
    return a;
  };
  auto command = [this](void (TMainLogic::*c)()) { return [this, c] { Run(c); }; };

  mnuDatei = menuBar()->addMenu(Q("@10&Datei"));
  mnuDatei->menuAction()->setProperty("caption", QByteArray("@10&Datei"));
  mnuDateiNeu = entry(mnuDatei, "@11&Neu", {}, command(&TMainLogic::New));
  mnuDateiOeffnen = entry(mnuDatei, "@12\xD6&" "ffnen...", Qt::Key_F3, command(&TMainLogic::Open));
  N171OpenRecent = mnuDatei->addMenu(Q("@17&Zuletzt Ge\xF6" "ffnet"));
  N171OpenRecent->menuAction()->setProperty("caption", QByteArray("@17&Zuletzt Ge\xF6" "ffnet"));
  mnuLastActive = N171OpenRecent->addAction(Q("@18Unbekannt"));
  mnuLastActive->setEnabled(false);
  connect(mnuLastActive, &QAction::triggered, this, [this] {
    logic_->OpenRecent(mnuLastActive->data().toByteArray().toStdString());
    Sync();
  });
  N171OpenRecent->addSeparator();
  mnuDateiSpeichern = entry(mnuDatei, "@13&Speichern", Qt::Key_F2, command(&TMainLogic::Save));
  mnuDateiSpeichernU = entry(mnuDatei, "@14Speichern &unter...", {}, command(&TMainLogic::SaveAs));
  mnuDateiErstelleINI = entry(mnuDatei, "@16Erzeuge Ostrel.INI...", {}, command(&TMainLogic::CreateServerIni));
  mnuDatei->addSeparator();
  mnuDateiBeenden = entry(mnuDatei, "@15&Beenden", QKeySequence(Qt::ALT | Qt::Key_X), [this] { close(); });

  mnuFunkmodem = menuBar()->addMenu(Q("@20&Funkmodem"));
  mnuFunkmodem->menuAction()->setProperty("caption", QByteArray("@20&Funkmodem"));
  mnuFunkmodemZFM = entry(mnuFunkmodem, "@21&Zentralfunkmodem", QKeySequence(Qt::CTRL | Qt::Key_Z),
                          command(&TMainLogic::CentralModemCommand));
  mnuFunkmodemEinfuegen = entry(mnuFunkmodem, "@22Funkmodem &einf\xFCgen", QKeySequence(Qt::CTRL | Qt::Key_E),
                                command(&TMainLogic::Insert));
  mnuFunkmodemBearbeiten = entry(mnuFunkmodem, "@23Funkmodem &bearbeiten", QKeySequence(Qt::CTRL | Qt::Key_B),
                                 command(&TMainLogic::Edit));
  mnuFunkmodemLoeschen = entry(mnuFunkmodem, "@24Funkmodem &l\xF6schen", QKeySequence(Qt::CTRL | Qt::Key_L),
                               command(&TMainLogic::Delete));
  mnuInfo = entry(nullptr, "@80&Info...", QKeySequence(Qt::CTRL | Qt::Key_I),
                  [this] { AboutBox1.Execute(this, shell_, core_.Messages.Service()); });
  menuBar()->addAction(mnuInfo);

  KontextMenu = new QMenu(this);
  pmFM_Einfuegen = entry(KontextMenu, "@1FM einf\xFCgen", {}, command(&TMainLogic::Insert));
  pmFM_Bearbeiten = entry(KontextMenu, "@2FM bearbeiten", {}, command(&TMainLogic::Edit));
  pmFM_Loeschen = entry(KontextMenu, "@3FM l\xF6schen", {}, command(&TMainLogic::Delete));

  QToolBar* bar = addToolBar(QString());
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(20, 20));
  mnuDateiNeu->setIcon(NewProjectGlyph());
  mnuDateiOeffnen->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  mnuDateiSpeichern->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  mnuFunkmodemEinfuegen->setIcon(s->standardIcon(QStyle::SP_FileDialogNewFolder));
  mnuFunkmodemBearbeiten->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
  mnuFunkmodemLoeschen->setIcon(DeleteStationGlyph());
  mnuDateiBeenden->setIcon(s->standardIcon(QStyle::SP_DialogCloseButton));
  bar->addAction(mnuDateiNeu);       // sbtnNeu
  bar->addAction(mnuDateiOeffnen);   // sbtnOeffnen
  bar->addAction(mnuDateiSpeichern); // sbtnSpeichern
  bar->addSeparator();
  bar->addAction(mnuFunkmodemEinfuegen);   // sbtnEinfuegen
  bar->addAction(mnuFunkmodemBearbeiten);  // sbtnEditieren
  bar->addAction(mnuFunkmodemLoeschen);    // sbtnLoeschen
  bar->addSeparator();
  bar->addAction(mnuDateiBeenden);  // sbtnEnde
}

void TfrmMain::CreateSurface() {
  auto* centre = new QWidget(this);
  setCentralWidget(centre);

  pnlBackground = new QLabel(centre);
  pnlBackground->setAlignment(Qt::AlignCenter);
  pnlBackground->setAutoFillBackground(true);
  QPalette white = pnlBackground->palette();
  white.setColor(QPalette::Window, Qt::white);
  pnlBackground->setPalette(white);

  tvFML = new QTreeWidget(centre);
  tvFML->setHeaderHidden(true);
  tvFML->setColumnCount(1);
  tvFML->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvFML->setExpandsOnDoubleClick(false);
  tvFML->setSelectionMode(QAbstractItemView::SingleSelection);
  tvFML->setContextMenuPolicy(Qt::CustomContextMenu);
  tvFML->setMouseTracking(true);  // hot tracking
  tvFML->installEventFilter(this);
  tvFML->viewport()->installEventFilter(this);
  connect(tvFML, &QTreeWidget::itemSelectionChanged, this, [this] { TreeSelectionChanged(); });
  connect(tvFML, &QTreeWidget::itemDoubleClicked, this, [this] { Run(&TMainLogic::Edit); });
  connect(tvFML, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const TContextStates states = logic_->ContextPopup();
    pmFM_Einfuegen->setEnabled(states.Insert);
    pmFM_Bearbeiten->setEnabled(states.Edit);
    pmFM_Loeschen->setEnabled(states.Delete);
    KontextMenu->popup(tvFML->viewport()->mapToGlobal(at));
  });

  gbDetails = new QGroupBox(Q("@19Funkmodem"), centre);
  Caption(gbDetails, "@10Name:", {10, 26, 110, 17});
  stFuMoName = StaticBox(gbDetails, {124, 24, 200, 20});
  Caption(gbDetails, "@11Typ:", {10, 50, 110, 17});
  stFuMoTyp = StaticBox(gbDetails, {124, 48, 200, 20});
  Caption(gbDetails, "@12Adresse:", {10, 74, 110, 17});
  stFuMoAdresse = StaticBox(gbDetails, {124, 72, 50, 20});
  lblBetriebsart = Caption(gbDetails, "@18Betriebsart:", {10, 98, 110, 17});
  stBetriebsart = StaticBox(gbDetails, {124, 96, 200, 20});
  lblCounts[0] = Caption(gbDetails, "@16Analoge Ausg\xE4nge:", {10, 98, 140, 17});
  stAnalogAus = StaticBox(gbDetails, {154, 96, 50, 20});
  lblCounts[1] = Caption(gbDetails, "@15Analoge Eing\xE4nge:", {244, 98, 140, 17});
  stAnalogEin = StaticBox(gbDetails, {388, 96, 50, 20});
  lblCounts[2] = Caption(gbDetails, "@14Digitale Ausg\xE4nge:", {10, 122, 140, 17});
  stDigitalAus = StaticBox(gbDetails, {154, 120, 50, 20});
  lblCounts[3] = Caption(gbDetails, "@13Digitale Eing\xE4nge:", {244, 122, 140, 17});
  stDigitalEin = StaticBox(gbDetails, {388, 120, 50, 20});
  lblHinweis = new QLabel(Q("@17Bitte ein Funkmodem ausw\xE4hlen"), gbDetails);
  QFont hint = lblHinweis->font();
  hint.setPointSize(hint.pointSize() + 6);
  hint.setBold(true);
  hint.setItalic(true);
  lblHinweis->setFont(hint);
  sgKanal = new TChannelGridWidget(gbDetails, logic_->Grid, core_.Project, [this] { Sync(); });

  StatusPanel0 = new QLabel(this);
  StatusPanel0->setFixedWidth(500);
  StatusPanel1 = new QLabel(this);
  StatusPanel1->setAlignment(Qt::AlignCenter);
  statusBar()->addWidget(StatusPanel0);
  statusBar()->addWidget(StatusPanel1, 1);
  statusBar()->setSizeGripEnabled(false);
}

void TfrmMain::FormResize() {
  QWidget* centre = centralWidget();
  const int w = centre->width(), h = centre->height();
  pnlBackground->setGeometry(0, 0, w, h);
  tvFML->setGeometry(0, 0, kTreeWidth, h);
  gbDetails->setGeometry(w - kDetailsWidth, 0, kDetailsWidth, h);
  // The grid fills the group below the channel counts.
  const int height = gbDetails->height() - (stDigitalAus->y() + stDigitalAus->height()) - 10;
  sgKanal->setGeometry(8, gbDetails->height() - height - 5, kDetailsWidth - 16, std::max(0, height));
  lblHinweis->adjustSize();
  lblHinweis->move((gbDetails->width() - lblHinweis->width()) / 2, (gbDetails->height() - lblHinweis->height()) / 2);
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  AboutBox1.Copyright = "V060829\t" + AboutBox1.Copyright;
  logic_->Show();
  Sync();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (closing_for_good_ || logic_->CloseQuery()) {
    timer_.stop();
    event->accept();
  } else {
    event->ignore();
  }
  Sync();
}

void TfrmMain::MainTimer() {
  const bool started = logic_->Tick(clock_.Now());
  if (logic_->Terminated) {
    // The program ends at once after the start-up's message.
    timer_.stop();
    closing_for_good_ = true;
    close();
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(1);
    return;
  }
  if (started) {
    Sync();
    FormResize();
    sgKanal->SetupColumns();
  } else {
    SyncCommands();
  }
}

void TfrmMain::Run(void (TMainLogic::*command)()) {
  (logic_.get()->*command)();
  Sync();
}

void TfrmMain::TranslateWindow() {
  TLanguageTexts& texts = core_.Texts;
  texts.SetTextSection("MENU");
  std::vector<QAction*> level;
  for (QAction* top : menuBar()->actions()) {
    level.push_back(top);
    if (top->menu())
      for (QAction* below : top->menu()->actions()) level.push_back(below);
  }
  for (QAction* a : level) {
    const QByteArray caption = a->property("caption").toByteArray();
    if (caption.isEmpty()) continue;
    a->setText(Q(texts.TranslateText(caption.toStdString())));
    a->setStatusTip(HintOf(a->text()));
    a->setToolTip(HintOf(a->text()));
  }
  TranslateForm(this, "MAIN", texts);
  texts.SetTextSection("KONTEXT");
  for (QAction* a : KontextMenu->actions()) a->setText(Q(texts.TranslateText(a->property("caption").toByteArray().toStdString())));
}

void TfrmMain::Sync() {
  if (syncing_) return;
  syncing_ = true;
  const TMainLogic& l = *logic_;
  if (!l.Caption.empty()) setWindowTitle(Q(l.Caption));
  pnlBackground->setVisible(l.BackgroundShown);
  tvFML->setVisible(!l.BackgroundShown);
  gbDetails->setVisible(!l.BackgroundShown);
  syncing_ = false;
  if (l.TreeFocusRequests != focus_requests_) {
    // The tree changed: the grid goes before the next node shows, and with it the keyboard and
    // any cell editor, so that no cell of that node is edited behind the tree's back.
    focus_requests_ = l.TreeFocusRequests;
    sgKanal->hide();
    tvFML->setFocus();
  }
  SyncCommands();
  SyncTree();
  SyncDetails();
}

void TfrmMain::SyncCommands() {
  const TMainLogic& l = *logic_;
  const TCommandStates& c = l.Commands;
  mnuDateiSpeichern->setEnabled(c.Save);
  mnuDateiSpeichernU->setEnabled(c.SaveAs);
  mnuFunkmodem->menuAction()->setEnabled(c.RadioModemMenu);
  mnuFunkmodemZFM->setEnabled(c.RadioModemMenu);
  mnuFunkmodemEinfuegen->setEnabled(c.Insert);
  mnuFunkmodemBearbeiten->setEnabled(c.Edit);
  mnuFunkmodemLoeschen->setEnabled(c.Delete);
  mnuDateiErstelleINI->setEnabled(core_.Project.ServerIniEnabled);
  StatusPanel1->setText(Q(l.Clock));

  mnuLastActive->setText(l.LastActiveEnabled ? PathText(l.LastActiveCaption) : Q(l.LastActiveCaption));
  mnuLastActive->setData(QByteArray::fromStdString(l.LastActiveCaption));
  mnuLastActive->setEnabled(l.LastActiveEnabled);
  if (l.RecentItems != recent_shown_) {
    // New entries go on top, under the last-active entry and the separator.
    const QList<QAction*> actions = N171OpenRecent->actions();
    for (int i = 2; i < actions.size(); ++i) {
      N171OpenRecent->removeAction(actions[i]);
      actions[i]->deleteLater();
    }
    for (const std::string& path : l.RecentItems) {
      QAction* a = N171OpenRecent->addAction(PathText(path));
      a->setData(QByteArray::fromStdString(path));
      connect(a, &QAction::triggered, this, [this, a] {
        logic_->OpenRecent(a->data().toByteArray().toStdString());
        Sync();
      });
    }
    recent_shown_ = l.RecentItems;
  }
}

TStationNode* TfrmMain::NodeOf(QTreeWidgetItem* item) const {
  return item ? reinterpret_cast<TStationNode*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

QTreeWidgetItem* TfrmMain::ItemOf(const TStationNode* node) const {
  if (!node) return nullptr;
  for (QTreeWidgetItemIterator it(tvFML); *it; ++it)
    if (NodeOf(*it) == node) return *it;
  return nullptr;
}

void TfrmMain::SyncTree() {
  syncing_ = true;
  const TMainLogic& l = *logic_;
  const TStationTree& tree = core_.Project.Tree;
  if (l.TreeRevision != tree_revision_) {
    std::set<const TStationNode*> expanded;
    for (QTreeWidgetItemIterator it(tvFML); *it; ++it)
      if ((*it)->isExpanded()) expanded.insert(NodeOf(*it));
    tvFML->clear();
    QStyle* s = style();
    std::function<void(QTreeWidgetItem*, const TStationNode&)> add = [&](QTreeWidgetItem* item, const TStationNode& n) {
      item->setText(0, Q(n.Text()));
      item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(&n)));
      item->setIcon(0, s->standardIcon(n.Parent() ? QStyle::SP_DriveNetIcon : QStyle::SP_ComputerIcon));
      for (const auto& child : n.Children()) add(new QTreeWidgetItem(item), *child);
      item->setExpanded(expanded.count(&n) > 0);
    };
    if (tree.Root()) add(new QTreeWidgetItem(tvFML), *tree.Root());
    tree_revision_ = l.TreeRevision;
  }
  if (l.ExpandAllRequests != expand_requests_) {
    tvFML->expandAll();
    expand_requests_ = l.ExpandAllRequests;
  }
  QTreeWidgetItem* selected = ItemOf(tree.Selected());
  if (selected) {
    if (!selected->isSelected() || tvFML->currentItem() != selected) tvFML->setCurrentItem(selected);
    tvFML->scrollToItem(selected);
  } else {
    tvFML->clearSelection();
  }
  syncing_ = false;
}

void TfrmMain::SyncDetails() {
  const TMainLogic& l = *logic_;
  const TDetailView& d = l.Details;
  stFuMoName->setText(Q(d.Name));
  stFuMoTyp->setText(Q(d.Type));
  stFuMoAdresse->setText(Q(d.Address));
  stBetriebsart->setText(Q(d.Mode));
  stAnalogAus->setText(Q(d.AnalogOut));
  stAnalogEin->setText(Q(d.AnalogIn));
  stDigitalAus->setText(Q(d.DigitalOut));
  stDigitalEin->setText(Q(d.DigitalIn));
  const bool central = d.Shows == TDetailView::CentralModem, station = d.Shows == TDetailView::Station;
  lblHinweis->setVisible(d.Shows == TDetailView::None);
  lblBetriebsart->setVisible(central);
  stBetriebsart->setVisible(central);
  for (QLabel* w : {lblCounts[0], lblCounts[1], lblCounts[2], lblCounts[3], stAnalogAus, stAnalogEin, stDigitalAus, stDigitalEin})
    w->setVisible(station);
  if (d.Shows == TDetailView::None) FormResize();  // centres the hint
  if (l.Grid.Revision != grid_revision_) {
    grid_revision_ = l.Grid.Revision;
    sgKanal->ShowCells();
  }
  sgKanal->setVisible(l.GridVisible);
}

void TfrmMain::TreeSelectionChanged() {
  if (syncing_) return;
  const QList<QTreeWidgetItem*> items = tvFML->selectedItems();
  logic_->Select(items.isEmpty() ? nullptr : NodeOf(items.front()));
  Sync();
}

void TfrmMain::GridExit(QWidget* old, QWidget* now) {
  if (!sgKanal->isVisible() || !old || !now) return;
  auto inGrid = [this](QWidget* w) { return w == sgKanal || sgKanal->isAncestorOf(w); };
  // Only a move to another control of this window leaves the grid, not a message box.
  if (inGrid(old) && !inGrid(now) && now->window() == this) {
    logic_->Grid.Exit();
    Sync();
  }
}

bool TfrmMain::IsMenuShortcut(const QKeyEvent& key) const {
  const QKeySequence pressed(QKeyCombination(key.modifiers() & ~Qt::KeypadModifier, Qt::Key(key.key())));
  for (const QAction* a : {mnuDateiOeffnen, mnuDateiSpeichern, mnuDateiBeenden, mnuFunkmodemZFM, mnuFunkmodemEinfuegen,
                           mnuFunkmodemBearbeiten, mnuFunkmodemLoeschen, mnuInfo})
    if (a->isEnabled() && a->shortcut() == pressed) return true;
  return false;
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // The menu's keys are the window's wherever its focus is: no control (a cell's line editor
    // with its own Ctrl+Z and Ctrl+E) keeps them for itself.
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && w->window() == this && IsMenuShortcut(*static_cast<QKeyEvent*>(event))) {
      event->ignore();
      return true;
    }
    return false;
  }
  if (event->type() == QEvent::StatusTip) {
    // Panel 0 is the hint's place; as a temporary message of the bar it would hide the clock.
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    StatusPanel0->setText(tip);
    hint_owner_ = tip.isEmpty() ? nullptr : qobject_cast<QWidget*>(watched);
    return true;
  }
  if (event->type() == QEvent::Hide && hint_owner_) {
    // A control that is hidden (a dialog closed over it) gets no mouse-leave: its hint goes now.
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && (w == hint_owner_ || w->isAncestorOf(hint_owner_))) {
      StatusPanel0->clear();
      hint_owner_ = nullptr;
    }
    return false;
  }
  if (watched == tvFML && event->type() == QEvent::KeyPress) {
    TTreeKey key = TTreeKey::Other;
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter: key = TTreeKey::Enter; break;
      case Qt::Key_Insert: key = TTreeKey::Insert; break;
      case Qt::Key_Delete: key = TTreeKey::Delete; break;
      default: break;
    }
    if (key == TTreeKey::Other) return false;
    logic_->KeyDown(key);
    Sync();
    return true;
  }
  if (watched == tvFML->viewport()) {
    // A station is dragged with the left button; the drop is not signalled as accepted, but
    // the station moves where the button is released.
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (type) {
      case QEvent::MouseButtonPress:
        if (mouse->button() == Qt::LeftButton) {
          drag_pressed_ = true;
          dragging_ = false;
          drag_start_ = mouse->position().toPoint();
        }
        return false;
      case QEvent::MouseMove:
        if (drag_pressed_ && (mouse->buttons() & Qt::LeftButton)) {
          if (!dragging_ && (mouse->position().toPoint() - drag_start_).manhattanLength() >= QApplication::startDragDistance()) {
            dragging_ = true;
            tvFML->viewport()->setCursor(Qt::ForbiddenCursor);
          }
          if (dragging_) return true;
        }
        return false;
      case QEvent::MouseButtonRelease:
        if (mouse->button() != Qt::LeftButton) return false;
        drag_pressed_ = false;
        if (!dragging_) return false;
        dragging_ = false;
        tvFML->viewport()->unsetCursor();
        logic_->EndDrag(NodeOf(tvFML->itemAt(mouse->position().toPoint())));
        Sync();
        return true;
      default: return false;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TfrmMain::RunProjectNameDialog() {
  Sync();
  TfrmProjektname dialog(this, core_.Project);
  return dialog.exec() == QDialog::Accepted;
}

bool TfrmMain::RunCentralModemDialog(TZFMEditor& editor) {
  Sync();
  TfrmZFM dialog(this, editor, core_.Tables.Central);
  return dialog.exec() == QDialog::Accepted;
}

bool TfrmMain::RunStationDialog(TStationEditor& editor) {
  Sync();
  TfrmFuMo dialog(this, editor);
  return dialog.exec() == QDialog::Accepted;
}

std::string TfrmMain::AskOpenFile(const std::string& folder) {
  QFileDialog dialog(this, Q("\xD6" "ffnen einer Konfigurationsdatei"), PathText(folder));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilter(QStringLiteral("Konfigurationsdateien (*.ini)"));
  dialog.setDefaultSuffix(QStringLiteral("ini"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return FileSystemPath(dialog.selectedFiles().front());
}

std::string TfrmMain::AskSaveFile(const std::string& folder, const std::string& file) {
  QFileDialog dialog(this, QStringLiteral("Konfigurationsdatei speichern..."), PathText(folder));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // Save asks itself
  dialog.setNameFilter(QStringLiteral("Konfiguationsdateien (*.ini)"));
  dialog.setDefaultSuffix(QStringLiteral("ini"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.selectFile(PathText(file));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return FileSystemPath(dialog.selectedFiles().front());
}

std::vector<std::string> TfrmMain::MachinePorts() {
  std::vector<std::string> ports;
  serial::ListSerialPorts(ports);
  return ports;
}

}  // namespace configurator::windows
