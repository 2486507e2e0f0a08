// The wait cursor for the length of a scope, restored on every path out of it. Pause() and
// Resume() let a message box shown meanwhile have the normal cursor.
#pragma once

#include <QGuiApplication>

class WaitCursor {
 public:
  WaitCursor() { Resume(); }
  ~WaitCursor() { Pause(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

  void Pause() {
    if (active_) QGuiApplication::restoreOverrideCursor();
    active_ = false;
  }
  void Resume() {
    if (!active_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    active_ = true;
  }

 private:
  bool active_ = false;
};
