#include "StatusBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  setCursor(Qt::PointingHandCursor);
}

void TStatusBar::SetPanels(const QStringList& texts, const std::vector<int>& widths) {
  texts_ = texts;
  widths_ = widths;
  update();
}

void TStatusBar::SetMessage(const QString& message) {
  message_ = message;
  setToolTip(message);
  update();
}

int TStatusBar::MessageLeft() const {
  int left = 0;
  for (size_t i = 0; i + 1 < widths_.size() && i + 1 < static_cast<size_t>(texts_.size()); ++i) {
    left += widths_[i];
  }
  const QString last = texts_.isEmpty() ? QString() : texts_.back();
  return left + fontMetrics().horizontalAdvance(last) + 24;
}

void TStatusBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  p.setPen(palette().color(QPalette::WindowText));
  int left = 0;
  for (qsizetype i = 0; i < texts_.size(); ++i) {
    const bool last = i + 1 == texts_.size();
    const int panelWidth =
        last ? width() - left : (static_cast<size_t>(i) < widths_.size() ? widths_[i] : 0);
    const QRect panel(left, 2, panelWidth - 2, height() - 2);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = panel;
    frame.lineWidth = 1;
    frame.state |= QStyle::State_Sunken;
    style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &frame, &p, this);
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(panel.topLeft(), panel.topRight());
    p.drawLine(panel.topLeft(), panel.bottomLeft());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(panel.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
               texts_[i]);
    left += panelWidth;
  }
  if (!message_.isEmpty()) {
    const QRect area(MessageLeft(), 2, width() - MessageLeft() - 6, height() - 2);
    p.drawText(area, Qt::AlignVCenter | Qt::AlignRight | Qt::TextSingleLine,
               fontMetrics().elidedText(message_, Qt::ElideRight, area.width()));
  }
}

void TStatusBar::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const bool onMessage = !message_.isEmpty() && at.x() >= MessageLeft();
  if (event->button() == Qt::LeftButton && rect().contains(at) && !onMessage) {
    emit clickedAt(event->position().toPoint().x());
  }
  QStatusBar::mouseReleaseEvent(event);
}
