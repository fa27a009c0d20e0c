#include "visualisation/qt/station_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "platform/qt/display_text.h"
#include "visualisation/qt/front_panel.h"
#include "visualisation/qt/status_panels.h"

namespace lumaro {

using platform::qt::DisplayText;

QColor LabelQColor(LabelColour colour, const QColor& normal) {
  switch (colour) {
    case LabelColour::Good:
      return QColor(0, 0x80, 0);
    case LabelColour::Bad:
      return QColor(0xFF, 0, 0);
    case LabelColour::Normal:
      break;
  }
  return normal;
}

namespace {

void SetTextColour(QLabel* label, LabelColour colour) {
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, LabelQColor(colour, label->parentWidget()->palette().color(QPalette::WindowText)));
  label->setPalette(pal);
}

}  // namespace

// ---- TStationPicture ----

TStationPicture::TStationPicture(TStationCore& core, QImage station, QImage analog, QWidget* parent)
    : QWidget(parent), core_(core), station_(std::move(station)), analog_(std::move(analog)) {
  setObjectName("ImageStation");
  setFixedSize(kPictureWidth, kPictureHeight);
  Recompose();
}

void TStationPicture::Recompose() {
  composed_ = ComposePicture(station_, analog_, core_.OutputBlockCopied(), core_.AnalogPictureShown());
  update();
}

void TStationPicture::Paint(QPainter& p) const {
  p.drawImage(0, 0, composed_);
  p.setPen(QColor(0x10, 0x10, 0x10));
  const auto& colours = core_.LedColours();
  for (int row = 0; row < kLedCount; ++row) {
    if (colours[size_t(row)] < 0) continue;
    const Rgb& c = kLedColours[size_t(colours[size_t(row)])];
    const LedPlace& l = kLeds[size_t(row)];
    p.setBrush(QColor(c.r, c.g, c.b));
    p.drawEllipse(QRect(l.x - kLedRadius, l.y - kLedRadius, 2 * kLedRadius, 2 * kLedRadius));
  }
}

void TStationPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Paint(p);
}

QImage TStationPicture::Rendered() const {
  QImage img(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  QPainter p(&img);
  Paint(p);
  return img;
}

void TStationPicture::mousePressEvent(QMouseEvent* e) {
  const QPoint at = e->position().toPoint();
  core_.Click(at.x(), at.y());
}

// ---- TGauge ----

TGauge::TGauge(QWidget* parent) : QWidget(parent) { setFixedSize(120, 18); }

void TGauge::SetState(int32_t progress, bool bad) {
  progress_ = progress;
  bad_ = bad;
  update();
}

QColor TGauge::ForeColor() const { return bad_ ? QColor(0xFF, 0, 0) : QColor(0, 0, 0x80); }

void TGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  p.drawRect(r);
  const int w = int(int64_t(r.width() - 1) * progress_ / 4095);
  p.fillRect(QRect(r.x() + 1, r.y() + 1, w, r.height() - 1), ForeColor());
}

// ---- TStation ----

