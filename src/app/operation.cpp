// The skeleton every operation handler follows.
#include <cstring>
#include <optional>

#include "app/imageview.h"
#include "numeric/planecopy.h"
#include "params/commands.h"
#include "params/dialog2.h"
#include "params/fields.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/platform.h"

namespace {
// The image of the current layer as it was before a command, kept in memory when there is
// room for a copy, else in a scratch file; without either the command runs unguarded. A
// command that keeps the image itself when it does not complete needs neither.
class LayerSnapshot {
 public:
  LayerSnapshot(fpbuffer& layer, bool keptByCommand) : layer_(layer), kept_(keptByCommand) {
    const uint64_t bytes = uint64_t(layer.n) * 4 * uint64_t(layer.channels);
    if (layer.n == 0 || kept_) return;
    try {
      if (MemoryAllows(2 * bytes)) {
        // The planes are copied on every thread: on one, a large layer's copy into fresh
        // pages took longer than many commands themselves.
        copy_.emplace();
        copy_->dimunset(layer.width, layer.height, layer.code);
        for (int i = 0; i < copy_->channels; ++i) {
          CopyPlaneParallel(layer.plane[i], copy_->plane[i]);
        }
        copy_->syncviews();
        if (layer.mask.present()) copy_->mask = layer.mask;
        return;
      }
    } catch (const std::bad_alloc&) {
      copy_.reset();
    }
    inFile_ = !layer.write(kFile, true);
  }
  ~LayerSnapshot() {
    if (inFile_) fpbuffer::removefile(kFile);
  }
  // Puts the image back; false when there was nothing to put back.
  bool restore() {
    if (kept_) return true;
    if (copy_) {
      layer_.swapwith(*copy_);
      return true;
    }
    if (inFile_) return !layer_.read(kFile, true);
    return false;
  }

 private:
  static constexpr const char* kFile = "before.fdib";
  fpbuffer& layer_;
  bool kept_;
  std::optional<fpbuffer> copy_;
  bool inFile_ = false;
};

// Copies the settings a step keeps into the step being recorded, or a played step's
// snapshot back into the record (checked like a file read, since program files come from
// disk). The bytes sit at the same place in the step as in their block.
void ReplayCopy(const StepSnapshotRange& range) {
  CommandFlags& f = Flags();
  Settings& s = LiveSettings();
  RecordedProgram& program = s.program;
  if (range.length == 0 || range.begin >= sizeof(StepParams)) return;
  const size_t bytes = std::min<size_t>(range.length, sizeof(StepParams) - range.begin);
  uint8_t* settings = reinterpret_cast<uint8_t*>(&s) + range.blockOffset + range.begin;
  if (f.Recording) {
    if (program.stepCount >= 0 && program.stepCount < RecordedProgram::kSlots) {
      std::memcpy(program.steps[program.stepCount].bytes + range.begin, settings, bytes);
    }
  } else if (f.Playing) {
    if (f.PlayStep >= 0 && f.PlayStep < RecordedProgram::kSlots) {
      std::memcpy(settings, program.steps[f.PlayStep].bytes + range.begin, bytes);
      const uint32_t begin = range.blockOffset + range.begin;
      ValidateFields(s, begin, begin + uint32_t(bytes));
    }
  }
}
}  // namespace

bool CImageView::PrepareOperation(int id, const std::function<bool()>& dialogs, int row) {
  CommandFlags& f = Flags();
  const CommandDescriptor* d = CommandDescriptorOf(id);
  if (f.F2Active || f.F3Active) {
    if (d) ReplayCopy(d->snapshot);
  } else {
    for (size_t i = 0; d && i < d->pages.size() && d->pages[i] >= 0; ++i) {
      const int focus = i == 0 ? row : 1;
      if (Dialog2(LiveSettings()).RunPage(d->pages[i], focus, 0) != DialogResult::Ok) return false;
    }
    if (dialogs && !dialogs()) return false;
  }
  if (f.CtrlHeld) {
    SelectOperation(id, true);
    return false;
  }
  return true;
}

bool CImageView::RunFloatOperation(int id, const std::function<void(fpbuffer&)>& algorithm,
                                   int row) {
  if (!PrepareOperation(id, nullptr, row)) return false;
  return RunOnFloat(algorithm);
}

bool CImageView::RunOnFloat(const std::function<void(fpbuffer&)>& algorithm, bool monitor,
                            bool keepsImage) {
  bool completed = false;
  bool outOfMemory = false;
  {
    ProcessTimer timer(startClock, monitor ? this : nullptr);
    std::optional<LayerSnapshot> before;
    try {
      before.emplace(currentLayer(), keepsImage);
      algorithm(currentLayer());
      completed = true;
    } catch (const Cancelled&) {
      if (before) before->restore();
    } catch (const TextException& e) {
      if (before) before->restore();
      ShowMessage(e.text());
    } catch (const std::bad_alloc&) {
      outOfMemory = !(before && before->restore());
      if (!outOfMemory) ShowMessage("Try using \"Destroy Floating Point Buffer\" option!");
    }
  }
  operationFailed = !completed;
  if (outOfMemory) {
    HandleOutOfMemory();
    return false;
  }
  // The image is shown again as it was; only a finished command reports its time and sound.
  RefreshDisplay(true, completed);
  return completed;
}
