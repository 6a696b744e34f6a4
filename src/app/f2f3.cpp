// F2/F3, the unit variants, the operation list, and recorded programs.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "app/imageview.h"
#include "params/dialog2.h"
#include "params/opnames.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

namespace {
// The whole record as it was when recording started; restored when it ends, keeping the
// recorded program.
std::unique_ptr<Settings>& RecordingBackup() {
  static std::unique_ptr<Settings> backup;
  return backup;
}

int ClampedIndex(const Settings& s) {
  return std::clamp(s.operationIndex, 0, Settings::kOperationSlots - 1);
}

int ListCount(const Settings& s) {
  return std::clamp(s.operationCount, 1, Settings::kOperationSlots);
}

bool IsProgramCommand(int id) {
  return id == CommandId::RecordProgram || id == CommandId::RunProgram ||
         id == CommandId::SaveProgram || id == CommandId::LoadProgram;
}

// The commands whose repeated presses are merged into one step while recording.
bool MergesRepeats(int id) {
  return id == CommandId::MaskByEdgeDetection || id == CommandId::MaskByColor;
}
}  // namespace

double ApplyModifierScale(float x) {
  if (Flags().CtrlVariant) return double(x) * 0.1;
  if (Flags().ShiftVariant) return double(x) * 10.0;
  return x;
}

double ApplyModifierPower(float x) {
  if (Flags().CtrlVariant) return std::pow(double(x), 0.1);
  if (Flags().ShiftVariant) return std::pow(double(x), 10.0);
  return x;
}

double ApplyModifierInversePower(float x) {
  if (Flags().CtrlVariant) return std::pow(double(x), 10.0);
  if (Flags().ShiftVariant) return std::pow(double(x), 0.1);
  return x;
}

void CImageView::SelectOperation(int id, bool push) {
  CommandFlags& f = Flags();
  f.CtrlHeld = false;
  f.ShiftHeld = false;
  f2OperationId = f3OperationId = id;
  operationName = OperationName(uint32_t(id));
  if (push) {
    Settings& s = LiveSettings();
    const int count = ListCount(s);
    int found = -1;
    for (int i = 0; i < count && found < 0; ++i) {
      if (s.operationList[i] == id) found = i;
    }
    if (found >= 0) {
      s.operationIndex = found;  // already listed: only the check mark moves
    } else {
      for (int i = count - 1; i > 0; --i) s.operationList[i] = s.operationList[i - 1];
      s.operationList[0] = id;
      s.operationIndex = 0;
    }
  }
  UpdateStatus();
}

void CImageView::SelectListEntry(int n) {
  Settings& s = LiveSettings();
  s.operationIndex = std::clamp(n - 1, 0, ListCount(s) - 1);
  f2OperationId = f3OperationId = s.operationList[s.operationIndex];
  operationName = OperationName(uint32_t(f2OperationId));
  UpdateStatus();
}

