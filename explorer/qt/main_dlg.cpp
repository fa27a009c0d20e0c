#include "explorer/qt/main_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "explorer/qt/explorer_dlg.h"
#include "explorer/qt/inspec_dlg.h"
#include "explorer/qt/qt_text.h"
#include "opcclient/kopl_window.h"

namespace explorer {

namespace {

// The explorer's two messages travel as Qt events of their own.
const QEvent::Type kAddSelectedEvent = QEvent::Type(QEvent::User + kopl::WM_USER + 1);
const QEvent::Type kAddIdenticalEvent = QEvent::Type(QEvent::User + kopl::WM_USER + 2);

enum Page { kExplorerPage = 0, kInspectorPage = 1 };

}  // namespace

void TServerCombo::showPopup() {
  emit DropDown();
  QComboBox::showPopup();
}

TMainDlg::TMainDlg(TExplorerDialogs& dialogs, platform::MessageService& messages, TMainModel::Options options)
    : model_(std::make_unique<TMainModel>(dialogs, messages, std::move(options))) {
  setWindowTitle("OPC Explorer");

  server_combo_ = new TServerCombo;
  server_combo_->setEditable(true);
  server_combo_->setInsertPolicy(QComboBox::NoInsert);
  server_combo_->setToolTip("Select OPC Server");
  server_combo_->setMinimumWidth(280);
  auto tool = [this](QStyle::StandardPixmap icon, const char* hint) {
    auto* b = new QToolButton;
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    return b;
  };
  remote_select_ = tool(QStyle::SP_FileDialogContentsView, "select OPC Server with OPCENUM.EXE");
  connect_ = tool(QStyle::SP_DialogApplyButton, "Connect to server");
  disconnect_ = tool(QStyle::SP_DialogCancelButton, "Disconnect from server");
  load_last_ = new QPushButton("Load last Config");
  load_last_->setToolTip("Load Config, that was active at last closing of Feddra");
  auto* server_line = new QHBoxLayout;
  server_line->addWidget(server_combo_, 1);
  server_line->addWidget(remote_select_);
  server_line->addWidget(connect_);
  server_line->addWidget(disconnect_);
  server_line->addSpacing(12);
  server_line->addWidget(load_last_);

  pages_ = new QTabWidget;
  pages_->setDocumentMode(true);
  pages_->addTab(new QWidget, "&Explorer");
  pages_->addTab(new QWidget, "&Inspector");

  auto* status = new QGridLayout;
  const char* captions[] = {"Serverstate", "State", "Start Time", "Last Update"};
  for (QLabel*& label : status_labels_) label = new QLabel;
  status_labels_[2]->setWordWrap(true);  // LInfo
  // LServer, LState, LInfo, LStartTime, LUpdateTime
  status->addWidget(new QLabel(captions[0]), 0, 0);
  status->addWidget(status_labels_[0], 0, 1);
  status->addWidget(new QLabel(captions[1]), 1, 0);
  status->addWidget(status_labels_[1], 1, 1);
  status->addWidget(status_labels_[2], 0, 2, 2, 1);
  status->addWidget(new QLabel(captions[2]), 0, 3);
  status->addWidget(status_labels_[3], 0, 4);
  status->addWidget(new QLabel(captions[3]), 1, 3);
  status->addWidget(status_labels_[4], 1, 4);
  status->setColumnStretch(1, 1);
  status->setColumnStretch(2, 2);
  status->setColumnStretch(4, 1);

  error_line_ = new QLabel;
  error_line_->setStyleSheet("color: red;");
  error_line_->setWordWrap(true);

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->addLayout(server_line);
  layout->addWidget(pages_, 1);
  layout->addLayout(status);
  layout->addWidget(error_line_);
  setCentralWidget(central);
  resize(820, 600);

  QMenu* file = menuBar()->addMenu("File");
  QAction* open_last = file->addAction("Open Last Saved");
  open_last->setShortcut(QKeySequence("Ctrl+L"));
  file->addSeparator();
  QAction* new_session = file->addAction("New Session");
  QAction* open = file->addAction("Open...");
  open->setShortcut(QKeySequence("Ctrl+O"));
  QAction* save = file->addAction("Save...");
  save->setShortcut(QKeySequence("Ctrl+S"));
  file->addSeparator();
  QAction* exit = file->addAction("Exit");
  exit->setShortcut(QKeySequence("Alt+F4"));
  QAction* info = menuBar()->addAction("Info");
  info->setShortcut(QKeySequence("Ctrl+I"));

  timer_ = new QTimer(this);
  timer_->setInterval(1000);

  model_->OnChanged = [this] { Render(); };
  model_->OnShowInspector = [this] { pages_->setCurrentIndex(kInspectorPage); };
  auto command = [this](void (TMainModel::*f)()) { return [this, f] { Guard([this, f] { (model_.get()->*f)(); }); }; };
  connect(server_combo_, &QComboBox::editTextChanged, this, [this](const QString& t) { model_->SetServerText(S(t)); });
  connect(server_combo_, &TServerCombo::DropDown, this, command(&TMainModel::ServerComboDropDown));
  connect(remote_select_, &QToolButton::clicked, this, command(&TMainModel::RemoteSelect));
  connect(connect_, &QToolButton::clicked, this, command(&TMainModel::Connect));
  connect(disconnect_, &QToolButton::clicked, this, command(&TMainModel::Disconnect));
  connect(load_last_, &QPushButton::clicked, this, command(&TMainModel::LoadLastConfig));
  connect(open_last, &QAction::triggered, this, command(&TMainModel::OpenLastSaved));
  connect(new_session, &QAction::triggered, this, command(&TMainModel::NewSession));
  connect(open, &QAction::triggered, this, command(&TMainModel::Open));
  connect(save, &QAction::triggered, this, command(&TMainModel::Save));
  connect(exit, &QAction::triggered, this, &QWidget::close);
  connect(info, &QAction::triggered, this, command(&TMainModel::Info));
  connect(timer_, &QTimer::timeout, this, command(&TMainModel::TimerTick));
  Render();
}

TMainDlg::~TMainDlg() {
  model_->OnChanged = nullptr;
  model_->OnShowInspector = nullptr;
  // The docked windows work on the logic this window owns: they go first.
  delete explorer_;
  delete inspector_;
}

void TMainDlg::SetForms(TExplorerDlg* explorer, TInspecDlg* inspector) {
  explorer_ = explorer;
  inspector_ = inspector;
  if (explorer_) explorer_->PostToMain = [this](int message) { PostMessage(message); };
  Dock(inspector_, kInspectorPage);
  Dock(explorer_, kExplorerPage);
}

QAction* TMainDlg::MenuAction(const QString& text) const {
  for (QAction* top : menuBar()->actions()) {
    if (top->text() == text) return top;
    if (top->menu()) {
      for (QAction* a : top->menu()->actions()) {
        if (a->text() == text) return a;
      }
    }
  }
  return nullptr;
}

void TMainDlg::Dock(QWidget* form, int page) {
  if (!form) return;
  QWidget* sheet = pages_->widget(page);
  auto* layout = sheet->layout() ? sheet->layout() : new QVBoxLayout(sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  form->setParent(sheet);
  layout->addWidget(form);
  form->hide();  // shown with the window
}

void TMainDlg::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;  // shown again after being minimised: nothing to do
  shown_ = true;
  Guard([this] { model_->FormShow(); });
  if (inspector_) inspector_->show();
  if (explorer_) explorer_->show();
}

void TMainDlg::closeEvent(QCloseEvent* event) {
  timer_->stop();
  model_->Close();
  QMainWindow::closeEvent(event);
}

void TMainDlg::PostMessage(int message) {
  const QEvent::Type type = message == kopl::WM_USER + 1 ? kAddSelectedEvent : kAddIdenticalEvent;
  QCoreApplication::postEvent(this, new QEvent(type));
}

void TMainDlg::customEvent(QEvent* event) {
  if (event->type() != kAddSelectedEvent && event->type() != kAddIdenticalEvent) return QMainWindow::customEvent(event);
  if (!explorer_) return;
  const bool identical = event->type() == kAddIdenticalEvent;
  Guard([this, identical] {
    TExplorerModel& explorer = model_->Explorer();
    std::vector<std::string> ids = identical ? explorer.GetIdenticalItemIDs(explorer_->FocusedLeaf())
                                             : explorer.GetSelectedItemIDs(explorer_->SelectedLeafs());
    model_->AddItemsToInspector(ids);
  });
}

void TMainDlg::Render() {
  const QString text = Q(model_->ServerText());
  QStringList list;
  for (const std::string& s : model_->ServerList()) list << Q(s);
  QStringList shown;
  for (int i = 0; i < server_combo_->count(); ++i) shown << server_combo_->itemText(i);
  {
    const QSignalBlocker block(server_combo_);
    if (shown != list) {
      server_combo_->clear();
      server_combo_->addItems(list);
    }
    if (server_combo_->currentText() != text) server_combo_->setEditText(text);
  }
  const TStatusTexts& s = model_->Status();
  status_labels_[0]->setText(Q(s.Server));
  status_labels_[1]->setText(Q(s.State));
  status_labels_[2]->setText(Q(s.Info));
  status_labels_[3]->setText(Q(s.StartTime));
  status_labels_[4]->setText(Q(s.UpdateTime));
  error_line_->setText(Q(model_->ErrorInfo()));
  if (model_->TimerEnabled() && !timer_->isActive()) timer_->start();
  if (!model_->TimerEnabled()) timer_->stop();
}

}  // namespace explorer
