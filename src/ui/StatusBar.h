// The status bar at the window's foot: panels of fixed widths side by side, the last reaching to
// the bar's right end. A pointing hand over it; a left click reports its x.
#pragma once

#include <QStatusBar>
#include <QStringList>
#include <vector>

class TStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit TStatusBar(QWidget* parent = nullptr);

  void SetPanels(const QStringList& texts, const std::vector<int>& widths);
  const QStringList& PanelTexts() const { return texts_; }
  const std::vector<int>& PanelWidths() const { return widths_; }
  // A message at the bar's right end, beside the panels' texts (the last action's outcome);
  // a click on it is no click on a panel.
  void SetMessage(const QString& message);
  const QString& Message() const { return message_; }

 signals:
  // A click of the left mouse button, at x in the bar's own coordinates.
  void clickedAt(int x);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Where the message begins: past the last panel's text.
  int MessageLeft() const;

  QStringList texts_;
  std::vector<int> widths_;
  QString message_;
};
