#include "RowIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace rowicons {

namespace {

const QColor kGreen(0, 150, 40);
const QColor kRed(215, 25, 25);

void DrawNote(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  // Two heads joined by a beam: a pair of quavers.
  p.drawEllipse(QRectF(1.5, 10.5, 5, 4));
  p.drawEllipse(QRectF(9.5, 8.5, 5, 4));
  p.setPen(QPen(kGreen, 1.6, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(5.8, 12.5), QPointF(5.8, 2.8));
  p.drawLine(QPointF(13.8, 10.5), QPointF(13.8, 1.2));
  QPainterPath beam;
  beam.moveTo(5.0, 2.0);
  beam.lineTo(14.6, 0.4);
  beam.lineTo(14.6, 3.4);
  beam.lineTo(5.0, 5.0);
  beam.closeSubpath();
  p.setPen(Qt::NoPen);
  p.fillPath(beam, kGreen);
}

void DrawTick(QPainter& p) {
  p.setPen(QPen(kGreen, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QVector<QPointF>{{2.5, 8.5}, {6.2, 12.5}, {13.5, 3.0}});
}

void DrawCross(QPainter& p) {
  p.setPen(QPen(kRed, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(3.0, 3.0), QPointF(13.0, 13.0));
  p.drawLine(QPointF(13.0, 3.0), QPointF(3.0, 13.0));
}

}  // namespace

QPixmap DrawMark(int mark) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (mark) {
    case kTick:
      DrawTick(p);
      break;
    case kCross:
      DrawCross(p);
      break;
    default:
      DrawNote(p);
      break;
  }
  return pixmap;
}

std::array<QIcon, 3> MakeImageList() {
  return {QIcon(DrawMark(kNote)), QIcon(DrawMark(kTick)), QIcon(DrawMark(kCross))};
}

}  // namespace rowicons
