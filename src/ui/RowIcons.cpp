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

const QColor kBlue(30, 90, 200);
const QColor kGrey(140, 140, 140);

void DrawUndone(QPainter& p) {
  // An arrow turning back to the left.
  p.setPen(QPen(kBlue, 2.0, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  QPainterPath path;
  path.moveTo(4.0, 6.0);
  path.lineTo(10.0, 6.0);
  path.cubicTo(15.0, 6.0, 15.0, 13.5, 10.0, 13.5);
  path.lineTo(6.0, 13.5);
  p.drawPath(path);
  QPainterPath head;
  head.moveTo(1.0, 6.0);
  head.lineTo(6.0, 2.0);
  head.lineTo(6.0, 10.0);
  head.closeSubpath();
  p.fillPath(head, kBlue);
}

void DrawSkipped(QPainter& p) {
  p.setPen(QPen(kGrey, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(3.5, 8.0), QPointF(12.5, 8.0));
}

void DrawNotReached(QPainter& p) {
  p.setPen(QPen(kGrey, 1.8));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(3.0, 3.0, 10.0, 10.0));
}

void DrawGarbled(QPainter& p) {
  // A warning sign: an orange triangle with an exclamation mark.
  const QColor orange(235, 140, 0);
  QPainterPath triangle;
  triangle.moveTo(8.0, 1.0);
  triangle.lineTo(15.0, 14.5);
  triangle.lineTo(1.0, 14.5);
  triangle.closeSubpath();
  p.fillPath(triangle, orange);
  p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8.0, 5.5), QPointF(8.0, 9.5));
  p.drawPoint(QPointF(8.0, 12.3));
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
    case kUndone:
      DrawUndone(p);
      break;
    case kSkipped:
      DrawSkipped(p);
      break;
    case kNotReached:
      DrawNotReached(p);
      break;
    case kGarbled:
      DrawGarbled(p);
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

std::array<QIcon, kMarkCount> MakeMarks(const std::array<QIcon, 3>& imageList) {
  return {imageList[0],
          imageList[1],
          imageList[2],
          QIcon(DrawMark(kUndone)),
          QIcon(DrawMark(kSkipped)),
          QIcon(DrawMark(kNotReached)),
          QIcon(DrawMark(kGarbled))};
}

}  // namespace rowicons
