#include "qt/mainframe.h"

#include <QAction>
#include <QCloseEvent>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QStatusBar>

#include "app/imageview.h"
#include "app/menus.h"
#include "params/opnames.h"
#include "params/settings.h"
#include "qt/histogramwindow.h"
#include "qt/imagewidget.h"

CMainFrame::CMainFrame() : model_(this) {
  setWindowTitle(QStringLiteral("ZEP"));
  client_ = new QMdiArea(this);
  setCentralWidget(client_);
  const Settings& s = LiveSettings();
  setClientColour(
      QColor(s.frameWindowRed & 0xFF, s.frameWindowGreen & 0xFF, s.frameWindowBlue & 0xFF));
  panes_ = std::make_unique<StatusPanes>(statusBar());
  buildMenus();
  histogram_ = new HistogramWindow(this);
}

CMainFrame::~CMainFrame() {
  // The image windows go first: their views speak to the panes while they close.
  client_->closeAllSubWindows();
  for (QMdiSubWindow* w : client_->subWindowList()) delete w;
}

void CMainFrame::setClientColour(const QColor& colour) { client_->setBackground(QBrush(colour)); }

int CMainFrame::ImageWindowCount() const { return int(client_->subWindowList().size()); }

void CMainFrame::OpenImageWindow() {
  auto* frame = new CChildFrame(this);
  client_->addSubWindow(frame);
  if (ImageWindowCount() == 1) {
    frame->showMaximized();
  } else {
    frame->show();
  }
  frame->image()->setFocus();
}

ImageWidget* CMainFrame::activeImage() const {
  QMdiSubWindow* sub = client_->activeSubWindow();
  if (!sub && !client_->subWindowList().isEmpty()) sub = client_->subWindowList().back();
  auto* child = qobject_cast<CChildFrame*>(sub);
  return child ? child->image() : nullptr;
}

void CMainFrame::ShowAbout() {
  QMessageBox::about(this, QStringLiteral("About ZEP"),
                     QStringLiteral("ZEP Image Processor\nVersion 3.7"));
}

void CMainFrame::sendCommand(int id) {
  if (id == 57602) {
    if (QMdiSubWindow* w = client_->activeSubWindow()) w->close();
    return;
  }
  if (id == 57665) {
    close();
    return;
  }
  ImageWidget* image = activeImage();
  if (image && !IsFrameCommand(id) && image->view().Dispatch(id)) return;
  model_.Dispatch(id);
}

void CMainFrame::buildMenus() {
  QMenuBar* bar = menuBar();
  for (int i = 0; i < kMenuCount; ++i)
    menus_.push_back(bar->addMenu(QString::fromUtf8(MenuTitle(i))));
  std::map<std::pair<int, std::string>, QMenu*> submenus;
  for (const MenuItem& item : MenuItems()) {
    QMenu* menu = menus_[size_t(item.menu)];
    if (item.submenu) {
      QMenu*& sub = submenus[{item.menu, item.submenu}];
      if (!sub) sub = menu->addMenu(QString::fromUtf8(item.submenu));
      menu = sub;
    }
    QAction* action = menu->addAction(QString::fromUtf8(item.text));
    action->setData(item.id);
    if (item.key) action->setShortcut(QKeySequence(QString::fromUtf8(item.key)));
    const int id = item.id;
    connect(action, &QAction::triggered, this, [this, id] { sendCommand(id); });
    actions_[id] = action;
    // The shortcuts live on the frame too, so they keep working while full screen hides
    // the menu bar.
    addAction(action);
  }
  for (const MenuItem& item : HiddenAccelerators()) {
    auto* action = new QAction(this);
    action->setShortcut(QKeySequence(QString::fromUtf8(item.key)));
    const int id = item.id;
    connect(action, &QAction::triggered, this, [this, id] { sendCommand(id); });
    addAction(action);
  }
  QMenu* window = menus_[15];
  window->addAction(QStringLiteral("&Cascade"), client_, &QMdiArea::cascadeSubWindows);
  window->addAction(QStringLiteral("&Tile"), client_, &QMdiArea::tileSubWindows);
  for (QMenu* menu : menus_) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { updateMenu(menu); });
  }
  refreshMenuCaptions(nullptr);
}

