#include "gui/icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <cmath>
#include <functional>
#include <numbers>
#include <utility>
#include <vector>

namespace zvk::gui {

namespace {

// A picture drawn on a grid of its natural size when a size of it is first asked for, and kept
// at that size. Its sizes are those of an icon holding the picture at its natural size and at
// twice that: the one of the two that serves a wanted size best, made smaller to fit it. Nothing
// is drawn before the picture is shown, and only at the sizes and scales the screen asks for.
class DrawnIcon final : public QIconEngine {
 public:
  DrawnIcon(std::function<void(QPainter&)> paint, QSize natural)
      : paint_(std::move(paint)), natural_(natural) {}

  QSize actualSize(const QSize& wanted, QIcon::Mode, QIcon::State) override {
    auto area = [](QSize s) { return qint64{s.width()} * s.height(); };
    QSize shown = area(natural_) >= area(wanted) ? natural_ : natural_ * 2;
    if (shown.width() > wanted.width() || shown.height() > wanted.height())
      shown.scale(wanted, Qt::KeepAspectRatio);
    return shown;
  }

  QPixmap pixmap(const QSize& wanted, QIcon::Mode mode, QIcon::State state) override {
    const QSize shown = actualSize(wanted, mode, state);
    if (shown.isEmpty()) return {};
    // A picture under the pointer looks as it does at rest: one drawing serves both.
    if (mode == QIcon::Active) mode = QIcon::Normal;
    for (const Drawn& d : drawn_)
      if (d.size == shown && d.mode == mode) return d.pixmap;
    QPixmap pixmap(shown);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(static_cast<double>(shown.width()) / natural_.width(),
            static_cast<double>(shown.height()) / natural_.height());
    paint_(p);
    p.end();
    // Greyed out or selected as the style shows a picture in that state.
    if (mode == QIcon::Disabled || mode == QIcon::Selected) {
      const QStyleOption option;
      if (QPixmap styled = QApplication::style()->generatedIconPixmap(mode, pixmap, &option);
          !styled.isNull())
        pixmap = styled;
    }
    drawn_.push_back({shown, mode, pixmap});
    return pixmap;
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal scale = painter->device() != nullptr ? painter->device()->devicePixelRatio()
                                                     : qApp->devicePixelRatio();
    painter->drawPixmap(rect, pixmap(rect.size() * scale, mode, state));
  }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    return {natural_, natural_ * 2};
  }

  QIconEngine* clone() const override { return new DrawnIcon(*this); }

 private:
  struct Drawn {
    QSize size;
    QIcon::Mode mode;
    QPixmap pixmap;
  };
  std::function<void(QPainter&)> paint_;
  QSize natural_;
  std::vector<Drawn> drawn_;
};

QIcon Draw(std::function<void(QPainter&)> paint, QSize size = {32, 32}) {
  return QIcon(new DrawnIcon(std::move(paint), size));
}

// A wide picture: a round badge with `symbol` drawn in it, and the word beside it.
QIcon Wide(const QColor& color, const QString& word, const std::function<void(QPainter&)>& symbol) {
  return Draw(
      [color, word, symbol](QPainter& p) {
        p.setPen(QPen(color.darker(140), 1));
        p.setBrush(QColor(246, 248, 251));
        p.drawRoundedRect(QRectF(0.5, 0.5, kWideImageSize.width() - 1, 35), 5, 5);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(4, 4, 28, 28));
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        symbol(p);
        QFont font = p.font();
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.setPen(color.darker(150));
        p.drawText(QRectF(36, 0, kWideImageSize.width() - 40, 36), Qt::AlignCenter, word);
      },
      kWideImageSize);
}

}  // namespace

QIcon WriteIcon() {
  return Draw([](QPainter& p) {
    // A sheet with a pencil across it.
    p.setPen(QPen(QColor(70, 80, 95), 1.2));
    p.setBrush(QColor(250, 250, 245));
    p.drawRect(QRectF(5, 3, 17, 24));
    p.setPen(QPen(QColor(150, 160, 175), 1.2));
    for (int y = 9; y <= 21; y += 4) p.drawLine(QPointF(8, y), QPointF(19, y));
    p.translate(22, 20);
    p.rotate(45);
    p.setPen(QPen(QColor(120, 70, 20), 1));
    p.setBrush(QColor(240, 170, 40));
    p.drawRect(QRectF(-3, -12, 6, 17));
    QPolygonF tip;
    tip << QPointF(-3, 5) << QPointF(3, 5) << QPointF(0, 10);
    p.setBrush(QColor(60, 60, 60));
    p.drawPolygon(tip);
  });
}

QIcon FirmwareImage() {
  return Wide(QColor(40, 110, 190), QStringLiteral("F/W Update"), [](QPainter& p) {
    p.drawLine(QPointF(18, 26), QPointF(18, 11));
    p.drawLine(QPointF(12, 16), QPointF(18, 10));
    p.drawLine(QPointF(24, 16), QPointF(18, 10));
  });
}

QIcon DefaultsImage() {
  return Wide(QColor(200, 120, 20), QStringLiteral("Default"), [](QPainter& p) {
    p.drawArc(QRectF(11, 11, 14, 14), 90 * 16, 270 * 16);
    p.drawLine(QPointF(18, 11), QPointF(14, 8));
    p.drawLine(QPointF(18, 11), QPointF(14, 14));
  });
}

QIcon RebootImage() {
  return Wide(QColor(190, 40, 40), QStringLiteral("Reboot"), [](QPainter& p) {
    p.drawArc(QRectF(11, 12, 14, 14), 120 * 16, 300 * 16);
    p.drawLine(QPointF(18, 9), QPointF(18, 18));
  });
}

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
