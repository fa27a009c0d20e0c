#include "server/opc/debug_window/frm_debug.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextOption>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "platform/cp1252.h"
#include "server/opc/debug_window/debug_texts.h"

namespace opc {

namespace {

constexpr int kRefreshMs = 500;

QString Q(const std::string& text) { return QString::fromStdString(platform::Cp1252ToUtf8(text)); }

QString Lines(const std::vector<std::string>& lines) {
  std::string all;
  for (size_t i = 0; i < lines.size(); ++i) all += (i ? "\n" : "") + lines[i];
  return Q(all);
}

QPlainTextEdit* Memo(QGroupBox* box) {
  auto* memo = new QPlainTextEdit(box);
  memo->setReadOnly(true);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(memo);
  return memo;
}

}  // namespace

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent), UpButton(new QToolButton(this)), DownButton(new QToolButton(this)) {
  UpButton->setArrowType(Qt::UpArrow);
  DownButton->setArrowType(Qt::DownArrow);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(UpButton);
  layout->addWidget(DownButton);
  connect(UpButton, &QToolButton::clicked, this, [this] {
    if (OnUpClick) OnUpClick();
  });
  connect(DownButton, &QToolButton::clicked, this, [this] {
    if (OnDownClick) OnDownClick();
  });
}

TfrmDebug::TfrmDebug(std::shared_ptr<const TDebugLink> link)
    : gbSteuerung(new QGroupBox(QStringLiteral("Steuerung"), this)),
      mZFM(Memo(gbSteuerung)),
      gbFM(new QGroupBox(this)),
      mFM(Memo(gbFM)),
      SpinButton1(new TSpinButton(this)),
      Timer1(new QTimer(this)),
      link_(std::move(link)) {
  setWindowTitle(QStringLiteral("Velto OPC-Server Debugfenster"));
  resize(560, 440);
  auto* station = new QHBoxLayout;
  station->addWidget(gbFM, 1);
  station->addWidget(SpinButton1, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gbSteuerung, 2);
  layout->addLayout(station, 3);

  SpinButton1->OnUpClick = [this] { SpinButton1UpClick(); };
  SpinButton1->OnDownClick = [this] { SpinButton1DownClick(); };
  Timer1->setInterval(kRefreshMs);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
  SpinButton1UpClick();  // station 1 first, when there is one
}

void TfrmDebug::Timer1Timer() {
  const auto snapshot = link_->Snapshot(shown_);
  if (!snapshot) return;  // the server has closed the window
  const TDebugTexts t = RefreshTexts(*snapshot);
  if (t.Zfm) mZFM->setPlainText(Lines(*t.Zfm));
  gbFM->setTitle(Q(t.FmCaption));
  // The entries are joined by tabs; stops of their own put each under its column's heading.
  const QFontMetricsF metrics(mFM->font());
  const std::vector<double> stops =
      FmTabStops(t.Fm, [&](const std::string& text) { return metrics.horizontalAdvance(Q(text)); });
  QTextOption option = mFM->document()->defaultTextOption();
  if (option.tabArray() != QList<qreal>(stops.begin(), stops.end())) {
    option.setTabArray(QList<qreal>(stops.begin(), stops.end()));
    mFM->document()->setDefaultTextOption(option);
  }
  mFM->setPlainText(Lines(t.Fm));
}

void TfrmDebug::SpinButton1UpClick() {
  // The list never changes its length while the server runs; any snapshot gives it.
  if (const auto snapshot = link_->Snapshot(shown_)) shown_ = SpinUp(shown_, snapshot->StationCount);
  Timer1Timer();
}

void TfrmDebug::SpinButton1DownClick() {
  shown_ = SpinDown(shown_);
  Timer1Timer();
}

void TfrmDebug::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace opc