void CImageView::SendProgrammedOperation(bool inverse) {
  CommandFlags& f = Flags();
  const int id = inverse ? f3OperationId : f2OperationId;
  // F2/F3 as the current operation would send itself again and again.
  if (IsF2F3Command(id)) return;
  // The direction holds for this one re-sent command, also when its handler throws.
  FlagScope forward(f.F2Active, !inverse);
  FlagScope backward(f.F3Active, inverse);
  Settings& s = LiveSettings();
  RecordedProgram& program = s.program;
  if (!f.Recording || id == CommandId::RunProgram) {
    if (!(f.Recording && id == CommandId::RunProgram)) Dispatch(id);
    return;
  }
  if (program.stepCount >= program.capacity || program.stepCount >= RecordedProgram::kSlots) {
    GetUi().MessageBox(Format("Number of operations (%d) has been exceeded", program.capacity),
                       "No Longer Recording", MessageStyle{});
    Dispatch(CommandId::RecordProgram);  // asks whether to end the recording
    // The command runs unrecorded; with no free slot nothing is written anywhere.
    FlagScope notRecording(f.Recording, false);
    Dispatch(id);
    return;
  }
  int i = std::clamp(program.stepCount, 0, RecordedProgram::kSlots - 1);
  if (i > 0 && MergesRepeats(id) && program.stepIds[i - 1] == id) {
    --i;
    program.stepCount = i;
  }
  program.stepIds[i] = id;
  program.stepIsF3[i] = inverse ? 1 : 0;
  program.stepShift[i] = f.ShiftVariant ? 1 : 0;
  program.stepCtrl[i] = f.CtrlVariant ? 1 : 0;
  const char* suffix = f.ShiftVariant  ? (inverse ? " (Shift+F3)" : " (Shift+F2)")
                       : f.CtrlVariant ? (inverse ? " (Ctl+F3)" : " (Ctl+F2)")
                                       : (inverse ? " (F3)" : " (F2)");
  const std::string name = operationName + suffix;
  std::memset(program.stepNames[i], 0, RecordedProgram::kNameSize);
  std::memcpy(program.stepNames[i], name.c_str(),
              std::min(name.size(), size_t(RecordedProgram::kNameSize - 1)));
  // The snapshot is taken from the block now, so a step whose command turns out to be
  // disabled never replays an earlier recording's bytes; the handler writes the same.
  // Bytes outside the snapshot are cleared so a slot reused by a shorter step saves no
  // leftovers of an earlier recording into the program file.
  std::memset(program.steps[i].bytes, 0, sizeof program.steps[i].bytes);
  if (const StepSnapshotRange* range = StepSnapshotOf(id)) {
    const uint8_t* record = reinterpret_cast<const uint8_t*>(&s);
    std::memcpy(program.steps[i].bytes + range->begin, record + range->blockOffset + range->begin,
                range->length);
  }
  Dispatch(id);
  program.stepCount = std::min(program.stepCount + 1, int32_t(RecordedProgram::kSlots));
  f.CtrlVariant = f.ShiftVariant = false;
}

void CImageView::OnF2ProgrammedOperation(int) { SendProgrammedOperation(false); }
void CImageView::OnF3ProgrammedOperation(int) { SendProgrammedOperation(true); }

void CImageView::OnVariantF2F3(int id) {
  if (!HasFloat()) return;
  CommandFlags& f = Flags();
  const bool ctrl = id == CommandId::CtrlF2 || id == CommandId::CtrlF3;
  (ctrl ? f.CtrlHeld : f.ShiftHeld) = false;
  FlagScope variant(ctrl ? f.CtrlVariant : f.ShiftVariant, true);
  SendProgrammedOperation(id == CommandId::CtrlF3 || id == CommandId::ShiftF3);
}

void CImageView::OnPriorOperation(int) {
  Settings& s = LiveSettings();
  s.operationIndex = std::min(ClampedIndex(s) + 1, ListCount(s) - 1);
  SelectOperation(s.operationList[s.operationIndex], false);
}

void CImageView::OnNextOperation(int) {
  Settings& s = LiveSettings();
  s.operationIndex = std::max(ClampedIndex(s) - 1, 0);
  SelectOperation(s.operationList[s.operationIndex], false);
}

void CImageView::OnDeleteCheckedOp(int) {
  Settings& s = LiveSettings();
  const int count = ListCount(s);
  const int index = ClampedIndex(s);
  for (int i = index; i + 1 < count; ++i) s.operationList[i] = s.operationList[i + 1];
  s.operationList[count - 1] = int(CommandId::NoOp);
  s.operationIndex = index;
  f2OperationId = f3OperationId = s.operationList[index];
  operationName = OperationName(uint32_t(f2OperationId));
  UpdateStatus();
  if (s.operationList[index] != CommandId::NoOp) PopdownMenu(18);
}

void CImageView::OnDeleteAllOps(int) {
  Settings& s = LiveSettings();
  for (int i = 0; i < ListCount(s); ++i) s.operationList[i] = int(CommandId::NoOp);
  s.operationIndex = 0;
  f2OperationId = f3OperationId = int(CommandId::NoOp);
  operationName = OperationName(int(CommandId::NoOp));
  UpdateStatus();
}

