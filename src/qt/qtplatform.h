#pragma once
// The desktop half of the platform: cancel keys, and keeping the window painted while a
// long operation runs on the user-interface thread.
#include <QObject>

#include "platform/platform.h"

// Swallows user input while an operation runs, except the cancel keys (Ctrl+Pause/Break
// and Escape), which it records. Installed on the application for the length of a pump.
class InputGate : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool cancelPressed = false;
};

class QtPlatform : public SystemPlatform {
 public:
  // Polled at every progress tick. At most every 50 ms it lets pending paint events
  // through (so the window and the status bar stay drawn) with all other input held off,
  // and reports whether a cancel key was pressed since the last query.
  bool CancelRequested() override;

 private:
  InputGate gate_;
  int64_t lastPump_ = 0;
};
