#pragma once
// The main window: an MDI frame with up to ten image windows, the menu bar built from the
// command table, and the six status panes.
#include <QColor>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <map>
#include <memory>

#include "app/framemodel.h"
#include "qt/statuspanes.h"

class QAction;
class QMenu;
class CImageView;
class ImageWidget;
class HistogramWindow;

class CMainFrame : public QMainWindow, public FrameHost {
  Q_OBJECT
 public:
  static constexpr int kMaxWindows = FrameModel::kMaxWindows;

  CMainFrame();
  ~CMainFrame() override;

  // File New: opens one image window, or says why not.
  void OnFileNew() { model_.OnFileNew(); }
  int windowCount() const { return ImageWindowCount(); }
  StatusPanes& panes() { return *panes_; }
  QMdiArea& client() { return *client_; }
  FrameModel& model() { return model_; }
  // The client's background, the frame-window colour of the settings.
  void setClientColour(const QColor& colour);
  // The image window that commands go to, or null.
  ImageWidget* activeImage() const;

  // Routes a command as the menu would: to the active image window first, then to the
  // frame.
  void sendCommand(int id);
  void sendCommand(CommandId id) { sendCommand(static_cast<int>(id)); }
  // Activates the frame and gives the focus to the active image window (or the frame), so
  // that the menu shortcuts answer without a click first.
  void takeFocus();
  // Brings the menu captions up to date from a window's state.
  void refreshMenuCaptions(CImageView* view);
  void popdownMenu(int n);
  // The histogram tool window, created hidden with the frame.
  HistogramWindow& histogram() { return *histogram_; }
  // Full screen: frame and child lose caption, border, menu and status bar, or get them
  // back as they were.
  void setFullScreen(bool on, QMdiSubWindow* child);
  // The menu of a position (0-17), for tests.
  QMenu* menuAt(int position) { return menus_[size_t(position)]; }

  // FrameHost
  void OpenImageWindow() override;
  int ImageWindowCount() const override;
  void ShowAbout() override;
  void Repaint() override { update(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildMenus();
  void updateMenu(QMenu* menu);
  // A menu item or its shortcut was chosen: the command with Ctrl as held at that moment.
  void sendMenuCommand(int id);
  // The pointer moved over the menu bar: with automatic popdown menus on, the menu under
  // it opens.
  void hoverMenuBar(const QPoint& at);

  QMdiArea* client_;
  std::unique_ptr<StatusPanes> panes_;
  FrameModel model_;
  std::vector<QMenu*> menus_;
  std::map<int, QAction*> actions_;
  HistogramWindow* histogram_ = nullptr;
  bool statusBarWasShown_ = true;
  Qt::WindowFlags childFlags_;
  QPointer<QMdiSubWindow> fullScreenChild_;  // the child whose frame full screen removed
};
