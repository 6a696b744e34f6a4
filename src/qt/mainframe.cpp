#include "qt/mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QStatusBar>
#include <QStyleOptionMenuItem>

#include "app/imageview.h"
#include "app/menus.h"
#include "params/opnames.h"
#include "params/settings.h"
#include "qt/histogramwindow.h"
#include "qt/imagewidget.h"
#include "qt/qtui.h"

namespace {
// The size a menu-bar picture was drawn at.
QSize NaturalSize(const QIcon& icon) {
  const QList<QSize> sizes = icon.availableSizes();
  return sizes.isEmpty() ? QSize() : sizes.front();
}

// Draws a menu-bar item that carries a picture at the picture's own size: the style's
// small-icon square would shrink the 62 x 15 "Cond(Off)" picture to a few unreadable
// pixels.
class MenuBarPictureStyle : public QProxyStyle {
 public:
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget) const override {
    const QSize styled = QProxyStyle::sizeFromContents(type, option, size, widget);
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (type != CT_MenuBarItem || !item || item->icon.isNull()) return styled;
    // The style's padding around the picture itself.
    return styled.expandedTo(NaturalSize(item->icon) + (styled - size));
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuBarItem || !item || item->icon.isNull()) {
      QProxyStyle::drawControl(element, option, painter, widget);
      return;
    }
    QStyleOptionMenuItem plain(*item);  // the item's background and highlight alone
    plain.icon = QIcon();
    plain.text.clear();
    QProxyStyle::drawControl(element, &plain, painter, widget);
    const QSize natural = NaturalSize(item->icon);
    painter->drawPixmap(QStyle::alignedRect(item->direction, Qt::AlignCenter, natural, item->rect),
                        item->icon.pixmap(natural));
  }
};
}  // namespace

CMainFrame::CMainFrame() : model_(this) {
  setWindowTitle(QStringLiteral("ZEP"));
  client_ = new QMdiArea(this);
  setCentralWidget(client_);
  const Settings& s = LiveSettings();
  setClientColour(
      QColor(s.frameWindowRed & 0xFF, s.frameWindowGreen & 0xFF, s.frameWindowBlue & 0xFF));
  panes_ = std::make_unique<StatusPanes>(statusBar());
  auto* pictures = new MenuBarPictureStyle;
  pictures->setParent(menuBar());
  menuBar()->setStyle(pictures);
  menuBar()->installEventFilter(this);
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

void CMainFrame::takeFocus() {
  activateWindow();
  raise();
  if (ImageWidget* image = activeImage()) {
    image->setFocus(Qt::ActiveWindowFocusReason);
  } else {
    setFocus(Qt::ActiveWindowFocusReason);
  }
}

void CMainFrame::ShowAbout() {
  DialogScope scope(this);
  QMessageBox::about(this, QStringLiteral("About ZEP"),
                     QStringLiteral("ZEP Image Processor\nVersion 3.7"));
}

void CMainFrame::sendMenuCommand(int id) {
  // Ctrl is read as the item is chosen: the key went to the menu, not to the image window,
  // while the menu was open.
  Flags().CtrlHeld = QGuiApplication::keyboardModifiers() & Qt::ControlModifier;
  sendCommand(id);
}

void CMainFrame::sendCommand(int id) {
  if (id == CommandId::Close) {
    if (QMdiSubWindow* w = client_->activeSubWindow()) w->close();
    return;
  }
  if (id == CommandId::Exit) {
    close();
    return;
  }
  ImageWidget* image = activeImage();
  RouteCommand(image ? &image->view() : nullptr, model_, id);
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
    connect(action, &QAction::triggered, this, [this, id] { sendMenuCommand(id); });
    actions_[id] = action;
    // The shortcuts live on the frame too, so they keep working while full screen hides
    // the menu bar.
    addAction(action);
  }
  for (const MenuItem& item : HiddenAccelerators()) {
    auto* action = new QAction(this);
    action->setShortcut(QKeySequence(QString::fromUtf8(item.key)));
    const int id = item.id;
    connect(action, &QAction::triggered, this, [this, id] { sendMenuCommand(id); });
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
  QFont font = p.font();
  font.setPixelSize(12);  // the word fits the picture whatever the desktop's font size
  p.setFont(font);
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

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == menuBar() && event->type() == QEvent::MouseMove) {
    const auto* move = static_cast<QMouseEvent*>(event);
    if (move->buttons() == Qt::NoButton) hoverMenuBar(move->position().toPoint());
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::hoverMenuBar(const QPoint& at) {
  CommandFlags& f = Flags();
  const bool suppressed = f.HoverSuppress;
  f.HoverSuppress = false;
  if (suppressed || !LiveSettings().autoMenu || QApplication::activePopupWidget()) return;
  QMenuBar* bar = menuBar();
  QAction* item = bar->actionAt(at);
  if (!item || !item->menu() || !bar->actionGeometry(item).contains(at, true)) return;
  bar->setActiveAction(item);
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
