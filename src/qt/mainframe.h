#pragma once
// The main window: an MDI frame with up to ten image windows and the six status panes.
#include <QColor>
#include <QMainWindow>
#include <QMdiArea>
#include <memory>

#include "qt/statuspanes.h"

class QtUi;

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kMaxWindows = 10;

  CMainFrame();
  ~CMainFrame() override;

  // File New: opens one image window, or says why not.
  void OnFileNew();
  int windowCount() const;
  StatusPanes& panes() { return *panes_; }
  QMdiArea& client() { return *client_; }
  // The client's background, the frame-window colour of the settings.
  void setClientColour(const QColor& colour);

 private:
  void buildMenus();

  QMdiArea* client_;
  std::unique_ptr<StatusPanes> panes_;
};
