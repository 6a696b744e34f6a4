// The command table of the image window: every command with its handler and its update
// handler. The update handler decides whether a command runs at all, from whatever route
// it comes, so its conditions are the command's preconditions. The rows and their update
// handlers come from the program's command table (params/commands.h); operations that are
// not built yet have no handler, and their menu items stay greyed.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "app/imageview.h"
#include "image/colorspace.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/format.h"

namespace {
using V = CImageView;
using Id = CommandId;
using Update = void (CImageView::*)(CommandState&, int);
using Handler = void (CImageView::*)(int);

// The update handler of each enable rule of the command table.
Update UpdateOf(EnableRule rule) {
  switch (rule) {
    case EnableRule::Always:
    case EnableRule::Frame:
      return nullptr;
    case EnableRule::NeedsFloat:
      return &V::OnUpdateNeedsFloat;
    case EnableRule::NeedsBitmap:
      return &V::OnUpdateNeedsBitmap;
    case EnableRule::ColourSpace:
      return &V::OnUpdateColourSpace;
    case EnableRule::Channel:
      return &V::OnUpdateChannel;
    case EnableRule::QueueEntry:
      return &V::OnUpdateQueueEntry;
    case EnableRule::ViewingNormal:
      return &V::OnUpdateViewingNormal;
    case EnableRule::SecondLayer:
      return &V::OnUpdateSecondLayer;
    case EnableRule::Animate:
      return &V::OnUpdateAnimate;
    case EnableRule::CreateMask:
      return &V::OnUpdateCreateMask;
    case EnableRule::FilePresent:
      return &V::OnUpdateFilePresent;
    case EnableRule::MaskViews:
      return &V::OnUpdateMaskViews;
    case EnableRule::NeedsMask:
      return &V::OnUpdateNeedsMask;
    case EnableRule::LayerMasks:
      return &V::OnUpdateLayerMasks;
    case EnableRule::CropBothLayers:
      return &V::OnUpdateCropBothLayers;
    case EnableRule::TwoLayers:
      return &V::OnUpdateTwoLayers;
    case EnableRule::BottomThroughMask:
      return &V::OnUpdateBottomThroughMask;
    case EnableRule::CombinedDifference:
      return &V::OnUpdateCombinedDifference;
    case EnableRule::ToggleNormalView:
      return &V::OnUpdateToggleNormalView;
    case EnableRule::Layer2Float:
      return &V::OnUpdateLayer2Float;
    case EnableRule::OtherFloat:
      return &V::OnUpdateOtherFloat;
    case EnableRule::OtherLayerFloat:
      return &V::OnUpdateOtherLayerFloat;
    case EnableRule::BlockAlignment:
      return &V::OnUpdateBlockAlignment;
    case EnableRule::Stacking:
      return &V::OnUpdateStacking;
    case EnableRule::RecordProgram:
      return &V::OnUpdateRecordProgram;
    case EnableRule::DestroyFloat:
      return &V::OnUpdateDestroyFloat;
    case EnableRule::CreateFloat:
      return &V::OnUpdateCreateFloat;
    case EnableRule::NoFloatOnRead:
      return &V::OnUpdateNoFloatOnRead;
    case EnableRule::ReopenIfs:
      return &V::OnUpdateReopenIfs;
    case EnableRule::RecordTexture:
      return &V::OnUpdateRecordTexture;
    case EnableRule::TextureInpainting:
      return &V::OnUpdateTextureInpainting;
    case EnableRule::CreateNoiseProfile:
      return &V::OnUpdateCreateNoiseProfile;
    case EnableRule::NoiseProfile:
      return &V::OnUpdateNoiseProfile;
    case EnableRule::AlignmentTemplate:
      return &V::OnUpdateAlignmentTemplate;
    case EnableRule::BrightnessTemplate:
      return &V::OnUpdateBrightnessTemplate;
    case EnableRule::AvoidanceRegions:
      return &V::OnUpdateAvoidanceRegions;
    case EnableRule::CustomCurve:
      return &V::OnUpdateCustomCurve;
    case EnableRule::Option:
      return &V::OnUpdateOption;
    case EnableRule::OperationEntry:
      return &V::OnUpdateOperationEntry;
    case EnableRule::DeleteLastStep:
      return &V::OnUpdateDeleteLastStep;
    case EnableRule::RunProgram:
      return &V::OnUpdateRunProgram;
    case EnableRule::SaveProgram:
      return &V::OnUpdateSaveProgram;
    case EnableRule::PaintMode:
      return &V::OnUpdatePaintMode;
    case EnableRule::CursorRadius:
      return &V::OnUpdateCursorRadius;
  }
  return nullptr;
}

struct Binding {
  CommandId id;
  Handler handler;
};

// The handlers that live in this library; src/fileio and src/ops bind theirs through
// RegisterCommands.
const Binding kBindings[] = {
    {Id::DestroyBuffers, &V::OnDestroyFloatingPointBuffers},
    {Id::DestroyFloatingPointBuffers, &V::OnDestroyFloatingPointBuffers},
    {Id::CreateFloatingPointBuffer, &V::OnCreateFloatingPointBuffer},
    {Id::ReopenDialogBox, &V::OnReopenDialogBox},
    {Id::FocusCommand, &V::OnFocusCommand},
    {Id::SoundNotification, &V::OnSoundNotification},
    {Id::AwakenSleepingMonitor, &V::OnMonitorOption},
    {Id::PutMonitorToSleep, &V::OnMonitorOption},
    {Id::AutomaticQueryOfProperties, &V::OnAutomaticQuery},
    {Id::AutomaticPopdownMenus, &V::OnAutomaticPopdown},
    {Id::KeypadChannelX, &V::OnKeypadChannel},
    {Id::KeypadChannelY, &V::OnKeypadChannel},
    {Id::KeypadChannelZ, &V::OnKeypadChannel},
    {Id::FullScreen, &V::OnFullScreen},
    {Id::SizedToFitScreen, &V::OnSizedToFit},
    {Id::ViewingNormal, &V::OnViewingNormal},
    {Id::ShowCombined, &V::OnShowCombined},
    {Id::ShowDifference, &V::OnShowDifference},
    {Id::ShowBottomLayerThroughMask, &V::OnShowBottomThroughMask},
    {Id::Histogram, &V::OnHistogram},
    {Id::PrintImage, &V::OnPrintImage},
    {Id::CtrlPrint, &V::OnCtrlPrint},
    {Id::ConditionalOperations, &V::OnConditionalOperations},
    {Id::F2ProgrammedOperation, &V::OnF2ProgrammedOperation},
    {Id::F3ProgrammedOperation, &V::OnF3ProgrammedOperation},
    {Id::ShiftF2, &V::OnVariantF2F3},
    {Id::CtrlF2, &V::OnVariantF2F3},
    {Id::ShiftF3, &V::OnVariantF2F3},
    {Id::CtrlF3, &V::OnVariantF2F3},
    {Id::NextOperation, &V::OnNextOperation},
    {Id::PriorOperation, &V::OnPriorOperation},
    {Id::DeleteCheckedOp, &V::OnDeleteCheckedOp},
    {Id::DeleteAllOps, &V::OnDeleteAllOps},
    {Id::SetPropertiesToDefault, &V::OnSetPropertiesToDefault},
    {Id::SetOtherDefaults, &V::OnSetOtherDefaults},
    {Id::RecordProgram, &V::OnRecordProgram},
    {Id::DeleteLastStep, &V::OnDeleteLastStep},
    {Id::RunProgram, &V::OnRunProgram},
    {Id::SaveProgram, &V::OnSaveProgram},
    {Id::LoadProgram, &V::OnLoadProgram},
    // Keys that only serve input, and the brush.
    {Id::Home, &V::OnHomeKey},
    {Id::Enter, &V::OnEnterKey},
    {Id::CtrlLeft, &V::OnCtrlArrow},
    {Id::CtrlRight, &V::OnCtrlArrow},
    {Id::CtrlUp, &V::OnCtrlArrow},
    {Id::CtrlDown, &V::OnCtrlArrow},
    {Id::F10, &V::OnF10},
    {Id::Paint, &V::OnPaintMode},
    {Id::IncreaseCursorRadius, &V::OnCursorRadius},
    {Id::DecreaseCursorRadius, &V::OnCursorRadius},
};

// A row for every command of the window (the frame's are not its): the update handler of
// its enable rule, and a handler where one is built.
std::unordered_map<int, CommandEntry>& Table() {
  static std::unordered_map<int, CommandEntry> table = [] {
    std::unordered_map<int, CommandEntry> m;
    for (const CommandDescriptor& d : CommandTable()) {
      if (d.enable == EnableRule::Frame) continue;
      const Update update = UpdateOf(d.enable);
      m.emplace(d.Id(), CommandEntry{d.id, nullptr, update ? UpdateHandler(update) : nullptr});
    }
    for (const Binding& b : kBindings) m.at(static_cast<int>(b.id)).handler = b.handler;
    for (const CommandDescriptor& d : CommandTable()) {
      if (d.enable == EnableRule::OperationEntry) m.at(d.Id()).handler = &V::OnOperationEntry;
    }
    return m;
  }();
  return table;
}

const char* const kChannelNames[][3] = {{"Red", "Green", "Blue"},
                                        {"Hue", "Saturation", "Value"},
                                        {"Hue", "Saturation", "Intensity"},
                                        {"Cyan", "Magenta", "Yellow"},
                                        {"Luminance", "A", "B"},
                                        {"Luminance", "Chroma b", "Chroma r"},
                                        {"Luminance", "Chroma U", "Chroma V"},
                                        {"", "", ""}};

const char* const* ChannelNames(uint32_t code) {
  switch (code & ~0xFu) {
    case 0x10:
    case 0x40000:
    case 0x100000:
      return kChannelNames[0];
    case 0x200:
      return kChannelNames[1];
    case 0x800:
      return kChannelNames[2];
    case 0x1000:
    case 0x4000:
      return kChannelNames[3];
    case 0x8000:
      return kChannelNames[4];
    case 0x20000:
    case 0x200000:
    case 0x400000:
      return kChannelNames[5];
    case 0x800000:
      return kChannelNames[6];
    default:
      return kChannelNames[7];
  }
}

bool EqualFloatSizes(const fpbuffer& a, const fpbuffer& b) {
  return a.width == b.width && a.height == b.height;
}
}  // namespace