void CImageView::OnOperationEntry(int id) {
  SelectListEntry(id - int(CommandId::OperationEntry1) + 1);
}

void CImageView::OnUpdateOperationEntry(CommandState& state, int id) {
  const Settings& s = LiveSettings();
  const int n = id - int(CommandId::OperationEntry1) + 1;
  state.text = Format("%2d. %s", n, OperationName(uint32_t(s.operationList[n - 1])));
  state.Check(n - 1 == s.operationIndex);
}

void CImageView::OnConditionalOperations(int) {
  Settings& s = LiveSettings();
  s.conditional = s.conditional ? 0 : 1;
  UpdateStatus();
}

void CImageView::OnSetPropertiesToDefault(int) {
  LiveSettings().ResetToDefaults();
  if (host) host->Invalidate();
  UpdateStatus();
}

void CImageView::OnSetOtherDefaults(int) {
  if (Layer2Exists()) {
    // The second layer goes; layer 1 becomes current.
    layers[1].clear(false);
    bitmaps[1] = DisplayBitmap();
    current = 0;
  }
  if (HasFloat()) {
    for (fpbuffer& layer : layers) {
      if (layer.n > 0) layer.convert(cspace::kDefault);
    }
    currentLayer().mask.free();
    paintMode = false;
    LiveSettings().conditional = 1;
    RefreshDisplay(false);
    return;
  }
  UpdateStatus();
}

void CImageView::OnRecordProgram(int) {
  CommandFlags& f = Flags();
  Settings& s = LiveSettings();
  std::unique_ptr<Settings>& backup = RecordingBackup();
  if (!f.Recording) {
    backup = std::make_unique<Settings>(s);
    if (f.CtrlHeld) {
      f.CtrlHeld = false;  // append to the program there is
    } else {
      s.program.SetDefaults();
    }
    f.Recording = true;
    UpdateStatus();
    return;
  }
  if (!backup) return;
  if (Dialog2(s).RunPage(101, 1, 1) != DialogResult::Ok) return;  // the steps page
  const RecordedProgram recorded = s.program;
  f.Recording = false;
  s = *backup;
  s.program = recorded;
  backup.reset();
  SelectOperation(CommandId::RunProgram, true);
}

void CImageView::OnDeleteLastStep(int) {
  RecordedProgram& p = LiveSettings().program;
  if (p.stepCount <= 0) return;
  p.stepCount = std::min(p.stepCount - 1, int32_t(RecordedProgram::kSlots - 1));
  const int i = p.stepCount;
  p.stepCtrl[i] = p.stepShift[i] = p.stepIsF3[i] = 0;
  p.stepIds[i] = RecordedProgram::kEmptyId;
  std::memset(p.stepNames[i], 0, RecordedProgram::kNameSize);
  std::memcpy(p.stepNames[i], "NoOp", 5);
}

void CImageView::OnRunProgram(int) {
  CommandFlags& f = Flags();
  if (f.CtrlHeld) {
    f.CtrlHeld = false;
    SelectOperation(CommandId::RunProgram, true);
    return;
  }
  Settings& s = LiveSettings();
  // The whole record comes back after the run, also when a step throws.
  struct Restore {
    Settings& live;
    const Settings saved;
    ~Restore() { live = saved; }
  } restore{s, s};
  s.soundOnCompletion = 0;
  f.ShiftHeld = false;
  const std::string prefix =
      (!pixelInfoText.empty() && pixelInfoText[0] == 'P') ? pixelInfoText + ", " : "";
  for (int k = 0; k < std::min(s.program.stepCount, int32_t(RecordedProgram::kSlots)); ++k) {
    const RecordedProgram& p = s.program;
    f.PlayStep = k;
    FlagScope inverse(f.F3Active, p.stepIsF3[k] != 0);
    FlagScope forward(f.F2Active, p.stepIsF3[k] == 0);
    FlagScope shift(f.ShiftVariant, p.stepShift[k] != 0);
    FlagScope ctrl(f.CtrlVariant, p.stepCtrl[k] != 0);
    FlagScope playing(f.Playing, true);
    pixelInfoText = Format("%sProcessing step %d of %d", prefix.c_str(), k + 1, p.stepCount);
    UpdateStatus();
    if (IsProgramCommand(p.stepIds[k]) || IsF2F3Command(p.stepIds[k])) {
      // A program never runs, records, loads or saves a program from inside a run, and
      // never presses F2/F3, which would send the step again.
      pixelInfoText = Format(
          "%sSkipped step %d: %s", prefix.c_str(), k + 1,
          std::string(p.stepNames[k], strnlen(p.stepNames[k], RecordedProgram::kNameSize)).c_str());
      UpdateStatus();
      continue;
    }
    Dispatch(p.stepIds[k]);
  }
  const uint8_t sound = restore.saved.soundOnCompletion;
  s = restore.saved;
  pixelInfoText = prefix + "Finished";
  UpdateStatus();
  if (sound) GetUi().PlaySoundFile(ProgramPath("zep.wav").string());
}

