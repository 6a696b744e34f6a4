#include "platform/progress.h"

#include "platform/errors.h"
#include "platform/platform.h"
#include "platform/ui.h"

namespace {
ProgressState state;

// The percentage shown at a count. The product is formed in double: in single precision
// 200 ticks of 101/200 would round up to 101 and the bar would overshoot before the work
// is done.
int32_t PercentAt(int64_t count) {
  return static_cast<int32_t>(static_cast<double>(count) * state.factor);
}

// Counts a tick and repaints when the whole percentage changed. The bar reaches 100 one
// hundredth of the work before the total; later ticks draw values above 100 but never
// store them, so every one of them repaints.
void CountTick() {
  if (state.suspended) return;
  ++state.count;
  state.percent = PercentAt(state.count);
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

bool StepProgressBy(int64_t ticks) {
  if (ticks <= 0) return false;
  if (GetPlatform().CancelRequested()) {
    SuspendProgress();
    return true;
  }
  if (state.suspended) return false;
  if (!(state.factor > 0)) {
    for (int64_t i = 0; i < ticks; ++i) CountTick();
    return false;
  }
  // The percentage never falls as the count grows, so a run of ticks that repaints nothing
  // (its percentage is the one shown) is passed over at once, the end of the run found by
  // bisection; every other tick is counted as one alone would be.
  const int64_t target = int64_t(state.count) + ticks;
  while (state.count < target) {
    const int32_t next = PercentAt(int64_t(state.count) + 1);
    if (next != state.lastShown) {
      CountTick();
      continue;
    }
    int64_t lo = int64_t(state.count) + 1, hi = target;  // PercentAt(lo) == next
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo + 1) / 2;
      if (PercentAt(mid) == next) {
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    state.count = static_cast<int32_t>(lo);
    state.percent = next;
  }
  return false;
}

void StepProgressOrThrow() {
  if (GetPlatform().CancelRequested()) throw Cancelled{};
  CountTick();
}

void SuspendProgress() { state.suspended = true; }
void ResumeProgress() { state.suspended = false; }

void SetStatusText(const std::string& text, int pane) { GetUi().SetPaneText(pane, text); }
