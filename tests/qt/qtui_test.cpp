// The desktop Ui's dialogs as a user meets them: a file dialog leaves nothing behind (no
// folder model rescanning, no completion popup, no lost focus), and the Print to File
// chooser is silent when cancelled and completes a bare name.
#include "qt/qtui.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPrinter>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>

#include "app/print.h"
#include "params/dialog1.h"
#include "qt/imagewidget.h"
#include "shown_frame.h"

namespace {
// The desktop Ui with its message boxes and sounds recorded instead of shown and played.
class RecordingQtUi : public QtUi {
 public:
  using QtUi::QtUi;
  DialogResult MessageBox(std::string_view text, std::string_view, MessageStyle) override {
    messages.emplace_back(text);
    return DialogResult::Ok;
  }
  void PlaySoundFile(const std::string& path) override { sounds.push_back(path); }
  std::vector<std::string> messages, sounds;
};

class QtUiTest : public ShownFrameTest {
 protected:
  void SetUp() override {
    ShownFrameTest::SetUp();
    previous = SetUi(&desktop);
  }
  void TearDown() override {
    SetUi(previous);
    ShownFrameTest::TearDown();
  }

  // Plays the user on the next file dialog once it shows; a dialog that never shows, or
  // stays open, fails the test instead of waiting for ever.
  void OnFileDialog(std::function<void(QFileDialog&)> user) {
    QTimer::singleShot(50, &frame, [this, user] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) {
        ADD_FAILURE() << "no file dialog";
        return;
      }
      seen = true;
      user(*dialog);
      if (dialog->isVisible()) {
        ADD_FAILURE() << "the dialog is still open";
        dialog->reject();
      }
    });
  }

  // Qt objects of the kinds a file dialog leaves behind, anywhere in the program.
  template <class T>
  static int Alive() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      n += int(w->findChildren<T*>().size()) + (qobject_cast<T*>(w) ? 1 : 0);
    }
    return n + int(qApp->findChildren<T*>().size());
  }

  RecordingQtUi desktop{&frame, &frame.panes()};
  Ui* previous = nullptr;
  bool seen = false;
};
}  // namespace

TEST_F(QtUiTest, AClosedFileDialogLeavesNoModelNoPopupAndTheFocusOnTheImage) {
  ImageWidget* image = frame.activeImage();
  ASSERT_NE(image, nullptr);
  std::ofstream(home / "alpha.png") << "x";
  std::ofstream(home / "alpine.png") << "x";
  const QString folder = QString::fromStdString(home.string());
  bool popupShown = false;
  // The user types the start of a path, so that its completion list drops down, and
  // leaves with the list still open.
  OnFileDialog([&](QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(folder);
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setFocus();
    QTest::keyClicks(name, folder + QStringLiteral("/al"));
    QTest::qWait(300);  // the folder model fills the list from its own thread
    popupShown = QApplication::activePopupWidget() != nullptr;
    dialog.reject();
  });
  const FileDialogAnswer answer = desktop.OpenFileDialog({"PNG|*.png|", 1, "", ""});
  EXPECT_TRUE(seen);
  EXPECT_TRUE(popupShown);
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(Alive<QFileDialog>(), 0);
  EXPECT_EQ(Alive<QFileSystemModel>(), 0);
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), image);
  // So the next key reaches the menus at once: F12, Conditional Operations.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F12);
  EXPECT_EQ(LiveSettings().conditional, 0);

  // The next open dialog starts in the folder the last one was left in.
  seen = false;
  QString start;
  OnFileDialog([&](QFileDialog& dialog) {
    start = dialog.directory().absolutePath();
    dialog.reject();
  });
  desktop.OpenFileDialog({"PNG|*.png|", 1, "", ""});
  EXPECT_TRUE(seen);
  EXPECT_EQ(start, folder);
}

TEST_F(QtUiTest, PrintToFileChooserIsSilentWhenCancelledAndCompletesABareName) {
  if (QPrinter(QPrinter::HighResolution).outputFormat() != QPrinter::PdfFormat) {
    GTEST_SKIP() << "this desktop has a printer: there is no file to choose";
  }
  CImageView& v = frame.activeImage()->view();
  v.currentBitmap() = DisplayBitmap(30, 20);
  LastPageSetup() = PageSetup{500, 500, 500, 500, 200, 200, 200, 200, 4000, 3000, 50, 50};
  LiveSettings().soundOnCompletion = 1;
  FlagScope f2(Flags().F2Active, true);  // the last page setup, no dialogs before the chooser

  OnFileDialog([](QFileDialog& dialog) { dialog.reject(); });
  v.Dispatch(CommandId::PrintImage);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(desktop.messages.empty()) << desktop.messages.front();
  EXPECT_TRUE(desktop.sounds.empty());
  EXPECT_EQ(v.elapsedText, "");

  seen = false;
  const QString folder = QString::fromStdString(home.string());
  OnFileDialog([&](QFileDialog& dialog) {
    dialog.setDirectory(folder);
    // Typed, as a user does: selectFile leaves the name field alone once it has the focus.
    dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("sheet"));
    QMetaObject::invokeMethod(&dialog, "accept");
  });
  Flags().F2Active = true;
  v.Dispatch(CommandId::PrintImage);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(desktop.messages.empty()) << desktop.messages.front();
  EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/sheet.pdf")));
  EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/sheet")));
  EXPECT_EQ(desktop.sounds.size(), 1u);
  EXPECT_EQ(Alive<QFileDialog>(), 0);
}

TEST_F(QtUiTest, TheWindowUnderAClosedDialogIsPaintedBeforeTheCommandGoesOn) {
  // Counts the image window's paints.
  struct PaintCounter : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++paints;
      return false;
    }
    int paints = 0;
  } counter;
  frame.activeImage()->installEventFilter(&counter);
  QTimer::singleShot(50, &frame, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    seen = true;
    counter.paints = 0;
    dialog->reject();
  });
  Dialog1 prompt;
  prompt.title = "Crop";
  EXPECT_EQ(desktop.ShowPrompt(prompt), DialogResult::Cancel);
  EXPECT_TRUE(seen);
  // Painted already, without the event loop that a long command keeps away.
  EXPECT_GT(counter.paints, 0);
  EXPECT_EQ(QApplication::focusWidget(), frame.activeImage());
  frame.activeImage()->removeEventFilter(&counter);
}

TEST_F(QtUiTest, TheSaveDialogShowsTheNameWithItsOwnExtensionCase) {
  const std::string proposed = (home / "name.png").string();
  QString shown;
  OnFileDialog([&](QFileDialog& dialog) {
    shown = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
    dialog.reject();
  });
  desktop.SaveFileDialog({"PNG (*.PNG)|*.PNG|JPEG (*.JPG)|*.JPG|", 1, proposed, "PNG"});
  EXPECT_TRUE(seen);
  EXPECT_EQ(shown.toStdString(), "name.png");
}
