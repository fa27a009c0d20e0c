#include "configurator/windows/toolbar_glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <functional>

namespace configurator::windows {

namespace {

// A glyph drawn on a 20 x 20 grid, at the toolbar's size and at twice that.
QIcon Glyph(const std::function<void(QPainter&)>& draw) {
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pixmap(20 * scale, 20 * scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    draw(p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon NewProjectGlyph() {
  return Glyph([](QPainter& p) {
    QPainterPath page;
    page.moveTo(4.5, 1.5);
    page.lineTo(12.5, 1.5);
    page.lineTo(16.5, 5.5);
    page.lineTo(16.5, 18.5);
    page.lineTo(4.5, 18.5);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawPolyline(QPolygonF({{12.5, 1.5}, {12.5, 5.5}, {16.5, 5.5}}));
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
      const double r = i % 2 ? 2.2 : 5.0, a = M_PI / 5 * i - M_PI / 2;
      star << QPointF(6.5 + r * std::cos(a), 13.0 + r * std::sin(a));
    }
    p.setPen(QPen(QColor(0xB0, 0x60, 0x00), 1));
    p.setBrush(QColor(0xFF, 0xD0, 0x20));
    p.drawPolygon(star);
  });
}

QIcon DeleteStationGlyph() {
  return Glyph([](QPainter& p) {
    p.setPen(QPen(QColor(0xD0, 0x10, 0x10), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4.5, 4.5), QPointF(15.5, 15.5));
    p.drawLine(QPointF(15.5, 4.5), QPointF(4.5, 15.5));
  });
}

}  // namespace configurator::windows
