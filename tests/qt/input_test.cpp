// The main window under real key and mouse events: Ctrl on a menu item, switching image
// windows, automatic popdown menus, the Cond(Off) picture and the focus at start.
#include <QAction>
#include <QApplication>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "qt/imagewidget.h"
#include "shown_frame.h"

namespace {
class InputTest : public ShownFrameTest {
 protected:
  // The item of a command in a menu.
  static QAction* Item(QMenu* menu, int id) {
    for (QAction* a : menu->actions()) {
      if (a->data().toInt() == id) return a;
    }
    return nullptr;
  }

  // Opens menu position n with a click on the menu bar and clicks the command's item, with
  // modifiers held during both clicks.
  void Choose(int n, int id, Qt::KeyboardModifiers modifiers) {
    QMenuBar* bar = frame.menuBar();
    QMenu* menu = frame.menuAt(n);
    const QPoint title = bar->actionGeometry(menu->menuAction()).center();
    QTest::mousePress(bar, Qt::LeftButton, modifiers, title);
    QTest::mouseRelease(bar, Qt::LeftButton, modifiers, title);
    ASSERT_TRUE(menu->isVisible());
    QAction* item = Item(menu, id);
    ASSERT_NE(item, nullptr);
    const QPoint at = menu->actionGeometry(item).center();
    QTest::mouseMove(menu, at);
    QTest::mousePress(menu, Qt::LeftButton, modifiers, at);
    QTest::mouseRelease(menu, Qt::LeftButton, modifiers, at);
    EXPECT_FALSE(menu->isVisible());
  }
};
}  // namespace

TEST_F(InputTest, CtrlHeldOnAMenuItemSelectsTheCommandAndWithoutCtrlItRuns) {
  ImageWidget* image = frame.activeImage();
  ASSERT_NE(image, nullptr);
  CImageView& v = image->view();
  // Ctrl goes down over the image, the menu opens (taking the focus) and the item is
  // clicked: Conditional Operations only becomes the F2/F3 operation.
  QTest::keyPress(image, Qt::Key_Control, Qt::ControlModifier);
  ASSERT_TRUE(Flags().CtrlHeld);
  Choose(11, int(CommandId::ConditionalOperations), Qt::ControlModifier);
  EXPECT_EQ(LiveSettings().conditional, 1);
  EXPECT_EQ(v.f2OperationId, CommandId::ConditionalOperations);
  EXPECT_EQ(frame.menuAt(17)->title(), "TogCond");
  QTest::keyRelease(image, Qt::Key_Control, Qt::NoModifier);

  // Ctrl pressed only while the menu is open counts as well.
  LiveSettings().operationList[0] = 0;
  v.SelectListEntry(1);
  Choose(11, int(CommandId::ConditionalOperations), Qt::ControlModifier);
  EXPECT_EQ(LiveSettings().conditional, 1);
  EXPECT_EQ(v.f2OperationId, CommandId::ConditionalOperations);

  // Without Ctrl the command runs.
  Choose(11, int(CommandId::ConditionalOperations), Qt::NoModifier);
  EXPECT_EQ(LiveSettings().conditional, 0);
  EXPECT_FALSE(Flags().CtrlHeld);
}