TStation::TStation(const Context& context, const TMemIni& ini, const StationParams& params, RStation* entry,
                   bool logging, QWidget* parent)
    : QMainWindow(parent, Qt::Window),
      context_(context),
      entry_(entry),
      core_(std::make_unique<TStationCore>(context, ini, params, logging)) {
  setObjectName("Station");
  // The program ends with its main window, whatever station windows are open.
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle(DisplayText(core_->Caption()));

  QMenu* datei = menuBar()->addMenu(QString::fromUtf8("&Datei"));
  QAction* ende = datei->addAction(QString::fromUtf8("&Ende"));
  connect(ende, &QAction::triggered, this, [this] { close(); });

  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  auto* top = new QHBoxLayout;
  picture_ =
      new TStationPicture(*core_, StationPicture(context.program_dir), AnalogPicture(context.program_dir), central);
  top->addWidget(picture_, 0, Qt::AlignTop);

  auto* status = new QGroupBox(QString::fromUtf8("Status"), central);
  auto* form = new QFormLayout(status);
  const std::array<std::pair<const char*, const char*>, kStationLabels> names = {{
      {"SLStatus", "Status:"},
      {"SLStatnr", "Stationsnr.:"},
      {"SLRecPower", "Empfangspegel:"},
      {"SLSendPower", "Sendeleistung:"},
      {"SLKomOK", "Kom. OK:"},
      {"SLKomFail", "Kom. Fehler:"},
      {"SLResponse", "Antwortzeit:"},
      {"SLSNR", "SNR:"},
  }};
  for (int k = 0; k < kStationLabels; ++k) {
    labels_[size_t(k)] = new QLabel(status);
    labels_[size_t(k)]->setObjectName(names[size_t(k)].first);
    labels_[size_t(k)]->setMinimumWidth(80);
    form->addRow(QString::fromUtf8(names[size_t(k)].second), labels_[size_t(k)]);
  }
  top->addWidget(status, 0, Qt::AlignTop);
  outer->addLayout(top);

  auto* strip = new QHBoxLayout;
  for (int n = 1; n <= kAnalogInputs; ++n) {
    AnalogWidgets& a = analog_[size_t(n - 1)];
    a.column = new QWidget(central);
    auto* col = new QVBoxLayout(a.column);
    a.caption = new QLabel(a.column);
    a.caption->setObjectName(QString("LAnalogKanal%1").arg(n));
    a.gauge = new TGauge(a.column);
    a.gauge->setObjectName(QString("GAnalog%1").arg(n));
    auto* row = new QHBoxLayout;
    a.panel = new QLabel(a.column);
    a.panel->setObjectName(QString("EAnalog%1").arg(n));
    a.panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    a.panel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    a.panel->setMinimumWidth(80);
    a.unit = new QLabel(a.column);
    a.unit->setObjectName(QString("LAEinheit%1").arg(n));
    row->addWidget(a.panel);
    row->addWidget(a.unit);
    col->addWidget(a.caption);
    col->addWidget(a.gauge);
    col->addLayout(row);
    strip->addWidget(a.column);
    a.column->setVisible(false);
  }
  strip->addStretch(1);
  outer->addLayout(strip);
  setCentralWidget(central);

  panels_ = AddStatusPanels(statusBar(), "SBStation", 0, {70, {ActiveStateText(true), ActiveStateText(false)}},
                            {110, {ConnectionStateText(true), ConnectionStateText(false)}});

  timer_.setObjectName("STimer");
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
  core_->OnChanged = [this] { Sync(); };
}

TStation::~TStation() { core_->OnChanged = nullptr; }

void TStation::Init() {
  core_->Init();
  setWindowTitle(DisplayText(core_->Caption()));
  picture_->Recompose();
  Sync();
  if (core_->ClosesItself()) close();
}

void TStation::ShowWindow() {
  show();
  raise();
  activateWindow();
}

void TStation::Sync() {
  for (int k = 0; k < kStationLabels; ++k) {
    const LabelState& s = core_->Label(k);
    labels_[size_t(k)]->setText(DisplayText(s.text));
    SetTextColour(labels_[size_t(k)], s.colour);
  }
  for (int n = 1; n <= kAnalogInputs; ++n) {
    const AnalogState& s = core_->Analog(n);
    AnalogWidgets& a = analog_[size_t(n - 1)];
    a.column->setVisible(s.visible);
    a.caption->setText(DisplayText(s.caption));
    a.unit->setText(DisplayText(s.unit));
    a.panel->setText(DisplayText(s.panel));
    SetTextColour(a.panel, s.panel_colour);
    a.gauge->SetState(s.gauge, s.gauge_bad);
  }
  panels_[1]->setText(DisplayText(core_->ActiveText()));
  panels_[2]->setText(DisplayText(core_->ConnectionText()));
  if (core_->TimerRunning() && !timer_.isActive()) timer_.start();
  if (!core_->TimerRunning() && timer_.isActive()) timer_.stop();
  // At once, not from the loop: the core may be about to wait for the server (a clicked
  // output shows its new value while its write is under way).
  picture_->repaint();
}

void TStation::closeEvent(QCloseEvent* e) {
  if (core_->Logging()) {
    // Hidden, it keeps logging.
    e->ignore();
    hide();
    return;
  }
  if (entry_ && entry_->window == this) entry_->window = nullptr;
  released_ = true;
  setAttribute(Qt::WA_DeleteOnClose);
  e->accept();
}

}  // namespace lumaro
