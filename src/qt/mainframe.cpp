#include "qt/mainframe.h"

#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

#include "platform/messages.h"

CMainFrame::CMainFrame() {
  setWindowTitle(QStringLiteral("ZEP"));
  client_ = new QMdiArea(this);
  setCentralWidget(client_);
  setClientColour(QColor(0, 0, 0));
  panes_ = std::make_unique<StatusPanes>(statusBar());
  buildMenus();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::setClientColour(const QColor& colour) { client_->setBackground(QBrush(colour)); }

int CMainFrame::windowCount() const { return int(client_->subWindowList().size()); }

void CMainFrame::OnFileNew() {
  if (windowCount() >= kMaxWindows) {
    ShowMessage("Maximum Number of Windows is 10.");
    return;
  }
  auto* view = new QWidget;
  view->setAutoFillBackground(true);
  QPalette palette = view->palette();
  palette.setColor(QPalette::Window, Qt::black);
  view->setPalette(palette);
  QMdiSubWindow* frame = client_->addSubWindow(view);
  frame->setAttribute(Qt::WA_DeleteOnClose);
  frame->setWindowTitle(QStringLiteral("Untitled"));
  frame->resize(640, 480);
  if (windowCount() == 1) {
    frame->showMaximized();
  } else {
    frame->show();
  }
}

void CMainFrame::buildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(QStringLiteral("&New"), QKeySequence(QStringLiteral("Ctrl+N")), this,
                  &CMainFrame::OnFileNew);
  file->addAction(QStringLiteral("Close"), QKeySequence(QStringLiteral("Shift+N")), this, [this] {
    if (QMdiSubWindow* w = client_->activeSubWindow()) w->close();
  });
  file->addSeparator();
  file->addAction(QStringLiteral("E&xit"), QKeySequence(QStringLiteral("Shift+Esc")), this,
                  &QWidget::close);
  QMenu* window = menuBar()->addMenu(QStringLiteral("&Window"));
  window->addAction(QStringLiteral("&Cascade"), client_, &QMdiArea::cascadeSubWindows);
  window->addAction(QStringLiteral("&Tile"), client_, &QMdiArea::tileSubWindows);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(QStringLiteral("&About ZEP..."), this, [this] {
    QMessageBox::about(this, QStringLiteral("About ZEP"),
                       QStringLiteral("ZEP\nVersion 3.7\n\nProvided as is, without warranty of "
                                      "any kind."));
  });
}