TEST_F(InputTest, SwitchingWindowsMakesTheListsCurrentEntryTheF2Operation) {
  ImageWidget* first = frame.activeImage();
  frame.OnFileNew();
  ImageWidget* second = frame.activeImage();
  ASSERT_NE(first, second);
  QApplication::processEvents();
  // Back in the first window (a click on it), an operation is chosen with Ctrl held.
  QTest::mouseClick(first, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  ASSERT_EQ(frame.activeImage(), first);
  QTest::keyPress(first, Qt::Key_Control, Qt::ControlModifier);
  Choose(11, int(CommandId::ConditionalOperations), Qt::ControlModifier);
  QTest::keyRelease(first, Qt::Key_Control, Qt::NoModifier);
  ASSERT_EQ(first->view().f2OperationId, int(CommandId::ConditionalOperations));
  EXPECT_NE(second->view().f2OperationId, int(CommandId::ConditionalOperations));

  // A click on the other window makes it active: its F2 and the caption follow the list.
  QTest::mouseClick(second, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(frame.activeImage(), second);
  EXPECT_EQ(second->view().f2OperationId, int(CommandId::ConditionalOperations));
  EXPECT_EQ(second->view().operationName, "TogCond");
  EXPECT_EQ(frame.menuAt(17)->title(), "TogCond");

  // So does a window activated without a click on it (the Window menu, Ctrl+Tab).
  LiveSettings().operationList[0] = int(CommandId::SetPropertiesToDefault);
  auto* firstFrame = qobject_cast<QMdiSubWindow*>(first->parentWidget());
  ASSERT_NE(firstFrame, nullptr);
  frame.client().setActiveSubWindow(firstFrame);
  QApplication::processEvents();
  EXPECT_EQ(first->view().f2OperationId, int(CommandId::SetPropertiesToDefault));
  EXPECT_EQ(frame.menuAt(17)->title(), QString::fromUtf8(first->view().operationName));
}

TEST_F(InputTest, AutomaticPopdownMenusOpenTheMenuUnderThePointer) {
  QMenuBar* bar = frame.menuBar();
  QMenu* basic = frame.menuAt(3);
  const QPoint over = bar->actionGeometry(basic->menuAction()).center();
  auto hover = [&] {
    QMouseEvent move(QEvent::MouseMove, QPointF(over), bar->mapToGlobal(QPointF(over)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
  };
  LiveSettings().autoMenu = 0;
  hover();
  EXPECT_FALSE(basic->isVisible());
  // The menu command turns the option on; then passing over the menu bar is enough.
  frame.sendCommand(CommandId::AutomaticPopdownMenus);
  ASSERT_EQ(LiveSettings().autoMenu, 1);
  hover();
  EXPECT_TRUE(basic->isVisible());
  basic->close();
  // Right after a menu re-opened itself the first move opens nothing.
  Flags().HoverSuppress = true;
  hover();
  EXPECT_FALSE(basic->isVisible());
  EXPECT_FALSE(Flags().HoverSuppress);
}

TEST_F(InputTest, CondOffPictureIsShownAtItsOwnSize) {
  LiveSettings().conditional = 0;
  frame.refreshMenuCaptions(nullptr);
  QApplication::processEvents();
  QMenuBar* bar = frame.menuBar();
  const QRect item = bar->actionGeometry(frame.menuAt(11)->menuAction());
  EXPECT_GE(item.width(), 62);
  EXPECT_GE(item.height(), 15);
  const QImage shot = bar->grab().toImage();
  shot.save(QStringLiteral("menubar-condoff.png"));
  // The red letters span most of the picture, not a few pixels of it.
  int left = shot.width(), right = -1, top = shot.height(), bottom = -1;
  for (int y = item.top(); y <= item.bottom(); ++y) {
    for (int x = item.left(); x <= item.right(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      if (c.red() < 160 || c.green() > 110 || c.blue() > 110) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  EXPECT_GE(right - left + 1, 40);
  EXPECT_GE(bottom - top + 1, 7);

  LiveSettings().conditional = 1;
  frame.refreshMenuCaptions(nullptr);
  EXPECT_EQ(frame.menuAt(11)->title(), "Cond( On)");
  EXPECT_TRUE(frame.menuAt(11)->menuAction()->icon().isNull());
}

TEST_F(InputTest, ShortcutsAnswerFromTheStart) {
  ImageWidget* image = frame.activeImage();
  EXPECT_EQ(QApplication::activeWindow(), &frame);
  EXPECT_EQ(QApplication::focusWidget(), image);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F12);  // Conditional Operations
  EXPECT_EQ(LiveSettings().conditional, 0);
}
