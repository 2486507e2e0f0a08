// The byte counter of an MP3 tag box: while an MP3 file is shown, the right end of the box shows
// how many GBK bytes its ID3v1 slot has left, and a text that will be cut or that GBK cannot hold
// turns the box to a warning colour and says why in its tooltip.
#pragma once

#include <QLabel>
#include <QPalette>

class QLineEdit;

class TByteCounter : public QLabel {
  Q_OBJECT

 public:
  // Lives inside `box` and follows its text.
  explicit TByteCounter(QLineEdit* box);

  // Counts against a slot of `capacity` bytes; 0 hides the counter and clears the marks.
  void SetCapacity(int capacity);
  int Capacity() const { return capacity_; }
  // The bytes left, negative when the text is too long.
  int Left() const { return left_; }
  // True while the box is marked: its text will be cut or holds characters GBK lacks.
  bool Warns() const { return warns_; }

 private:
  void Update();

  QLineEdit* box_;
  QPalette normal_;
  int capacity_ = 0;
  int left_ = 0;
  bool warns_ = false;
};