const CommandEntry* CImageView::FindCommand(int id) {
  const auto& table = Table();
  const auto it = table.find(id);
  return it == table.end() ? nullptr : &it->second;
}

void CImageView::RegisterCommands(std::span<const CommandEntry> rows) {
  auto& table = Table();
  for (const CommandEntry& row : rows) {
    const auto [it, added] = table.emplace(static_cast<int>(row.id), row);
    if (added) continue;
    it->second.handler = row.handler;  // an empty handler takes the command's away
    if (row.update) it->second.update = row.update;
  }
}

CommandState CImageView::QueryMenuItem(int id) {
  CommandState state = QueryCommand(id);
  const CommandEntry* entry = FindCommand(id);
  if (!entry || !entry->handler) state.enabled = false;
  return state;
}

std::vector<int> CImageView::CommandIds() {
  std::vector<int> ids;
  for (const auto& [id, entry] : Table()) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

void V::OnUpdateAlways(CommandState&, int) {}
void V::OnUpdateNeedsFloat(CommandState& s, int) { s.Enable(HasFloat()); }
void V::OnUpdateNeedsBitmap(CommandState& s, int) { s.Enable(HasBitmap()); }

void V::OnUpdateColourSpace(CommandState& s, int id) {
  static const std::unordered_map<int, uint32_t> bits = {{int(Id::Rgb), 0x10},
                                                         {int(Id::Cmy), 0x1000},
                                                         {int(Id::YCbCr), 0x20000},
                                                         {int(Id::YCbCr2), 0x400000},
                                                         {int(Id::Yuv), 0x800000},
                                                         {int(Id::Hsv), 0x200},
                                                         {int(Id::Hsi), 0x800},
                                                         {int(Id::LogCmy), 0x4000},
                                                         {int(Id::LogRgb), 0x40000},
                                                         {int(Id::Lab), 0x8000},
                                                         {int(Id::YCbCrGammaX), 0x200000},
                                                         {int(Id::RgbGammaX), 0x100000}};
  s.Check((currentLayer().code & bits.at(id)) != 0);
}

void V::OnUpdateChannel(CommandState& s, int id) {
  const int channel = id - int(Id::XChannel);  // 0, 1, 2: X, Y, Z
  s.Enable(HasFloat());
  s.Check((currentLayer().code >> channel) & 1u);
  static const char* const kFormats[3] = {"%sX = %s\tNumPad 1", "%sY = %s\tNumPad 5",
                                          "%sZ = %s\tNumPad 9"};
  s.text = Format(kFormats[channel], "Channel ", ChannelNames(currentLayer().code)[channel]);
}

void V::OnUpdateQueueEntry(CommandState& s, int id) {
  const int entry = id - int(Id::PointColor1);
  s.Enable(HasFloat());
  s.Check(entry == queueIndex);
  const Point& p = queuePoints[size_t(entry)];
  const auto& c = queueColours[size_t(entry)];
  if (currentLayer().channels == 3) {
    s.text =
        Format("Queue(%d) = (%d, %d)(%.2f, %.2f, %.2f)", entry + 1, p.x, p.y, c[0], c[1], c[2]);
  } else if (currentLayer().channels == 4) {
    s.text = Format("Queue(%d) = (%d, %d)(%.2f, %.2f, %.2f, %.2f)", entry + 1, p.x, p.y, c[0], c[1],
                    c[2], c[3]);
  } else {
    s.text.assign(1, ' ');  // an empty caption, not the menu's own (assign: GCC 12 warns falsely on = " ")
  }
}

void V::OnUpdateViewingNormal(CommandState& s, int) {
  static const char* const kTexts[4] = {"Normal->Red\tF7", "Red->Green\tF7", "Green->Blue\tF7",
                                        "Blue->Normal\tF7"};
  s.Enable(HasFloat());
  s.text = kTexts[channelView & 3];
}

void V::OnUpdateSecondLayer(CommandState& s, int) {
  s.Enable(HasBitmap());
  s.Check(Layer2Exists());
}

void V::OnUpdateAnimate(CommandState& s, int) { s.Enable(!sequence.empty()); }

void V::OnUpdateCreateMask(CommandState& s, int) {
  s.Enable(HasFloat());
  s.Check(HasMask());
}

void V::OnUpdateFilePresent(CommandState& s, int) { s.Enable(filePresent); }

void V::OnUpdateMaskViews(CommandState& s, int id) {
  s.Enable(HasMask());
  s.Check(id == Id::ShowMaskedArea ? showMaskedArea : showUnmaskedArea);
}

void V::OnUpdateNeedsMask(CommandState& s, int) { s.Enable(HasMask()); }

void V::OnUpdateLayerMasks(CommandState& s, int) {
  const bitmask& a = layers[0].mask;
  const bitmask& b = layers[1].mask;
  s.Enable(a.present() && a.width == b.width && a.height == b.height);
}

void V::OnUpdateCropBothLayers(CommandState& s, int) {
  s.Enable(HasFloat() && EqualFloatSizes(layers[0], layers[1]));
  s.Check(cropBothLayers);
}

void V::OnUpdateTwoLayers(CommandState& s, int) {
  s.Enable(HasFloat() && EqualFloatSizes(layers[0], layers[1]));
}

void V::OnUpdateBottomThroughMask(CommandState& s, int) {
  s.Enable(HasMask() && EqualFloatSizes(layers[0], layers[1]));
  s.Check(showBottomThroughMask);
}

void V::OnUpdateCombinedDifference(CommandState& s, int id) {
  s.Enable(layers[1].n > 0);
  s.Check(id == Id::ShowCombined ? showCombined : showDifference);
}

void V::OnUpdateToggleNormalView(CommandState& s, int) {
  s.Enable(HasFloat());
  s.Check(!normalView);
}

void V::OnUpdateLayer2Float(CommandState& s, int) { s.Enable(layers[1].n > 0); }
void V::OnUpdateOtherFloat(CommandState& s, int) { s.Enable(HasFloat() && otherLayer().n > 0); }
void V::OnUpdateOtherLayerFloat(CommandState& s, int) { s.Enable(otherLayer().n > 0); }

void V::OnUpdateBlockAlignment(CommandState& s, int) {
  s.Enable(otherLayer().n > 0 && EqualFloatSizes(otherLayer(), currentLayer()));
}

void V::OnUpdateStacking(CommandState& s, int) {
  s.Enable(!LiveSettings().file.noFloatBuffersOnRead);
}

void V::OnUpdateRecordProgram(CommandState& s, int) {
  s.Enable(HasFloat());
  s.Check(Flags().Recording);
}

void V::OnUpdateDestroyFloat(CommandState& s, int) {
  const bool any = layers[0].n > 0 || layers[1].n > 0;
  s.Enable(any);
  s.Check(!any);
}

void V::OnUpdateCreateFloat(CommandState& s, int) {
  s.Enable(HasBitmap() && !HasFloat());
  s.Check(HasFloat());
}

void V::OnUpdateNoFloatOnRead(CommandState& s, int) {
  s.Check(LiveSettings().file.noFloatBuffersOnRead != 0);
}

void V::OnUpdateReopenIfs(CommandState& s, int) { s.Enable(Flags().IfsReopenable); }

void V::OnUpdateRecordTexture(CommandState& s, int) {
  const int64_t area = int64_t(dragEnd.x - dragStart.x) * (dragEnd.y - dragStart.y);
  s.Enable(HasFloat() && area != 0);
  bool any = false;
  for (const matrix& m : TextureModel()) any = any || m.n > 0;
  s.text = any ? "Destroy Texture" : "Record Texture";
}

void V::OnUpdateTextureInpainting(CommandState& s, int) {
  bool all = true;
  for (const matrix& m : TextureModel()) all = all && m.n > 0;
  s.Enable(HasFloat() && all);
}

void V::OnUpdateCreateNoiseProfile(CommandState& s, int) {
  s.Enable(HasFloat() && std::abs(dragEnd.x - dragStart.x) >= 50 &&
           std::abs(dragEnd.y - dragStart.y) >= 50);
}

void V::OnUpdateNoiseProfile(CommandState& s, int) { s.Enable(HasFloat() && noiseProfile.present()); }
void V::OnUpdateAlignmentTemplate(CommandState& s, int) { s.Enable(alignmentTemplate.n > 0); }
void V::OnUpdateBrightnessTemplate(CommandState& s, int) { s.Enable(brightnessTemplate[0].n > 0); }
void V::OnUpdateAvoidanceRegions(CommandState& s, int) {
  s.Enable(HasFloat() && (currentLayer().code & ~0xFu) == 0x10);
}
void V::OnUpdateCustomCurve(CommandState& s, int) { s.Check(curveEditor.open()); }

void V::OnUpdateOption(CommandState& s, int id) {
  const Settings& st = LiveSettings();
  switch (id) {
    case int(Id::AutomaticQueryOfProperties):
      s.Check(st.autoQuery);
      break;
    case int(Id::AutomaticPopdownMenus):
      s.Check(st.autoMenu);
      break;
    case int(Id::ConditionalOperations):
      s.Check(st.conditional);
      break;
    case int(Id::SoundNotification):
      s.Check(st.soundOnCompletion);
      break;
    case int(Id::AwakenSleepingMonitor):
      s.Check(st.monitorWakeAtCompletion);
      break;
    case int(Id::PutMonitorToSleep):
      s.Check(st.monitorSleepAtStart);
      break;
    default:
      break;
  }
}
