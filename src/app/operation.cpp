// The skeleton every operation handler follows.
#include <cstring>
#include <optional>

#include "app/imageview.h"
#include "params/dialog2.h"
#include "params/fields.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/platform.h"

namespace {
// The image of the current layer as it was before a command, kept in memory when there is
// room for a copy, else in a scratch file; without either the command runs unguarded.
class LayerSnapshot {
 public:
  explicit LayerSnapshot(fpbuffer& layer) : layer_(layer) {
    const uint64_t bytes = uint64_t(layer.n) * 4 * uint64_t(layer.channels);
    if (layer.n == 0) return;
    try {
      if (MemoryAllows(2 * bytes)) {
        copy_.emplace(layer);
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
  std::optional<fpbuffer> copy_;
  bool inFile_ = false;
};

// Copies an operation's block into the step being recorded, or a played step's snapshot
// back into the block (checked like a file read, since program files come from disk).
void ReplayCopy(void* block, size_t blockSize) {
  CommandFlags& f = Flags();
  Settings& s = LiveSettings();
  RecordedProgram& program = s.program;
  const size_t bytes = std::min(blockSize, sizeof(StepParams));
  if (f.Recording) {
    if (program.stepCount >= 0 && program.stepCount < RecordedProgram::kSlots) {
      std::memcpy(program.steps[program.stepCount].bytes, block, bytes);
    }
  } else if (f.Playing) {
    if (f.PlayStep >= 0 && f.PlayStep < RecordedProgram::kSlots) {
      std::memcpy(block, program.steps[f.PlayStep].bytes, bytes);
      const auto begin = uint32_t(static_cast<uint8_t*>(block) - reinterpret_cast<uint8_t*>(&s));
      ValidateFields(s, begin, begin + uint32_t(bytes));
    }
  }
}
}  // namespace

bool CImageView::PrepareOperation(int id, int page, void* block, size_t blockSize, int row) {
  return PrepareOperation(id, {}, block, blockSize, [page, row] {
    return Dialog2(LiveSettings()).RunPage(page, row, 0) == DialogResult::Ok;
  });
}

bool CImageView::PrepareOperation(int id, std::initializer_list<int> pages, void* block,
                                  size_t blockSize, const std::function<bool()>& dialogs) {
  CommandFlags& f = Flags();
  if (f.F2Active || f.F3Active) {
    ReplayCopy(block, blockSize);
  } else {
    for (int page : pages) {
      if (Dialog2(LiveSettings()).RunPage(page, 1, 0) != DialogResult::Ok) return false;
    }
    if (dialogs && !dialogs()) return false;
  }
  if (f.CtrlHeld) {
    SelectOperation(id, true);
    return false;
  }
  return true;
}

bool CImageView::RunFloatOperation(int id, int page, void* block, size_t blockSize,
                                   const std::function<void(fpbuffer&)>& algorithm, int row) {
  if (!PrepareOperation(id, page, block, blockSize, row)) return false;
  return RunOnFloat(algorithm);
}

bool CImageView::RunOnFloat(const std::function<void(fpbuffer&)>& algorithm, bool monitor) {
  bool completed = false;
  bool outOfMemory = false;
  {
    ProcessTimer timer(startClock, monitor ? this : nullptr);
    std::optional<LayerSnapshot> before;
    try {
      before.emplace(currentLayer());
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
