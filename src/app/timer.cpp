// Timing, completion report and the options that go with them.
#include <cstdio>
#include <thread>

#include "app/imageview.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/progress.h"
#include "platform/regularfile.h"

ProcessTimer::ProcessTimer(int64_t& startClock, CImageView* window) {
  if (Flags().Quiet) return;
  GetUi().BeginWaitCursor();
  waitCursor_ = true;
  if (window && LiveSettings().monitorSleepAtStart) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    GetUi().SetMonitorPower(1);
  }
  startClock = GetPlatform().ClockMs();
}

ProcessTimer::~ProcessTimer() {
  if (waitCursor_) GetUi().EndWaitCursor();
}

std::string ElapsedText(int64_t milliseconds) {
  // The factors are the single-precision 1/1000, 1/60 and 1/24 the report has always used.
  const float seconds = float(milliseconds) * 0.001f;
  const float minutes = seconds * 0.016666668f;
  const float hours = minutes * 0.016666668f;
  const float days = hours * 0.041666668f;
  return Format("%.2f secs, %.2f mins., %.2f hrs., %.2f days", seconds, minutes, hours, days);
}

void CImageView::ReportCompletion(bool sound) {
  if (Flags().Quiet) return;
  endClock = GetPlatform().ClockMs();
  // Before the window's first timed command there is no start to count from (a batch times
  // nothing while it runs quietly): no time is better than the clock's own reading.
  if (startClock != 0) {
    elapsedText = ElapsedText(endClock - startClock);
    // Straight into the Elapsed Time pane, which the progress bar gives back now: a command
    // that ends without a status update (a save) must not leave its time over the pixel
    // information.
    SuspendProgress();
    GetUi().EndProgressPane();
    SetStatusText(elapsedText, 5);
  }
  if (host) host->MakeForeground();
  const Settings& s = LiveSettings();
  if (s.monitorWakeAtCompletion) GetUi().SetMonitorPower(-1);
  if (s.soundOnCompletion && sound) GetUi().PlaySoundFile(ProgramPath("zep.wav").string());
}

void CImageView::OnSoundNotification(int) {
  const std::string path = ProgramPath("zep.wav").string();
  // A sound file that is not a regular file (a pipe, say) would block the player.
  if (KindOfFile(path) == FileKind::Regular) {
    Settings& s = LiveSettings();
    s.soundOnCompletion = s.soundOnCompletion ? 0 : 1;
    if (s.soundOnCompletion) GetUi().PlaySoundFile(path);
  } else {
    ShowMessage(
        "File, zep.wav, not found.\nPut any WAV file renamed zep.wav in same directory as " +
        ProgramDirectory().string() + ".");
  }
  UpdateStatus();
  PopdownMenu(13);
}

void CImageView::OnMonitorOption(int id) {
  Settings& s = LiveSettings();
  uint8_t& option =
      id == CommandId::AwakenSleepingMonitor ? s.monitorWakeAtCompletion : s.monitorSleepAtStart;
  option = option ? 0 : 1;
  PopdownMenu(13);
}
