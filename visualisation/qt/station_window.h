// TStation: the window of one polled station. It draws what its TStationCore holds (the front
// panel with its LEDs, the gauges, the status labels) and hands the core its clicks and timer
// ticks. In logging mode closing only hides it, so that it keeps logging.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>

#include "visualisation/main_core.h"
#include "visualisation/station_core.h"

class QLabel;

namespace lumaro {

// ImageStation: the composed front panel with the LEDs drawn over it, 1:1 in pixels.
class TStationPicture final : public QWidget {
 public:
  TStationPicture(TStationCore& core, QImage station, QImage analog, QWidget* parent);
  void Recompose();
  // What the widget shows now, as an image.
  QImage Rendered() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  void Paint(QPainter& p) const;
  TStationCore& core_;
  QImage station_;
  QImage analog_;
  QImage composed_;
};

// A gauge of the range 0..4095: a bar in navy, or red while its channel is invalid.
class TGauge final : public QWidget {
 public:
  explicit TGauge(QWidget* parent);
  void SetState(int32_t progress, bool bad);
  int32_t Progress() const { return progress_; }
  QColor ForeColor() const;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  int32_t progress_ = 0;
  bool bad_ = false;
};

class TStation final : public QMainWindow, public IStationWindow {
 public:
  // entry: the station's list entry, told when the window goes (it outlives the window).
  TStation(const Context& context, const TMemIni& ini, const StationParams& params, RStation* entry, bool logging,
           QWidget* parent = nullptr);
  ~TStation() override;

  // Connects and builds the display; the window may close itself when no connection came
  // about (then Released() tells that it is on its way out).
  void Init();
  bool Released() const { return released_; }
  void ShowWindow() override;
  // What STimer runs every second.
  void OnTimer() { core_->TimerTick(); }

  TStationCore& Core() { return *core_; }
  TStationPicture& Picture() { return *picture_; }
  QTimer& Timer() { return timer_; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void Sync();

  const Context& context_;
  RStation* entry_;
  std::unique_ptr<TStationCore> core_;
  TStationPicture* picture_ = nullptr;
  std::array<QLabel*, kStationLabels> labels_{};
  struct AnalogWidgets {
    QWidget* column = nullptr;
    QLabel* caption = nullptr;
    TGauge* gauge = nullptr;
    QLabel* panel = nullptr;
    QLabel* unit = nullptr;
  };
  std::array<AnalogWidgets, kAnalogInputs> analog_{};
  std::array<QLabel*, 3> panels_{};
  QTimer timer_;
  bool released_ = false;
};

// The colours of the status labels.
QColor LabelQColor(LabelColour colour, const QColor& normal);

}  // namespace lumaro
