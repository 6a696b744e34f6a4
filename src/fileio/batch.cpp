// Batches, sequences and animation. All three run inside their command handler on the
// user-interface thread; the batch and the animation keep Quiet set so that the per-file
// commands show no wait cursor and make no completion report.
#include "fileio/batch.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/imageview.h"
#include "fileio/imagefile.h"
#include "params/dialog2.h"
#include "params/fields.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace fs = std::filesystem;
using V = CImageView;

namespace {
std::string Text(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

// The completion-sound option, off for the length of a batch and back on every exit.
class SoundOff {
 public:
  SoundOff() : saved_(LiveSettings().soundOnCompletion) { LiveSettings().soundOnCompletion = 0; }
  ~SoundOff() { Restore(); }
  SoundOff(const SoundOff&) = delete;
  SoundOff& operator=(const SoundOff&) = delete;
  void Restore() { LiveSettings().soundOnCompletion = saved_; }

 private:
  uint8_t saved_;
};

// Wraps the platform while a batch step runs and remembers whether the cancel keys were
// seen, whoever polled them: a step cancelled inside its algorithm must not be saved.
class CancelWatch : public Platform {
 public:
  CancelWatch() : inner_(GetPlatform()), previous_(SetPlatform(this)) {}
  ~CancelWatch() override { SetPlatform(previous_); }
  CancelWatch(const CancelWatch&) = delete;
  CancelWatch& operator=(const CancelWatch&) = delete;
  bool CancelRequested() override {
    const bool cancel = inner_.CancelRequested();
    seen = seen || cancel;
    return cancel;
  }
  int64_t ClockMs() override { return inner_.ClockMs(); }
  MemoryFigures Memory() override { return inner_.Memory(); }
  bool seen = false;

 private:
  Platform& inner_;
  Platform* previous_;  // null when the system platform was the one in use
};

// Whether the F2 operation prints or tiles, which makes a batch that saves nothing.
bool SavesNothing(const CImageView& v) {
  auto prints = [](int id) {
    return id == CommandId::PrintImage || id == CommandId::TilingTopIntoBottom;
  };
  if (prints(v.f2OperationId)) return true;
  if (v.f2OperationId != CommandId::RunProgram) return false;
  const RecordedProgram& program = LiveSettings().program;
  const int count = std::min(program.stepCount, int32_t(RecordedProgram::kSlots));
  return count > 0 && prints(program.stepIds[count - 1]);
}

// The properties page of a batch's output format; 0 for none. Only the extension as the
// table spells it (upper case) asks for the page: a batch to "jpg" never has.
int FormatPage(const std::string& extension) {
  const std::string dotted = "." + extension;
  const ImageFormat& row = FindImageFormat(dotted);
  const std::vector<std::string>& spelled = row.extensions;
  return std::find(spelled.begin(), spelled.end(), dotted) != spelled.end() ? row.optionsPage : 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}
}  // namespace

std::optional<std::vector<std::string>> PickFiles(const std::string& filter) {
  const FileParams& p = LiveSettings().file;
  FileDialogRequest request;
  request.filter = filter;
  const FileListAnswer answer = GetUi().OpenFilesDialog(request);
  if (!answer.ok) return std::nullopt;
  if (answer.paths.size() < 2) {
    ShowMessage("At least two files must be selected.");
    return std::nullopt;
  }
  // The names have always been collected in a buffer of that many characters: the folder
  // and every name, each ended by a NUL, and one NUL more.
  size_t characters = fs::path(answer.paths.front()).parent_path().string().size() + 2;
  for (const std::string& path : answer.paths) {
    characters += fs::path(path).filename().string().size() + 1;
  }
  if (characters > size_t(std::max(p.maximumCharacters, 0))) {
    ShowMessage(
        Format("The names of the %d files picked need more than %d characters. "
               "Pick fewer files or raise \"Maximum Characters\".",
               int(answer.paths.size()), p.maximumCharacters));
    return std::nullopt;
  }
  return ProcessingOrder(answer.paths);
}

std::vector<std::string> ProcessingOrder(std::vector<std::string> picked) {
  if (picked.size() > 1) std::rotate(picked.begin(), picked.begin() + 1, picked.end());
  return picked;
}

std::string BatchOutputPath(const std::string& input, bool overwrite, const std::string& suffix,
                            const std::string& extension) {
  if (overwrite) return input;
  const fs::path in(input);
  return (in.parent_path() / (in.stem().string() + suffix + "." + extension)).string();
}

void OnBatchOperation(CImageView& v, int) {
  Settings& s = LiveSettings();
  const bool noSave = SavesNothing(v);
  if (!noSave) {
    if (Dialog2(s).RunPage(5, 1, 0) != DialogResult::Ok) return;
    const int page = FormatPage(Text(s.file.batchExtension, sizeof s.file.batchExtension));
    if (page && Dialog2(s).RunPage(page, 1, 0) != DialogResult::Ok) return;
  }
  const std::optional<std::vector<std::string>> files =
      PickFiles(DialogFilter(s.file.noFloatBuffersOnRead == 0));
  if (!files) return;
  const int count = int(files->size());

  // The names of the outputs are fixed now, and no output may land on an input (its own
  // or one still to come) unless overwriting was asked for: stop before touching anything.
  const bool overwrite = s.file.overwriteInputFile != 0;
  const std::string suffix = Text(s.file.batchSuffix, sizeof s.file.batchSuffix);
  const std::string extension = Text(s.file.batchExtension, sizeof s.file.batchExtension);
  std::vector<std::string> outputs;
  if (!noSave) {
    if (!IsValidBatchSuffix(suffix) || !IsValidBatchSuffix(extension) || extension.empty()) {
      ShowMessage("The batch suffix and extension must not contain a folder.");
      return;
    }
    for (const std::string& input : *files) {
      outputs.push_back(BatchOutputPath(input, overwrite, suffix, extension));
      if (overwrite) continue;
      for (const std::string& other : *files) {
        if (SameFile(outputs.back(), other)) {
          ShowMessage(
              Format("The batch would write over %s.\n\nTurn \"Overwrite Input File\" on "
                     "to replace input files, or change the suffix or extension.",
                     other.c_str()));
          return;
        }
      }
    }
  }

  SoundOff sound;
  v.pixelInfoText = Format("Processed 0 of %d", count);
  v.UpdateStatus();
  {
    FlagScope quiet(Flags().Quiet, true);
    for (int i = 0; i < count; ++i) {
      const std::string& input = (*files)[size_t(i)];
      // Only the first file may ask for a page on opening.
      if (OpenImageFile(v, input, i == 0 ? 0 : -1, false)) return;  // it said why
      if (v.host) v.host->Invalidate();
      bool cancelled;
      v.operationFailed = false;
      {
        CancelWatch watch;
        v.Dispatch(CommandId::F2ProgrammedOperation);
        cancelled = watch.seen;
      }
      if (v.host) v.host->Invalidate();
      // A step that did not finish is never saved over anything.
      if (cancelled || v.operationFailed) return;
      if (!noSave && SaveImageFile(v, outputs[size_t(i)], -1)) return;
      v.pixelInfoText = Format("Processed %d of %d", i + 1, count);
      v.UpdateStatus();
      if (GetPlatform().CancelRequested()) return;
    }
    sound.Restore();
    if (s.file.destroyAlignmentTemplateAtEnd) v.Dispatch(CommandId::DestroyAlignmentTemplate);
    if (s.file.destroyContrastTemplateAtEnd)
      v.Dispatch(CommandId::DestroyBrightnessContrastTemplate);
  }
  v.ReportCompletion(true);
}

// --- Sequences ---

void OnSequentialLoad(CImageView& v, int) {
  CommandFlags& f = Flags();
  const int count = int(v.sequence.size());
  if (count == 0 || f.CtrlHeld) {
    f.CtrlHeld = false;
    v.sequence.clear();
    v.sequenceIndex = -1;
    if (Dialog2(LiveSettings()).RunPage(5, 6, 0) != DialogResult::Ok) return;
    std::optional<std::vector<std::string>> files =
        PickFiles(DialogFilter(LiveSettings().file.noFloatBuffersOnRead == 0));
    if (!files) return;
    v.sequence = std::move(*files);
  }
  if (f.ShiftHeld) {
    v.sequenceIndex = std::max(v.sequenceIndex - 1, 0);
    f.ShiftHeld = false;
  } else if (++v.sequenceIndex >= int(v.sequence.size())) {
    v.sequence.clear();
    v.sequenceIndex = -1;
    v.pixelInfoText = "Sequence Completed";
    v.UpdateStatus();
    return;
  }
  if (OpenImageFile(v, v.sequence[size_t(v.sequenceIndex)], 0, true)) {
    v.filePresent = false;
    v.pixelInfoText = "Missing File, Sequence Aborted";
    v.sequence.clear();
    v.sequenceIndex = -1;
  } else {
    v.filePresent = true;
    v.pixelInfoText = Format("Showing %d of %d", v.sequenceIndex + 1, int(v.sequence.size()));
  }
  v.UpdateStatus();
  if (v.host) v.host->Invalidate();
}

namespace {
// Puts a command flag up for one call and leaves it down afterwards, also on a throw.
class RaisedFlag {
 public:
  explicit RaisedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RaisedFlag() { flag_ = false; }
  RaisedFlag(const RaisedFlag&) = delete;
  RaisedFlag& operator=(const RaisedFlag&) = delete;

