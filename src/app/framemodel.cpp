#include "app/framemodel.h"

#include <unistd.h>
#include <filesystem>

#include "app/imageview.h"
#include "app/menus.h"
#include "image/fpbuffer.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/programdir.h"

namespace {
const char* const kLegalNotice =
    "ZEP is provided \"as is\", without warranty of any kind, express or implied, including "
    "but not limited to the warranties of merchantability, fitness for a particular purpose "
    "and noninfringement.\n\nYou use it at your own risk. In no event shall the authors be "
    "liable for any claim, damages or other liability arising from the use of the software."
    "\n\nYou may use, copy and distribute it under the terms of its licence.";
}  // namespace

int64_t LargestSquareBitmap(uint64_t availableBytes) {
  int64_t n = 256;
  while (static_cast<uint64_t>(GetDibBytes24(static_cast<int>(n), static_cast<int>(n))) <=
         availableBytes) {
    if (++n > 99999) return 99999;
  }
  return n - 1;
}

std::string HomePageUrl() {
  // The README ships beside the program like the kernel file (and is gathered into the
  // build tree's data folder); without it the page is the executable's folder.
  const std::filesystem::path readme = ShippedFile("README.md");
  if (!readme.empty()) return "file://" + std::filesystem::weakly_canonical(readme).string();
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return "file://" + std::filesystem::weakly_canonical(exe.parent_path()).string();
}

bool FrameModel::Dispatch(int id) {
  Settings& s = LiveSettings();
  switch (id) {
    case int(CommandId::New):
      OnFileNew();
      return true;
    case int(CommandId::Properties):
      Dialog2(s).RunPage(-1, 1, 1);
      return true;
    case int(CommandId::SetPropertiesToDefault):
      OnSetPropertiesToDefault();
      return true;
    case int(CommandId::LegalDisclaimer):
      OnLegalDisclaimer();
      return true;
    case int(CommandId::ZepHomePage):
    case int(CommandId::OnlineManual):
      GetUi().OpenUrl(HomePageUrl());
      return true;
    case int(CommandId::About):
      if (host_) host_->ShowAbout();
      return true;
    case int(CommandId::CurrentMemoryStatus):
      OnCurrentMemoryStatus();
      return true;
    case int(CommandId::MaximumDibSize):
      OnMaximumDibSize();
      return true;
    case int(CommandId::ScrollLockMultipleWindows):
      s.scrollLock = s.scrollLock ? 0 : 1;
      return true;
    case int(CommandId::Nothing):
      return true;  // Space is consumed and does nothing
    default:
      return false;
  }
}

bool RouteCommand(CImageView* view, FrameModel& frame, int id) {
  if (view && !IsFrameCommand(id) && view->Dispatch(id)) return true;
  return frame.Dispatch(id);
}

int FrameModel::Checked(int id) const {
  if (id == CommandId::ScrollLockMultipleWindows) return LiveSettings().scrollLock ? 1 : 0;
  return -1;
}

void FrameModel::OnFileNew() {
  if (host_ && host_->ImageWindowCount() >= kMaxWindows) {
    ShowMessage("Maximum Number of Windows is 10.");
    return;
  }
  if (host_) host_->OpenImageWindow();
}

void FrameModel::OnSetPropertiesToDefault() {
  LiveSettings().ResetToDefaults();
  if (host_) host_->Repaint();
}

void FrameModel::OnLegalDisclaimer() {
  GetUi().MessageBox(kLegalNotice, "Legal Notice", MessageStyle{.notice = true});
}

void FrameModel::OnCurrentMemoryStatus() {
  // The report asked for, not the one that comes with a failed allocation.
  GetUi().MessageBox(MemoryStatusText(""), "Memory Status",
                     MessageStyle{MessageButtons::Ok, MessageIcon::Information, true});
}

void FrameModel::OnMaximumDibSize() {
  GetUi().BeginWaitCursor();
  const uint64_t n = uint64_t(LargestSquareBitmap(GetPlatform().Memory().availPhys));
  GetUi().EndWaitCursor();
  const uint64_t a = n * n;  // 64 bits: 99999 squared does not fit 32
  GetUi().MessageBox(Format("%llu X %llu Pixels\n\n%f Megapixels\n\n%f Gigabytes",
                            static_cast<unsigned long long>(n), static_cast<unsigned long long>(n),
                            double(a) * 1e-6, 3.0 * double(a) * 1e-9),
                     "Approximate Maximum Possible DIB Size",
                     MessageStyle{MessageButtons::Ok, MessageIcon::Information, true});
}
