// The command table of the image window: every command with its handler and its update
// handler. The update handler decides whether a command runs at all, from whatever route
// it comes, so its conditions are the command's preconditions. Operations that are not
// built yet have their update handlers here and their handlers later.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "app/imageview.h"
#include "image/colorspace.h"
#include "params/settings.h"
#include "platform/format.h"

namespace {
using V = CImageView;

// Commands enabled whenever the current layer has float data and nothing else to show.
const int kFloatCommands[] = {
    4017, 4021, 4031, 4034, 4035, 4038, 4039, 4040, 4050, 4051, 4053, 4054, 4055, 4056, 4060,
    4061, 4062, 4063, 4067, 4069, 4076, 4077, 4079, 4080, 4081, 4082, 4085, 4086, 4089, 4090,
    4091, 4099, 4101, 4103, 4104, 4106, 4107, 4108, 4110, 4112, 4131, 4150, 4155, 4156, 4157,
    4164, 4178, 4185, 4186, 4187, 4188, 4189, 4190, 4191, 4192, 4199, 4205, 4207, 4208, 4209,
    4210, 4211, 4217, 4222, 4226, 4229, 4235, 4237, 4245, 4247, 4248, 4249, 4252, 4255, 4257,
    4259, 4261, 4263, 4265, 4267, 4269, 4274, 4275, 4303, 4304, 4306};
const int kBitmapCommands[] = {4003, 4005, 4006, 4007, 4008, 4009, 4016, 4028,
                               4118, 4162, 4168, 4197, 4198, 4212, 4213, 4214,
                               4215, 4216, 4227, 4230, 4234, 4236, 4001};
const int kColourSpaceCommands[] = {4013, 4159, 4014, 4218, 4250, 4023,
                                    4109, 4100, 4243, 4149, 4177, 4176};

std::vector<CommandEntry> BuildTable() {
  std::vector<CommandEntry> t = {
      // Handlers that exist now.
      {4165, &V::OnDestroyFloatingPointBuffers, nullptr},
      {4167, &V::OnDestroyFloatingPointBuffers, &V::UpdateDestroyFloat},
      {4272, &V::OnReopenDialogBox, nullptr},
      {4068, &V::OnFocusCommand, nullptr},
      {4105, &V::OnSoundNotification, &V::UpdateOption},
      {4223, &V::OnMonitorOption, &V::UpdateOption},
      {4224, &V::OnMonitorOption, &V::UpdateOption},
      {4042, &V::OnAutomaticQuery, &V::UpdateOption},
      {4142, &V::OnAutomaticPopdown, &V::UpdateOption},
      {4145, &V::OnKeypadChannel, nullptr},
      {4027, &V::OnFullScreen, nullptr},
      {4028, &V::OnSizedToFit, &V::UpdateNeedsBitmap},
      {4099, &V::OnHistogram, &V::UpdateNeedsFloat},
      {4119, &V::OnPrintImage, &V::UpdateNeedsBitmap},
      {4124, &V::OnCtrlPrint, &V::UpdateNeedsBitmap},
      {4146, &V::OnKeypadChannel, nullptr},
      {4147, &V::OnKeypadChannel, nullptr},
      // Update handlers of commands whose handlers come with their operations.
      {4070, &V::OnConditionalOperations, &V::UpdateOption},
      {4018, &V::OnF2ProgrammedOperation, &V::UpdateNeedsBitmap},
      {4019, &V::OnF3ProgrammedOperation, &V::UpdateNeedsFloat},
      {4114, &V::OnVariantF2F3, nullptr},
      {4115, &V::OnVariantF2F3, nullptr},
      {4116, &V::OnVariantF2F3, nullptr},
      {4117, &V::OnVariantF2F3, nullptr},
      {4134, &V::OnNextOperation, nullptr},
      {4135, &V::OnPriorOperation, nullptr},
      {4302, &V::OnDeleteCheckedOp, nullptr},
      {4305, &V::OnDeleteAllOps, nullptr},
      {4043, &V::OnSetPropertiesToDefault, nullptr},
      {4133, &V::OnSetOtherDefaults, nullptr},
      {4123, &V::OnDeleteLastStep, &V::UpdateDeleteLastStep},
      {4121, &V::OnRunProgram, &V::UpdateRunProgram},
      {4129, &V::OnSaveProgram, &V::UpdateSaveProgram},
      {4130, &V::OnLoadProgram, nullptr},
      {4044, nullptr, &V::UpdateChannel},
      {4045, nullptr, &V::UpdateChannel},
      {4046, nullptr, &V::UpdateChannel},
      {4048, &V::OnViewingNormal, &V::UpdateViewingNormal},
      {4015, nullptr, &V::UpdateSecondLayer},
      {4026, nullptr, &V::UpdateAlways},
      {4221, nullptr, &V::UpdateAnimate},
      {4024, nullptr, &V::UpdateCreateMask},
      {4025, nullptr, &V::UpdateFilePresent},
      {4033, nullptr, &V::UpdateFilePresent},
      {4036, nullptr, &V::UpdateMaskViews},
      {4049, nullptr, &V::UpdateMaskViews},
      {4122, nullptr, &V::UpdateNeedsMask},
      {4136, nullptr, &V::UpdateNeedsMask},
      {4225, nullptr, &V::UpdateNeedsMask},
      {4137, nullptr, &V::UpdateLayerMasks},
      {4138, nullptr, &V::UpdateLayerMasks},
      {4273, nullptr, &V::UpdateLayerMasks},
      {4037, nullptr, &V::UpdateCropBothLayers},
      {4098, &V::OnShowBottomThroughMask, &V::UpdateBottomThroughMask},
      {4083, &V::OnShowCombined, &V::UpdateCombinedDifference},
      {4084, &V::OnShowDifference, &V::UpdateCombinedDifference},
      {4057, nullptr, &V::UpdateToggleNormalView},
      {4184, nullptr, &V::UpdateOtherFloat},
      {4228, nullptr, &V::UpdateOtherFloat},
      {4242, nullptr, &V::UpdateBlockAlignment},
      {4093, nullptr, &V::UpdateStacking},
      {4120, &V::OnRecordProgram, &V::UpdateRecordProgram},
      {4220, &V::OnCreateFloatingPointBuffer, &V::UpdateCreateFloat},
      {4166, nullptr, &V::UpdateNoFloatOnRead},
      {4181, nullptr, &V::UpdateReopenIfs},
      {4182, nullptr, &V::UpdateRecordTexture},
      {4183, nullptr, &V::UpdateTextureInpainting},
      {4201, nullptr, &V::UpdateCreateNoiseProfile},
      {4202, nullptr, &V::UpdateNoiseProfile},
      {4204, nullptr, &V::UpdateNoiseProfile},
      {4251, nullptr, &V::UpdateAvoidanceRegions},
      {4254, nullptr, &V::UpdateCustomCurve},
      // Keys that only serve input, and the brush.
      {4004, &V::OnHomeKey, nullptr},
      {4022, &V::OnEnterKey, nullptr},
      {4125, &V::OnCtrlArrow, nullptr},
      {4126, &V::OnCtrlArrow, nullptr},
      {4127, &V::OnCtrlArrow, nullptr},
      {4128, &V::OnCtrlArrow, nullptr},
      {4301, &V::OnF10, nullptr},
      {4064, &V::OnPaintMode, &V::UpdatePaintMode},
      {4065, &V::OnCursorRadius, &V::UpdateCursorRadius},
      {4066, &V::OnCursorRadius, &V::UpdateCursorRadius},
  };
  for (int id : {4071, 4072, 4073, 4074, 4075}) t.push_back({id, nullptr, &V::UpdateQueueEntry});
  for (int id = 4276; id <= 4300; ++id) {
    t.push_back({id, &V::OnOperationEntry, &V::UpdateOperationEntry});
  }
  for (int id : {4092, 4139, 4160, 4219, 4244, 4246, 4052, 4058, 4140, 4141, 4253, 4256}) {
    t.push_back({id, nullptr, &V::UpdateTwoLayers});
  }
  for (int id : {4088, 4094, 4095, 4096, 4097}) t.push_back({id, nullptr, &V::UpdateLayer2Float});
  for (int id : {4200, 4203, 4240, 4241}) t.push_back({id, nullptr, &V::UpdateAlignmentTemplate});
  for (int id : {4238, 4239}) t.push_back({id, nullptr, &V::UpdateBrightnessTemplate});
  for (int id : kColourSpaceCommands) t.push_back({id, nullptr, &V::UpdateColourSpace});
  for (int id : kBitmapCommands) t.push_back({id, nullptr, &V::UpdateNeedsBitmap});
  for (int id : kFloatCommands) t.push_back({id, nullptr, &V::UpdateNeedsFloat});
  return t;
}

std::unordered_map<int, CommandEntry>& Table() {
  static std::unordered_map<int, CommandEntry> table = [] {
    std::unordered_map<int, CommandEntry> m;
    for (const CommandEntry& e : BuildTable()) m.emplace(e.id, e);
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
    const auto [it, added] = table.emplace(row.id, row);
    if (added) continue;
    it->second.handler = row.handler;  // an empty handler takes the command's away
    if (row.update) it->second.update = row.update;
  }
}

std::vector<int> CImageView::CommandIds() {
  std::vector<int> ids;
  for (const auto& [id, entry] : Table()) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

void V::UpdateAlways(CommandState&, int) {}
void V::UpdateNeedsFloat(CommandState& s, int) { s.Enable(HasFloat()); }
void V::UpdateNeedsBitmap(CommandState& s, int) { s.Enable(HasBitmap()); }

void V::UpdateColourSpace(CommandState& s, int id) {
  static const std::unordered_map<int, uint32_t> bits = {
      {4013, 0x10},     {4159, 0x1000}, {4014, 0x20000},  {4218, 0x400000},
      {4250, 0x800000}, {4023, 0x200},  {4109, 0x800},    {4100, 0x4000},
      {4243, 0x40000},  {4149, 0x8000}, {4177, 0x200000}, {4176, 0x100000}};
  s.Check((currentLayer().code & bits.at(id)) != 0);
}

void V::UpdateChannel(CommandState& s, int id) {
  const int channel = id - 4044;  // 0, 1, 2: X, Y, Z
  s.Enable(HasFloat());
  s.Check((currentLayer().code >> channel) & 1u);
  static const char* const kFormats[3] = {"%sX = %s\tNumPad 1", "%sY = %s\tNumPad 5",
                                          "%sZ = %s\tNumPad 9"};
  s.text = Format(kFormats[channel], "Channel ", ChannelNames(currentLayer().code)[channel]);
}

void V::UpdateQueueEntry(CommandState& s, int id) {
  const int entry = id - 4071;
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
    s.text = " ";  // an empty caption, not the menu's own
  }
}

void V::UpdateViewingNormal(CommandState& s, int) {
  static const char* const kTexts[4] = {"Normal->Red\tF7", "Red->Green\tF7", "Green->Blue\tF7",
                                        "Blue->Normal\tF7"};
  s.Enable(HasFloat());
  s.text = kTexts[channelView & 3];
}

void V::UpdateSecondLayer(CommandState& s, int) {
  s.Enable(HasBitmap());
  s.Check(Layer2Exists());
}

void V::UpdateAnimate(CommandState& s, int) { s.Enable(!sequence.empty()); }

void V::UpdateCreateMask(CommandState& s, int) {
  s.Enable(HasFloat());
  s.Check(HasMask());
}

void V::UpdateFilePresent(CommandState& s, int) { s.Enable(filePresent); }

void V::UpdateMaskViews(CommandState& s, int id) {
  s.Enable(HasMask());
  s.Check(id == 4036 ? showMaskedArea : showUnmaskedArea);
}

void V::UpdateNeedsMask(CommandState& s, int) { s.Enable(HasMask()); }

void V::UpdateLayerMasks(CommandState& s, int) {
  const bitmask& a = layers[0].mask;
  const bitmask& b = layers[1].mask;
  s.Enable(a.present() && a.width == b.width && a.height == b.height);
}

void V::UpdateCropBothLayers(CommandState& s, int) {
  s.Enable(HasFloat() && EqualFloatSizes(layers[0], layers[1]));
  s.Check(cropBothLayers);
}

void V::UpdateTwoLayers(CommandState& s, int) {
  s.Enable(HasFloat() && EqualFloatSizes(layers[0], layers[1]));
}

void V::UpdateBottomThroughMask(CommandState& s, int) {
  s.Enable(HasMask() && EqualFloatSizes(layers[0], layers[1]));
  s.Check(showBottomThroughMask);
}

void V::UpdateCombinedDifference(CommandState& s, int id) {
  s.Enable(layers[1].n > 0);
  s.Check(id == 4083 ? showCombined : showDifference);
}

void V::UpdateToggleNormalView(CommandState& s, int) {
  s.Enable(HasFloat());
  s.Check(!normalView);
}

void V::UpdateLayer2Float(CommandState& s, int) { s.Enable(layers[1].n > 0); }
void V::UpdateOtherFloat(CommandState& s, int) { s.Enable(HasFloat() && otherLayer().n > 0); }

void V::UpdateBlockAlignment(CommandState& s, int) {
  s.Enable(otherLayer().n > 0 && EqualFloatSizes(otherLayer(), currentLayer()));
}

void V::UpdateStacking(CommandState& s, int) {
  s.Enable(!LiveSettings().file.noFloatBuffersOnRead);
}

void V::UpdateRecordProgram(CommandState& s, int) {
  s.Enable(HasFloat());
  s.Check(Flags().Recording);
}

void V::UpdateDestroyFloat(CommandState& s, int) {
  const bool any = layers[0].n > 0 || layers[1].n > 0;
  s.Enable(any);
  s.Check(!any);
}

void V::UpdateCreateFloat(CommandState& s, int) {
  s.Enable(HasBitmap() && !HasFloat());
  s.Check(HasFloat());
}

void V::UpdateNoFloatOnRead(CommandState& s, int) {
  s.Check(LiveSettings().file.noFloatBuffersOnRead != 0);
}

void V::UpdateReopenIfs(CommandState& s, int) { s.Enable(Flags().IfsReopenable); }

void V::UpdateRecordTexture(CommandState& s, int) {
  const int64_t area = int64_t(dragEnd.x - dragStart.x) * (dragEnd.y - dragStart.y);
  s.Enable(HasFloat() && area != 0);
  bool any = false;
  for (const matrix& m : TextureModel()) any = any || m.n > 0;
  s.text = any ? "Destroy Texture" : "Record Texture";
}

void V::UpdateTextureInpainting(CommandState& s, int) {
  bool all = true;
  for (const matrix& m : TextureModel()) all = all && m.n > 0;
  s.Enable(HasFloat() && all);
}

void V::UpdateCreateNoiseProfile(CommandState& s, int) {
  s.Enable(HasFloat() && std::abs(dragEnd.x - dragStart.x) >= 50 &&
           std::abs(dragEnd.y - dragStart.y) >= 50);
}

void V::UpdateNoiseProfile(CommandState& s, int) { s.Enable(HasFloat() && hasNoiseProfile); }
void V::UpdateAlignmentTemplate(CommandState& s, int) { s.Enable(alignmentTemplate.n > 0); }
void V::UpdateBrightnessTemplate(CommandState& s, int) { s.Enable(brightnessTemplate[0].n > 0); }
void V::UpdateAvoidanceRegions(CommandState& s, int) {
  s.Enable(HasFloat() && (currentLayer().code & ~0xFu) == 0x10);
}
void V::UpdateCustomCurve(CommandState& s, int) { s.Check(curveEditorOpen); }

void V::UpdateOption(CommandState& s, int id) {
  const Settings& st = LiveSettings();
  switch (id) {
    case 4042:
      s.Check(st.autoQuery);
      break;
    case 4142:
      s.Check(st.autoMenu);
      break;
    case 4070:
      s.Check(st.conditional);
      break;
    case 4105:
      s.Check(st.soundOnCompletion);
      break;
    case 4223:
      s.Check(st.monitorWakeAtCompletion);
      break;
    case 4224:
      s.Check(st.monitorSleepAtStart);
      break;
    default:
      break;
  }
}