 private:
  bool& flag_;
};
}  // namespace

void OnSequentialLoadNew(CImageView& v, int id) {
  RaisedFlag ctrl(Flags().CtrlHeld);
  OnSequentialLoad(v, id);
}

void OnSequentialLoadBack(CImageView& v, int id) {
  RaisedFlag shift(Flags().ShiftHeld);
  OnSequentialLoad(v, id);
}

AnimationOrder::AnimationOrder(int count, int mode)
    : last_(std::max(count, 1) - 1),
      mode_(mode),
      forward_(mode != 1),
      index_(forward_ ? 0 : last_) {}

int AnimationOrder::Next() {
  int frame;
  if (forward_) {
    if (index_ > last_ && mode_ == 2 && previous_ >= 0) {
      // The turn shows the end frame once more before the way back.
      forward_ = false;
      index_ = last_;
      frame = previous_;
    } else {
      if (index_ > last_) index_ = 0;
      frame = index_++;
    }
  } else if (index_ < 0 && mode_ == 2 && previous_ >= 0) {
    forward_ = true;
    index_ = 0;
    frame = previous_;
  } else {
    if (index_ < 0) index_ = last_;
    frame = index_--;
  }
  previous_ = frame;
  return frame;
}

void OnAnimateSequence(CImageView& v, int) {
  if (v.sequence.empty()) return;
  const FileParams& p = LiveSettings().file;
  const auto delay = std::chrono::milliseconds(std::max(p.animationDelay, 0));
  // The list may not change while it plays: the frames are opened from a copy.
  const std::vector<std::string> files = v.sequence;
  AnimationOrder order(int(files.size()), p.animationMode);
  FlagScope quiet(Flags().Quiet, true);
  while (!GetPlatform().CancelRequested()) {
    const int frame = order.Next();
    // A missing file ends the animation: its message is said once, not once a frame.
    if (OpenImageFile(v, files[size_t(frame)], 0, false)) return;
    if (v.host) v.host->Invalidate();
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
  }
}
