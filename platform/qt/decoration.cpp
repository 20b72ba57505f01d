#include "platform/qt/decoration.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace platform {

QImage MakeDecoration() {
  constexpr int kWidth = 115;
  constexpr int kHeight = 229;
  QImage image(kWidth, kHeight, QImage::Format_RGB888);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  // A deep blue sky fading to a pale horizon.
  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0.0, QColor(12, 46, 110));
  sky.setColorAt(0.6, QColor(48, 110, 186));
  sky.setColorAt(1.0, QColor(196, 222, 245));
  painter.fillRect(image.rect(), sky);

  // Soft diagonal stripes for texture.
  painter.setPen(QPen(QColor(255, 255, 255, 18), 6));
  for (int x = -kHeight; x < kWidth; x += 18) painter.drawLine(x, kHeight, x + kHeight, 0);

  // The window shows the picture stretched to 111 x 369: the emblem is drawn
  // squeezed by the inverse, so that it looks round there.
  painter.save();
  painter.translate(kWidth / 2.0, 84);
  painter.scale(1.0, (229.0 / 369.0) / (115.0 / 111.0));
  painter.translate(-kWidth / 2.0, -84);

  // The emblem: a ring holding a downward arrow into a tray.
  const QPointF centre(kWidth / 2.0, 84);
  painter.setPen(QPen(QColor(255, 255, 255, 235), 5));
  painter.setBrush(QColor(255, 255, 255, 40));
  painter.drawEllipse(centre, 38, 38);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 240));
  painter.drawRect(QRectF(centre.x() - 7, centre.y() - 24, 14, 24));
  painter.drawPolygon(QPolygonF({QPointF(centre.x() - 18, centre.y()), QPointF(centre.x() + 18, centre.y()),
                                 QPointF(centre.x(), centre.y() + 20)}));
  painter.setPen(QPen(QColor(255, 255, 255, 240), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  QPainterPath tray;
  tray.moveTo(centre.x() - 22, centre.y() + 14);
  tray.lineTo(centre.x() - 22, centre.y() + 24);
  tray.lineTo(centre.x() + 22, centre.y() + 24);
  tray.lineTo(centre.x() + 22, centre.y() + 14);
  painter.drawPath(tray);
  painter.restore();

  // Three bars below, like the progress of a transfer.
  const int widths[] = {79, 58, 34};
  for (int i = 0; i < 3; ++i) {
    const QRectF groove(18, 150 + i * 14, 79, 5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 60));
    painter.drawRoundedRect(groove, 2.5, 2.5);
    painter.setBrush(QColor(255, 255, 255, 220));
    painter.drawRoundedRect(QRectF(groove.x(), groove.y(), widths[i], groove.height()), 2.5, 2.5);
  }
  painter.end();
  return image;
}

}  // namespace platform
