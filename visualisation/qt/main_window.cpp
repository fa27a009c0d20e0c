#include "visualisation/qt/main_window.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "platform/qt/display_text.h"
#include "visualisation/qt/station_window.h"
#include "visualisation/qt/status_panels.h"

namespace lumaro {

using platform::qt::DisplayText;

TOVMain::TOVMain(const Context& context, QWidget* parent)
    : QMainWindow(parent), context_(context), core_(std::make_unique<TOVMainCore>(context)) {
  setObjectName("OVMain");
  setWindowTitle(DisplayText(core_->Caption()));

  QMenu* datei = menuBar()->addMenu(QString::fromUtf8("&Datei"));
  QAction* ende = datei->addAction(QString::fromUtf8("&Ende"));
  connect(ende, &QAction::triggered, this, [this] { close(); });

  auto* central = new QWidget(this);
  auto* grid = new QGridLayout(central);
  const std::array<std::pair<const char*, const char*>, kMainLabels> names = {{
      {"ZLStatus", "Status:"},
      {"ZLDCFStatus", "DCF-Status:"},
      {"ZLRecPower", "Empfangspegel:"},
  }};
  grid->addWidget(new QLabel(QString::fromUtf8("Zentralfunkmodem:"), central), 0, 0);
  zentrale_ = new QLabel(central);
  zentrale_->setObjectName("LblZentrale");
  grid->addWidget(zentrale_, 0, 1, 1, 2);
  for (int k = 0; k < kMainLabels; ++k) {
    grid->addWidget(new QLabel(QString::fromUtf8(names[size_t(k)].second), central), k + 1, 0);
    labels_[size_t(k)] = new QLabel(central);
    labels_[size_t(k)]->setObjectName(names[size_t(k)].first);
    labels_[size_t(k)]->setMinimumWidth(140);
    grid->addWidget(labels_[size_t(k)], k + 1, 1);
  }
  const int row = kMainLabels + 1;
  grid->addWidget(new QLabel(QString::fromUtf8("Station:"), central), row, 0);
  stations_ = new QComboBox(central);
  stations_->setObjectName("CBStationen");
  stations_->setEditable(false);
  stations_->setMinimumWidth(160);
  grid->addWidget(stations_, row, 1);
  show_ = new QPushButton(QString::fromUtf8("Station anzeigen"), central);
  show_->setObjectName("BStationAnzeigen");
  grid->addWidget(show_, row, 2);
  version_ = new QLabel(central);
  version_->setObjectName("LblVersion");
  grid->addWidget(version_, row + 1, 2, Qt::AlignRight);
  grid->setColumnStretch(1, 1);
  setCentralWidget(central);

  panels_ = AddStatusPanels(statusBar(), "SBZentrale", 50, {55, {ActiveStateText(true), ActiveStateText(false)}},
                            {88, AllServerStatusTexts()});

  connect(stations_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!syncing_) core_->Select(index);
  });
  connect(show_, &QPushButton::clicked, this, [this] { core_->ShowStation(); });
  timer_.setObjectName("StatusTimer");
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] { core_->StatusTimer(); });

  core_->OnChanged = [this] { Sync(); };
  core_->CreateStationWindow = [this](RStation& station, const StationParams& params) -> IStationWindow* {
    auto* window = new TStation(context_, core_->Ini(), params, &station, core_->Logging(), this);
    window->Init();
    return window->Released() ? nullptr : window;
  };
}

TOVMain::~TOVMain() {
  timer_.stop();
  core_->OnChanged = nullptr;
  // The station windows go before the list entries they point at.
  for (TStation* w : StationWindows()) delete w;
}

std::vector<TStation*> TOVMain::StationWindows() const {
  std::vector<TStation*> windows;
  for (TStation* w : findChildren<TStation*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!w->Released()) windows.push_back(w);
  }
  return windows;
}

bool TOVMain::Start() {
  const bool ok = core_->Start();
  Sync();
  if (ok) timer_.start();
  return ok;
}

void TOVMain::Sync() {
  syncing_ = true;
  setWindowTitle(DisplayText(core_->Caption()));
  for (int k = 0; k < kMainLabels; ++k) {
    const LabelState& s = core_->Label(k);
    labels_[size_t(k)]->setText(DisplayText(s.text));
    QPalette pal = labels_[size_t(k)]->palette();
    pal.setColor(QPalette::WindowText, LabelQColor(s.colour, palette().color(QPalette::WindowText)));
    labels_[size_t(k)]->setPalette(pal);
  }
  const std::string& type = core_->ZentraleType();
  zentrale_->setText(DisplayText(core_->ZentraleName() + (type.empty() ? "" : " (" + type + ")")));
  version_->setText(DisplayText(core_->Version()));
  if (stations_->count() != int(core_->StationCount())) {
    stations_->clear();
    for (size_t i = 0; i < core_->StationCount(); ++i) stations_->addItem(DisplayText(core_->Station(i).name));
  }
  stations_->setCurrentIndex(core_->Selected());
  show_->setEnabled(core_->ButtonEnabled());
  for (int i = 0; i < 3; ++i) panels_[size_t(i)]->setText(DisplayText(core_->Panel(i)));
  syncing_ = false;
}

}  // namespace lumaro
