#include "qt/qtplatform.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>

bool InputGate::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      const bool breakKey = (key->key() == Qt::Key_Pause || key->key() == Qt::Key_Cancel) &&
                            (key->modifiers() & Qt::ControlModifier);
      if (breakKey || key->key() == Qt::Key_Escape) cancelPressed = true;
      return true;
    }
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::Close:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;  // nothing may re-enter a command or close a window mid-way
    default:
      return QObject::eventFilter(watched, event);
  }
}

bool QtPlatform::CancelRequested() {
  const int64_t now = ClockMs();
  if (now - lastPump_ >= 50 && qApp) {
    lastPump_ = now;
    qApp->installEventFilter(&gate_);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    qApp->removeEventFilter(&gate_);
  }
  const bool cancel = gate_.cancelPressed;
  gate_.cancelPressed = false;
  return cancel;
}
