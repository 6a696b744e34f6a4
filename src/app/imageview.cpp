#include "app/imageview.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "params/commands.h"
#include "params/opnames.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/progress.h"

CommandFlags& Flags() {
  static CommandFlags flags;
  return flags;
}

std::string& CommandLine() {
  static std::string line;
  return line;
}

std::array<CImageView*, CImageView::kMaxViews>& ViewTable() {
  static std::array<CImageView*, CImageView::kMaxViews> table{};
  return table;
}

std::array<matrix, 6>& TextureModel() {
  static std::array<matrix, 6> model;
  return model;
}

namespace {
int CurrentOperationId() {
  const Settings& s = LiveSettings();
  if (s.operationIndex < 0 || s.operationIndex >= Settings::kOperationSlots)
    return int(CommandId::NoOp);
  return s.operationList[s.operationIndex];
}
}  // namespace

CImageView::CImageView(ViewHost* viewHost) : host(viewHost) {
  auto& table = ViewTable();
  for (int i = 0; i < kMaxViews; ++i) {
    if (!table[size_t(i)]) {
      table[size_t(i)] = this;
      slot_ = i;
      break;
    }
  }
  TakeCurrentOperation();
}

void CImageView::TakeCurrentOperation() {
  f2OperationId = f3OperationId = CurrentOperationId();
  operationName = OperationName(uint32_t(f2OperationId));
}

void CImageView::OnSetFocus() {
  TakeCurrentOperation();
  Dispatch(CommandId::FocusCommand);
}

CImageView::~CImageView() {
  if (slot_ >= 0) ViewTable()[size_t(slot_)] = nullptr;
  // The panes show their captions again once no window speaks through them.
  static const char* const kCaptions[6] = {
      "Dimensions",  "CSpace", "Channels", "Visible Layer", "Pixel Info (Left Click)",
      "Elapsed Time"};
  for (int i = 0; i < 6; ++i) SetStatusText(kCaptions[i], i);
}

bool CImageView::Dispatch(int id) {
  const CommandEntry* entry = FindCommand(id);
  if (!entry) return false;
  CommandState state;
  if (entry->update) entry->update(*this, state, id);
  if (!state.enabled) return true;  // dropped without a word: its preconditions failed
  if (!entry->handler) return false;
  // Ctrl makes such a command the current F2/F3 operation instead of running it. One that
  // keeps settings shows its pages first (PrepareOperation looks at Ctrl after them), so
  // Ctrl sets its parameters without running it.
  const CommandDescriptor* d = CommandDescriptorOf(id);
  if (Flags().CtrlHeld && d && d->ctrlSelects && d->snapshot.length == 0) {
    SelectOperation(id, true);
    return true;
  }
  entry->handler(*this, id);
  return true;
}

CommandState CImageView::QueryCommand(int id) {
  CommandState state;
  const CommandEntry* entry = FindCommand(id);
  if (entry && entry->update) entry->update(*this, state, id);
  return state;
}

void CImageView::DestroyDisplayDib() { currentBitmap() = DisplayBitmap(); }

bool SizeBitmap(DisplayBitmap& bitmap, int width, int height) {
  if (!bitmap.empty() && bitmap.width() == width && bitmap.height() == height) return true;
  try {
    bitmap = DisplayBitmap(width, height);
  } catch (const std::bad_alloc&) {
    GetUi().MessageBox(
        "Failed to create bitmap!\n\nPossible cause is fragmented memory.\n\nPlease, read "
        "manual.",
        "", MessageStyle{MessageButtons::Ok, MessageIcon::Error});
    return false;
  }
  return true;
}

