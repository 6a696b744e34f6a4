// ZEP: start-up and shut-down of the desktop program.
#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <clocale>
#include <iostream>

#include "app/imageview.h"
#include "ops/operations.h"
#include "params/settings.h"
#include "platform/messages.h"
#include "platform/programdir.h"
#include "qt/mainframe.h"
#include "qt/qtfiles.h"
#include "qt/qtplatform.h"
#include "qt/qtui.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Qt takes the user's locale; texts and files keep the C locale's numbers.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("ZEP"));

  QtPlatform platform;
  SetPlatform(&platform);
  if (!InitProgramDirectory(DefaultProgramDirectory())) {
    std::cerr << "Cannot create the program directory " << DefaultProgramDirectory() << "\n";
    return 1;
  }
  LoadSettingsAtStartUp(LiveSettings());
  RegisterOperations();
  QtImaging imaging;
  SetImaging(&imaging);
  // The command line names one image (Qt has taken its own options out of it).
  const QStringList args = QApplication::arguments();
  CommandLine() = args.mid(1).join(QLatin1Char(' ')).toStdString();

  CMainFrame frame;
  QtUi ui(&frame, &frame.panes());
  SetUi(&ui);
  // Sized to the screen first: without a window manager (a virtual display) "maximised"
  // alone leaves the window at its natural size.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    frame.setGeometry(screen->availableGeometry());
  }
  frame.showMaximized();
  frame.OnFileNew();
  frame.takeFocus();  // the shortcuts work from the first key
  // Opened in the first window once the event loop runs.
  if (!CommandLine().empty())
    QTimer::singleShot(0, &frame, [&frame] { frame.sendCommand(CommandId::CommandLineOpen); });
  const int result = QApplication::exec();

  SaveSettingsAtShutDown(LiveSettings());
  SetUi(nullptr);
  SetImaging(nullptr);
  SetPlatform(nullptr);
  ShutDownProgramDirectory();
  return result;
}
