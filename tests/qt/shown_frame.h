#pragma once
// A fixture for tests with real events: the main window shown, active, with one image
// window that has the focus, the way the program starts.
#include <QApplication>

#include "app/imageview.h"
#include "params/settings.h"
#include "qt/mainframe.h"
#include "support/zep_test.h"

class ShownFrameTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    frame.resize(1000, 700);
    frame.show();
    frame.OnFileNew();
    frame.takeFocus();
    QApplication::processEvents();
  }
  void TearDown() override {
    while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    ZepTest::TearDown();
  }

  CMainFrame frame;
};