void CImageView::RefreshDisplay(bool sound, bool report) {
  CommandFlags& f = Flags();
  f.F3Active = f.F2Active = f.CtrlHeld = false;
  fpbuffer& layer = currentLayer();
  DisplayBitmap& bitmap = currentBitmap();
  if (!SizeBitmap(bitmap, layer.width, layer.height)) return;
  if (!bitmap.empty()) {
    layer.todib(bitmap.toprow(), selection.present() ? &selection : nullptr);
  }
  if (host && host->HistogramVisible()) host->RefreshHistogram();
  if (report) ReportCompletion(sound);
  if (host) host->Invalidate();
  UpdateStatus();
  if (host) host->SetFrameTitle(frameTitle);
}

void CImageView::HandleOutOfMemory() {
  for (fpbuffer& layer : layers) layer.clear(false);
  for (DisplayBitmap& b : bitmaps) b = DisplayBitmap();
  ShowMessage("Try using \"Destroy Floating Point Buffer\" option!");
  UpdateStatus();
  if (host) host->Invalidate();
}

void CImageView::OnDestroyFloatingPointBuffers(int id) {
  if (layers[0].n == 0 && layers[1].n == 0) return;
  // The menu item's Ctrl selects the list's own entry (DestroyBuffers selects itself on
  // the way in).
  if (Flags().CtrlHeld) {
    SelectOperation(CommandId::DestroyBuffers, true);
    return;
  }
  if (host && host->HistogramVisible()) host->HideHistogram();
  for (fpbuffer& layer : layers) layer.clear(true);
  pixelInfoText.clear();
  UpdateStatus();
  if (id == CommandId::DestroyFloatingPointBuffers) PopdownMenu(6);
}

void CImageView::OnCreateFloatingPointBuffer(int) {
  {
    ProcessTimer timer(startClock, nullptr);
    DisplayBitmap& bitmap = currentBitmap();
    fpbuffer& layer = currentLayer();
    try {
      layer.dim(bitmap.width(), bitmap.height(), layer.code);
      layer.fromdib(bitmap.toprow());
    } catch (const std::bad_alloc&) {
      // The planes' own message has told the user; the bitmap and the other layer stay,
      // so the window keeps showing the image.
      layer.clear(false);
      UpdateStatus();
      return;
    }
    if (host && host->HistogramVisible()) host->RefreshHistogram();
  }
  RefreshDisplay(true);
}

void CImageView::OnReopenDialogBox(int) {
  const int id = CurrentOperationId();
  if (id == CommandId::RunProgram) return;  // Run Program has no page of its own
  Settings& s = LiveSettings();
  const uint8_t autoQuery = s.autoQuery;
  {
    // The page shows whatever autoQuery says, and OK only selects the operation again.
    FlagScope ctrl(Flags().CtrlHeld, true);
    s.autoQuery = 1;
    try {
      Dispatch(id);
    } catch (...) {
      s.autoQuery = autoQuery;
      throw;
    }
  }
  Flags().CtrlHeld = false;
  s.autoQuery = autoQuery;
}

void CImageView::OnFocusCommand(int) {
  if (host && host->HistogramVisible()) host->RefreshHistogram();
  if (host) host->SetFrameTitle(frameTitle);
  UpdateStatus();
}

void CImageView::PopdownMenu(int n) {
  CommandFlags& f = Flags();
  if (f.SkipPopdown) {
    f.SkipPopdown = false;
    return;
  }
  if (f.F2Active || f.F3Active) return;
  if (host) host->PopdownMenu(n);
}

void CImageView::OnAutomaticQuery(int) {
  Settings& s = LiveSettings();
  s.autoQuery = s.autoQuery ? 0 : 1;
  UpdateStatus();
}

void CImageView::OnAutomaticPopdown(int) {
  Settings& s = LiveSettings();
  s.autoMenu = s.autoMenu ? 0 : 1;
}

void CImageView::OnKeypadChannel(int id) {
  // Keypad 1, 5 and 9 toggle channels X, Y and Z without opening the CSpace menu.
  Flags().SkipPopdown = true;
  Dispatch(int(CommandId::XChannel) + id - int(CommandId::KeypadChannelX));
}
