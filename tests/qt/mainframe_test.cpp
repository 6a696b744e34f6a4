#include "qt/mainframe.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTimer>
#include <cstdlib>

#include "app/imageview.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "qt/dialogs.h"
#include "qt/imagewidget.h"
#include "qt/qtplatform.h"
#include "qt/qtui.h"
#include "support/zep_test.h"

namespace {
// One application object for the test program, gone before the process's static
// destructors run (Qt's own statics would otherwise outlive it).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[9] = "zep-test";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};
[[maybe_unused]] auto* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace

using MainFrameTest = ZepTest;

TEST_F(MainFrameTest, OpensTenWindowsAndRefusesTheEleventh) {
  CMainFrame frame;
  frame.show();
  EXPECT_EQ(frame.panes().text(0), "Dimensions");
  EXPECT_EQ(frame.panes().text(5), "Elapsed Time");
  for (int i = 0; i < 10; ++i) frame.OnFileNew();
  EXPECT_EQ(frame.windowCount(), 10);
  ui.ExpectMessage("Maximum Number of Windows is 10.");
  frame.OnFileNew();
  EXPECT_EQ(frame.windowCount(), 10);
  frame.client().activeSubWindow()->close();
  QApplication::processEvents();
  EXPECT_EQ(frame.windowCount(), 9);
  frame.OnFileNew();
  EXPECT_EQ(frame.windowCount(), 10);
}

TEST_F(MainFrameTest, ProgressPaneAndScreenshot) {
  CMainFrame frame;
  frame.resize(1000, 700);
  frame.show();
  frame.OnFileNew();
  frame.panes().showProgressPane();
  frame.panes().drawProgress(40);
  frame.panes().setText(4, "  12 X 34");
  EXPECT_EQ(frame.panes().text(4), "  12 X 34");
  const QImage shot = frame.grab().toImage();
  EXPECT_EQ(shot.width(), 1000);
  // The progress bar is blue where it has grown.
  shot.save(QStringLiteral("mainframe.png"));
  frame.panes().endProgress();
}

TEST_F(MainFrameTest, MenusFollowTheActiveWindow) {
  LiveSettings().SetDefaults();
  CMainFrame frame;
  frame.show();
  frame.OnFileNew();
  ImageWidget* image = frame.activeImage();
  ASSERT_NE(image, nullptr);
  QMenu* resize = frame.menuAt(5);
  emit resize->aboutToShow();
  QAction* destroy = nullptr;
  for (QAction* a : resize->actions()) {
    if (a->data().toInt() == CommandId::DestroyFloatingPointBuffers) destroy = a;
  }
  ASSERT_NE(destroy, nullptr);
  EXPECT_FALSE(destroy->isEnabled());  // nothing to destroy in an empty window
  CImageView& v = image->view();
  v.currentBitmap() = DisplayBitmap(4, 4);
  v.currentLayer().dim(4, 4, 0x17);
  emit resize->aboutToShow();
  EXPECT_TRUE(destroy->isEnabled());
  destroy->trigger();  // the menu command reaches the window's handler
  EXPECT_EQ(v.currentLayer().n, 0);
  EXPECT_FALSE(v.currentBitmap().empty());
  EXPECT_EQ(frame.menuAt(13)->title(), "AutoQ( On)");
  frame.sendCommand(CommandId::AutomaticQueryOfProperties);  // Ctrl+Q
  EXPECT_EQ(frame.menuAt(13)->title(), "AutoQ(Off)");
}

TEST_F(MainFrameTest, PumpSwallowsInputButHearsTheCancelKey) {
  QtPlatform qt;
  Platform* previous = SetPlatform(&qt);
  InputGate gate;
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
  QObject target;
  EXPECT_TRUE(gate.eventFilter(&target, &letter));  // swallowed
  EXPECT_FALSE(gate.cancelPressed);
  EXPECT_TRUE(gate.eventFilter(&target, &escape));
  EXPECT_TRUE(gate.cancelPressed);
  QKeyEvent brk(QEvent::KeyPress, Qt::Key_Pause, Qt::ControlModifier);
  InputGate other;
  other.eventFilter(&target, &brk);
  EXPECT_TRUE(other.cancelPressed);
  EXPECT_FALSE(qt.CancelRequested());  // nothing pressed
  SetPlatform(previous);
}

TEST_F(MainFrameTest, PropertiesDialogWidgetsDriveTheModel) {
  CMainFrame frame;
  QtUi qtUi(&frame, &frame.panes());
  Settings& live = LiveSettings();
  live.SetDefaults();
  live.file.jpegQuality = 75;
  // The page of JPEG saving: type a quality and press OK through the widgets.
  Dialog2 model(live);
  model.RunPage(-1, 1, -1);  // never shown: nothing happens
  bool found = false;
  for (int page = 0; page < 150 && !found; ++page) {
    model.ShowPage(page);
    for (int r = 1; r <= Dialog2::kRows; ++r) {
      if (model.Label(r) == "JPEG Quality" || model.Label(r) == "Quality") {
        PropertiesDialog dialog(model, &frame);
        dialog.rowBox(r)->setEditText(QStringLiteral("93"));
        dialog.pressOk();
        found = true;
        break;
      }
    }
  }
  ASSERT_TRUE(found) << "no page shows the JPEG quality";
  EXPECT_EQ(live.file.jpegQuality, 93);

  // Switching pages in the tree reads the page left back.
  Dialog2 tour(live);
  tour.ShowPage(0);
  PropertiesDialog dialog(tour, &frame);
  EXPECT_GT(dialog.tree()->topLevelItemCount(), 0);
}

TEST_F(MainFrameTest, QOpensThePropertiesDialogAndATimerPressesOk) {
  LiveSettings().SetDefaults();
  LiveSettings().autoQuery = 0;  // Q shows the dialog whatever this says
  CMainFrame frame;
  QtUi qtUi(&frame, &frame.panes());
  Ui* previous = SetUi(&qtUi);
  frame.show();
  frame.OnFileNew();
  bool seen = false;
  QTimer::singleShot(100, [&] {
    auto* dialog = qobject_cast<PropertiesDialog*>(QApplication::activeModalWidget());
    if (dialog) {
      seen = true;
      dialog->pressOk();
    }
  });
  frame.sendCommand(CommandId::Properties);
  SetUi(previous);
  EXPECT_TRUE(seen);
  LiveSettings().conditional = 0;
  frame.refreshMenuCaptions(nullptr);
  EXPECT_FALSE(frame.menuAt(11)->menuAction()->icon().isNull());
  frame.close();
}
