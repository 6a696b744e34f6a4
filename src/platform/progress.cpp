#include "platform/progress.h"

#include "platform/errors.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {
ProgressState state;

// Counts a tick and repaints when the whole percentage changed. The bar reaches 100 one
// hundredth of the work before the total; later ticks draw values above 100 but never
// store them, so every one of them repaints.
void CountTick() {
  if (state.suspended) return;
  ++state.count;
  // The product is formed in double: in single precision 200 ticks of 101/200 would round
  // up to 101 and the bar would overshoot before the work is done.
  state.percent = static_cast<int32_t>(static_cast<double>(state.count) * state.factor);
  if (state.percent == state.lastShown) return;
  if (state.percent >= 0 && state.percent <= 100) state.lastShown = state.percent;
  GetUi().DrawProgress(state.percent);
}
}  // namespace

ProgressState& Progress() { return state; }

void StartProgress(float total) {
  state.count = 0;
  state.percent = 0;
  state.lastShown = -1;
  state.factor = 101.0f / total;
  GetUi().ShowProgressPane();
  ResumeProgress();
}

bool StepProgress() {
  if (GetPlatform().CancelRequested()) {
    SuspendProgress();
    return true;
  }
  CountTick();
  return false;
}

void StepProgressOrThrow() {
  if (GetPlatform().CancelRequested()) throw Cancelled{};
  CountTick();
}

void SuspendProgress() { state.suspended = true; }
void ResumeProgress() { state.suspended = false; }

void SetStatusText(const std::string& text, int pane) { GetUi().SetPaneText(pane, text); }
