// Draws the wizard's artwork into a folder: "watermark.png" (165 x 305, the
// picture down the left side of every page) and "tickora-setup.png" (128 x
// 128, the program icon). Both are plain QPainter drawings: a quiet blue
// gradient with a few candlesticks climbing a faint grid. The drawing is
// fixed (no randomness), so every build makes the same pictures.
//
// Usage: tickora-draw-art OUTPUT_FOLDER

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <cstdio>

namespace {

struct Candle {
  double open;
  double close;
  double high;
  double low;
};

// One rising run of sessions, in price units of 0..1 (1 at the top).
constexpr Candle kCandles[] = {
    {0.18, 0.26, 0.29, 0.14}, {0.26, 0.22, 0.30, 0.19},
    {0.22, 0.34, 0.37, 0.21}, {0.34, 0.31, 0.38, 0.27},
    {0.31, 0.45, 0.48, 0.30}, {0.45, 0.41, 0.50, 0.38},
    {0.41, 0.56, 0.60, 0.40}, {0.56, 0.66, 0.70, 0.53},
};

// Draws the first `count` candles into `area`, bodies `body` pixels wide;
// prices from `low` to `high` fill the area's height.
void DrawCandles(QPainter& painter, const QRectF& area, double body,
                 int count, double low = 0.0, double high = 1.0) {
  const double step = area.width() / count;
  auto y_of = [&](double price) {
    return area.bottom() - (price - low) / (high - low) * area.height();
  };
  for (int i = 0; i < count; ++i) {
    const Candle& c = kCandles[i];
    const double x = area.left() + step * (i + 0.5);
    const bool rising = c.close >= c.open;
    const QColor wick(255, 255, 255, 150);
    const QColor fill = rising ? QColor(255, 255, 255, 215)
                               : QColor(255, 140, 120, 200);
    painter.setPen(QPen(wick, 1.2));
    painter.drawLine(QPointF(x, y_of(c.high)), QPointF(x, y_of(c.low)));
    const double top = y_of(std::max(c.open, c.close));
    const double bottom = y_of(std::min(c.open, c.close));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRect(QRectF(x - body / 2, top, body, std::max(bottom - top, 1.5)));
  }
}

QImage DrawWatermark() {
  QImage image(165, 305, QImage::Format_RGB888);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, 40, 305);
  sky.setColorAt(0.0, QColor(0x1b, 0x3f, 0x73));
  sky.setColorAt(0.6, QColor(0x1f, 0x5d, 0x8c));
  sky.setColorAt(1.0, QColor(0x2a, 0x86, 0x9e));
  painter.fillRect(image.rect(), sky);

  // A faint chart grid in the lower half.
  painter.setPen(QPen(QColor(255, 255, 255, 28), 1));
  for (int y = 150; y < 305; y += 22) painter.drawLine(0, y, 165, y);
  for (int x = 12; x < 165; x += 24) painter.drawLine(x, 150, x, 305);

  // A soft glow behind the candles.
  QRadialGradient glow(QPointF(110, 190), 110);
  glow.setColorAt(0.0, QColor(255, 255, 255, 40));
  glow.setColorAt(1.0, QColor(255, 255, 255, 0));
  painter.fillRect(image.rect(), glow);

  const QRectF area(14, 130, 140, 150);
  DrawCandles(painter, area, 9, 8);

  // The moving average through the closes.
  QPainterPath line;
  const double step = area.width() / 8;
  for (int i = 0; i < 8; ++i) {
    const double mid = (kCandles[i].open + kCandles[i].close) / 2;
    const QPointF p(area.left() + step * (i + 0.5),
                    area.bottom() - mid * area.height());
    if (i == 0) line.moveTo(p); else line.lineTo(p);
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(255, 214, 120, 200), 1.6));
  painter.drawPath(line);

  // A thin light band at the foot, as a base line for the chart.
  painter.fillRect(QRectF(0, 292, 165, 13), QColor(255, 255, 255, 30));
  return image;
}

QImage DrawIcon() {
  QImage image(128, 128, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 128);
  sky.setColorAt(0.0, QColor(0x1b, 0x3f, 0x73));
  sky.setColorAt(1.0, QColor(0x2a, 0x86, 0x9e));
  painter.setPen(Qt::NoPen);
  painter.setBrush(sky);
  painter.drawRoundedRect(QRectF(4, 4, 120, 120), 22, 22);
  DrawCandles(painter, QRectF(18, 22, 92, 84), 12, 5, 0.14, 0.50);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tickora-draw-art OUTPUT_FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!DrawWatermark().save(folder + "/watermark.png", "PNG") ||
      !DrawIcon().save(folder + "/tickora-setup.png", "PNG")) {
    std::fprintf(stderr, "tickora-draw-art: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
