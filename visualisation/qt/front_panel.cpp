#include "visualisation/qt/front_panel.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include "platform/files.h"
#include "visualisation/led_table.h"

namespace lumaro {

namespace {

const QColor kBackground(0xC8, 0xC8, 0xC8);
const QColor kHousing(0x2E, 0x3A, 0x48);
const QColor kModule(0x3C, 0x4A, 0x5A);
const QColor kCover(0x26, 0x30, 0x3C);
const QColor kPrint(0xE8, 0xE8, 0xE8);
const QColor kTerminal(0x9A, 0xA0, 0xA8);

QColor LedColour(int number) {
  const Rgb& c = kLedColours[size_t(number)];
  return QColor(c.r, c.g, c.b);
}

void Hole(QPainter& p, int row, int colour_number) {
  const LedPlace& l = kLeds[size_t(row)];
  p.setPen(QColor(0x10, 0x10, 0x10));
  p.setBrush(LedColour(colour_number));
  p.drawEllipse(QRect(l.x - kLedRadius, l.y - kLedRadius, 2 * kLedRadius, 2 * kLedRadius));
}

void Module(QPainter& p, const QRect& r, const QColor& fill) {
  p.setPen(QColor(0x10, 0x10, 0x10));
  p.setBrush(fill);
  p.drawRoundedRect(r.adjusted(0, 0, -1, -1), 4, 4);
}

void Text(QPainter& p, const QRect& r, const QString& text, int pixel_size, int flags = Qt::AlignCenter) {
  QFont f("DejaVu Sans");
  f.setPixelSize(pixel_size);
  p.setFont(f);
  p.setPen(kPrint);
  p.drawText(r, flags, text);
}

// Screw terminals along a module's edge.
void Terminals(QPainter& p, int x0, int y, int count, int step) {
  p.setPen(QColor(0x10, 0x10, 0x10));
  for (int i = 0; i < count; ++i) {
    p.setBrush(kTerminal);
    p.drawRect(x0 + i * step, y, 10, 10);
    p.drawLine(x0 + i * step + 2, y + 8, x0 + i * step + 8, y + 2);
  }
}

}  // namespace

QImage DrawStationPicture() {
  QImage img(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  img.fill(kBackground);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::black);
  p.setBrush(kHousing);
  p.drawRoundedRect(QRect(2, 2, kPictureWidth - 5, kPictureHeight - 5), 8, 8);
  Text(p, QRect(14, 12, 300, 30), QString::fromUtf8("Funkmodem"), 18, Qt::AlignLeft | Qt::AlignVCenter);

  // Binary inputs 1-8 and 9-16, numbered.
  for (int m = 0; m < 2; ++m) {
    const int x0 = m == 0 ? 12 : 188;
    Module(p, QRect(x0, 70, 173, 100), kModule);
    Text(p, QRect(x0, 74, 173, 16), QString::fromUtf8(m == 0 ? "Eingänge 1-8" : "Eingänge 9-16"), 11);
    for (int i = 0; i < 8; ++i) {
      const LedPlace& l = kLeds[size_t(kFirstInputLed + m * 8 + i)];
      Text(p, QRect(l.x - 8, 121, 16, 12), QString::number(m * 8 + i + 1), 9);
    }
    Terminals(p, x0 + 20, 146, 8, 17);
  }
  for (int i = 0; i < 16; ++i) Hole(p, kFirstInputLed + i, 0);

  // Binary outputs 1-8: a relay module whose copy serves outputs 9-16, so it carries no numbers.
  const QRect block(kOutputBlock.x, kOutputBlock.y, kOutputBlock.w, kOutputBlock.h);
  Module(p, block, kModule);
  for (int i = 0; i < 8; ++i) {
    const LedPlace& l = kLeds[size_t(kFirstOutputLed + i)];
    p.setPen(QColor(0x10, 0x10, 0x10));
    p.setBrush(QColor(0x20, 0x20, 0x20));
    p.drawRect(l.x - 6, 220, 12, 18);  // relay
    p.setBrush(kTerminal);
    p.drawRect(l.x - 5, 250, 10, 10);
    p.drawRect(l.x - 5, 264, 10, 10);
  }
  Text(p, QRect(block.x(), 284, block.width(), 18), QString::fromUtf8("Ausgänge"), 11);
  for (int i = 0; i < 8; ++i) Hole(p, kFirstOutputLed + i, 0);

  // The empty slot beside it (outputs 9-16 or analog inputs).
  Module(p, QRect(kOutputBlockCopyX, kOutputBlockCopyY, kOutputBlock.w, kOutputBlock.h), kCover);

  // The modem: its own LEDs (not driven) and the receive-power bar.
  Module(p, QRect(425, 70, 163, 240), kModule);
  Text(p, QRect(425, 74, 163, 16), QString::fromUtf8("Modem"), 11);
  for (int row = 40; row < kLedCount; ++row) Hole(p, row, kLeds[size_t(row)].c);
  Text(p, QRect(425, 176, 163, 16), QString::fromUtf8("Empfangspegel"), 11);
  for (int k = 0; k < kBarLeds; ++k) Hole(p, kFirstBarLed + k, 0);
  QPainterPath wedge;
  wedge.moveTo(437, 230);
  wedge.lineTo(569, 230);
  wedge.lineTo(569, 214);
  wedge.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(kTerminal);
  p.drawPath(wedge);
  // Antenna socket.
  p.setPen(QColor(0x10, 0x10, 0x10));
  p.setBrush(kTerminal);
  p.drawEllipse(QRect(495, 260, 24, 24));
  p.setBrush(QColor(0x20, 0x20, 0x20));
  p.drawEllipse(QRect(503, 268, 8, 8));
  return img;
}

QImage DrawAnalogPicture() {
  QImage img(kAnalogWidth, kAnalogHeight, QImage::Format_RGB32);
  img.fill(kHousing);
  QPainter p(&img);
  Module(p, QRect(0, 0, kAnalogWidth, kAnalogHeight), kModule);
  for (int n = 0; n < 4; ++n) {
    const int cx = 25 + n * 41;
    p.setPen(QColor(0x10, 0x10, 0x10));
    p.setBrush(QColor(0x20, 0x20, 0x20));
    p.drawEllipse(QRect(cx - 12, 14, 24, 24));  // a meter face
    p.setPen(kPrint);
    p.drawLine(cx, 32, cx + 7, 20);
    Text(p, QRect(cx - 18, 44, 36, 14), QString("AE%1").arg(n + 1), 10);
    Terminals(p, cx - 11, 66, 2, 12);
  }
  Text(p, QRect(0, 96, kAnalogWidth, 18), QString::fromUtf8("Analogeingänge"), 11);
  return img;
}

namespace {

QImage Load(const std::string& program_dir, const char* name, QImage (*draw)()) {
  const std::string path = platform::FindFileNoCase(program_dir + name);
  if (!path.empty()) {
    QImage img(QString::fromStdString(path));
    if (!img.isNull()) return img.convertToFormat(QImage::Format_RGB32);
  }
  return draw();
}

}  // namespace

QImage StationPicture(const std::string& program_dir) { return Load(program_dir, "Station.png", DrawStationPicture); }
QImage AnalogPicture(const std::string& program_dir) { return Load(program_dir, "Analog.png", DrawAnalogPicture); }

QImage ComposePicture(const QImage& station, const QImage& analog, bool copy_output_block, bool show_analog) {
  QImage img = station.copy();
  QPainter p(&img);
  if (copy_output_block) {
    p.drawImage(QPoint(kOutputBlockCopyX, kOutputBlockCopyY),
                station.copy(kOutputBlock.x, kOutputBlock.y, kOutputBlock.w, kOutputBlock.h));
  } else if (show_analog) {
    p.drawImage(QPoint(kAnalogX, kAnalogY), analog);
  }
  return img;
}

}  // namespace lumaro
