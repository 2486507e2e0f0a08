// The About box: the product's name and version and how to reach its author, beside a picture.
// Modeless; any click on it closes it.
#pragma once

#include <QDialog>

class QLabel;

class TFrm_About : public QDialog {
  Q_OBJECT

 public:
  explicit TFrm_About(QWidget* parent = nullptr);

  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;

  // The eight lines of the text beside the picture.
  static QStringList TextLines();

  // A click on the background, the picture or the text: closes the box.
  void Image1Click();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};