// Before a menu shows, every item's update handler decides its state.
void CMainFrame::updateMenu(QMenu* menu) {
  ImageWidget* image = activeImage();
  for (QAction* action : menu->actions()) {
    if (action->menu()) {
      updateMenu(action->menu());
      continue;
    }
    if (!action->data().isValid()) continue;
    const int id = action->data().toInt();
    int checked = model_.Checked(id);
    bool enabled = true;
    std::string text;
    if (image && !IsFrameCommand(id) && CImageView::FindCommand(id)) {
      const CommandState state = image->view().QueryMenuItem(id);
      enabled = state.enabled;
      checked = state.checked;
      text = state.text;
    } else if (!IsFrameCommand(id)) {
      enabled = image != nullptr;
    }
    action->setEnabled(enabled);
    action->setCheckable(checked >= 0);
    if (checked >= 0) action->setChecked(checked == 1);
    if (!text.empty()) action->setText(QString::fromStdString(text));
  }
}

namespace {
QIcon CondOffPicture() {
  QPixmap picture(62, 15);
  picture.fill(QColor(212, 208, 200));
  QPainter p(&picture);
  p.setPen(QColor(255, 0, 0));
  p.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("Cond(Off)"));
  return QIcon(picture);
}
}  // namespace

void CMainFrame::refreshMenuCaptions(CImageView* view) {
  const Settings& s = LiveSettings();
  if (view) {
    menus_[8]->setTitle(QString::fromUtf8(view->layerCaption));
    menus_[9]->setTitle(QString::fromUtf8(view->maskCaption));
    menus_[10]->setTitle(QString::fromUtf8(view->paintCaption));
    menus_[17]->setTitle(QString::fromStdString(view->operationName));
  }
  // With conditional operations off the item is a picture: "Cond(Off)" in red letters on
  // the menu bar's grey, so that the state cannot be missed.
  menus_[11]->setTitle(QString::fromUtf8(s.conditional ? "Cond( On)" : "Cond(Off)"));
  menus_[11]->menuAction()->setIcon(s.conditional ? QIcon() : CondOffPicture());
  menus_[13]->setTitle(QString::fromUtf8(s.autoQuery ? "AutoQ( On)" : "AutoQ(Off)"));
  menus_[12]->setTitle(QStringLiteral("Options"));
  menus_[14]->setTitle(QStringLiteral("Prog"));
  menus_[15]->setTitle(QStringLiteral("Window"));
  menus_[16]->setTitle(QStringLiteral("Help"));
}

void CMainFrame::popdownMenu(int n) {
  if (n < 1 || n > kMenuCount) return;
  menuBar()->setActiveAction(menus_[size_t(n - 1)]->menuAction());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  client_->closeAllSubWindows();
  event->accept();
}

void CMainFrame::setFullScreen(bool on, QMdiSubWindow* child) {
  if (on) {
    statusBarWasShown_ = statusBar()->isVisible();
    statusBar()->hide();
    menuBar()->hide();
    showFullScreen();
    fullScreenChild_ = child;
    if (child) {
      childFlags_ = child->windowFlags();
      child->setWindowFlags(childFlags_ | Qt::FramelessWindowHint);
      child->showMinimized();  // laid out again from scratch
      child->showMaximized();
    }
    return;
  }
  menuBar()->show();
  showMaximized();
  if (QMdiSubWindow* framed = fullScreenChild_.data()) {
    framed->setWindowFlags(childFlags_);
    framed->showMinimized();
    framed->showMaximized();
  }
  fullScreenChild_ = nullptr;
  if (statusBarWasShown_) statusBar()->show();
}