void CImageView::OnUpdateDeleteLastStep(CommandState& state, int) {
  state.Enable(Flags().Recording);
}

void CImageView::OnUpdateRunProgram(CommandState& state, int) {
  state.Enable(HasFloat() && LiveSettings().program.stepCount != 0 && !Flags().Recording);
}

void CImageView::OnUpdateSaveProgram(CommandState& state, int) { state.Enable(!Flags().Recording); }

namespace {
const char* const kProgramFilter = "(*.ZEP)|*.ZEP|";

// A program file is the program block byte for byte; it is taken only when it is exactly
// that long and every field a run reads is sound: capacity 32, a step count of 0 to 32,
// terminated names, flags of 0 or 1, and command ids of the image window (or empty) other
// than F2/F3. Anything else is refused whole rather than half used.
bool ReadProgramFile(const std::string& path, RecordedProgram& out) {
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) != RecordedProgram::kSize || ec) return false;
  std::FILE* f = OpenRegularFile(path);
  if (!f) return false;
  RecordedProgram program;
  const bool read = std::fread(&program, RecordedProgram::kSize, 1, f) == 1;
  std::fclose(f);
  if (!read || program.capacity != RecordedProgram::kSlots || program.stepCount < 0 ||
      program.stepCount > RecordedProgram::kSlots) {
    return false;
  }
  for (int k = 0; k < RecordedProgram::kSlots; ++k) {
    if (!std::memchr(program.stepNames[k], 0, RecordedProgram::kNameSize)) return false;
    if (program.stepIsF3[k] > 1 || program.stepShift[k] > 1 || program.stepCtrl[k] > 1) {
      return false;
    }
    const int id = program.stepIds[k];
    if (k < program.stepCount && id != RecordedProgram::kEmptyId && id != 0 &&
        (!CImageView::FindCommand(id) || IsF2F3Command(id))) {
      return false;
    }
  }
  out = program;
  return true;
}
}  // namespace

void CImageView::OnSaveProgram(int) {
  FileDialogRequest request;
  request.filter = kProgramFilter;
  request.filterIndex = 1;
  request.initialPath = programFileName;
  request.defaultExtension = "ZEP";
  const FileDialogAnswer answer = GetUi().SaveFileDialog(request);
  if (!answer.ok) return;
  std::string path = answer.path;
  if (!answer.extensionTyped) path += ".ZEP";
  programFileName = path;
  if (LiveSettings().program.Save(path)) {
    GetUi().MessageBox("Problem Writing File!", path, MessageStyle{});
  }
}

void CImageView::OnLoadProgram(int) {
  FileDialogRequest request;
  request.filter = kProgramFilter;
  request.filterIndex = 1;
  request.initialPath = programFileName;
  const FileDialogAnswer answer = GetUi().OpenFileDialog(request);
  if (!answer.ok) return;
  programFileName = answer.path;
  Settings& s = LiveSettings();
  if (!ReadProgramFile(answer.path, s.program)) {
    GetUi().MessageBox("Problem Reading File!", answer.path, MessageStyle{});
    return;
  }
  SelectOperation(CommandId::RunProgram, true);
  Dialog2(s).RunPage(101, 1, 0);  // shows the steps when automatic query is on
}
