#include "gui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <functional>
#include <numbers>

namespace zvk::gui {

namespace {

// Drawn on a 32 x 32 grid, rendered at two scales so high-density screens stay sharp.
QIcon Draw(const std::function<void(QPainter&)>& paint) {
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pixmap(32 * scale, 32 * scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    paint(p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon SetupIcon() {
  return Draw([](QPainter& p) {
    const QPointF c(16, 16);
    QPainterPath gear;
    gear.addEllipse(c, 10, 10);
    for (int i = 0; i < 8; ++i) {
      QPainterPath tooth;
      tooth.addRoundedRect(QRectF(-3, -15, 6, 8), 1.5, 1.5);
      QTransform t;
      t.translate(c.x(), c.y());
      t.rotate(45.0 * i);
      gear = gear.united(t.map(tooth));
    }
    QPainterPath hole;
    hole.addEllipse(c, 4.5, 4.5);
    gear = gear.subtracted(hole);
    p.setPen(QPen(QColor(40, 60, 90), 1.2));
    p.setBrush(QColor(96, 125, 160));
    p.drawPath(gear);
  });
}

QIcon RefreshIcon() {
  return Draw([](QPainter& p) {
    const QColor green(30, 140, 70);
    p.setPen(QPen(green, 4, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(6, 6, 20, 20);
    p.drawArc(ring, 60 * 16, 290 * 16);
    // Arrow head at the open end of the arc, pointing along it.
    const double a = 60.0 * std::numbers::pi / 180.0;
    const QPointF tip(16 + 10 * std::cos(a), 16 - 10 * std::sin(a));
    QPolygonF head;
    head << tip + QPointF(-7, -4) << tip + QPointF(3, -7) << tip + QPointF(1, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    p.drawPolygon(head);
  });
}

QIcon FindMeIcon() {
  return Draw([](QPainter& p) {
    QPainterPath pin;
    pin.moveTo(16, 30);
    pin.cubicTo(10, 22, 6, 17, 6, 12);
    pin.arcTo(QRectF(6, 2, 20, 20), 180, -180);
    pin.cubicTo(26, 17, 22, 22, 16, 30);
    pin.closeSubpath();
    QPainterPath dot;
    dot.addEllipse(QPointF(16, 12), 4, 4);
    p.setPen(QPen(QColor(150, 30, 30), 1.2));
    p.setBrush(QColor(225, 70, 50));
    p.drawPath(pin.subtracted(dot));
  });
}

QIcon TrendIcon() {
  return Draw([](QPainter& p) {
    p.setPen(QPen(QColor(60, 60, 70), 2, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(QPointF(5, 4), QPointF(5, 27));
    p.drawLine(QPointF(5, 27), QPointF(29, 27));
    QPolygonF line;
    line << QPointF(7, 22) << QPointF(12, 15) << QPointF(17, 19) << QPointF(22, 9)
         << QPointF(28, 12);
    p.setPen(QPen(QColor(30, 110, 200), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(line);
  });
}

QIcon AppIcon() {
  return Draw([](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(25, 60, 110));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    // Radio waves above a trace: a Wi-Fi module's readings over time.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(120, 200, 255), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(16, 3, 12, 12), 0, 90 * 16);
    p.drawArc(QRectF(19, 6, 6, 6), 0, 90 * 16);
    QPolygonF trace;
    trace << QPointF(5, 23) << QPointF(10, 23) << QPointF(13, 14) << QPointF(17, 26)
          << QPointF(20, 19) << QPointF(27, 19);
    p.setPen(QPen(QColor(255, 200, 60), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(trace);
  });
}

}  // namespace zvk::gui
