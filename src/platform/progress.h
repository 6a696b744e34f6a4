#pragma once
// Progress bar and cancel polling for long work on the user-interface thread.
#include <cstdint>
#include <string>

struct ProgressState {
  int32_t count = 0;       // ticks since the start
  int32_t percent = 0;     // last computed percentage; the bar is drawn from it
  float factor = 0;        // 101 / total
  int32_t lastShown = -1;  // percentage at the last repaint
  bool suspended = false;  // ticks neither count nor repaint
};

// The process-wide state (exposed for the status update and for tests).
ProgressState& Progress();

// Starts the bar for total units of work.
void StartProgress(float total);
// One tick; true when the user cancelled (the caller stops and returns failure).
bool StepProgress();
// `ticks` ticks with one poll of the cancel keys (none when ticks is not positive): the
// count, the percentage and the repaints end as that many calls of StepProgress leave them;
// true when the user cancelled, and then none of them counts.
bool StepProgressBy(int64_t ticks);
// One tick; throws Cancelled when the user cancelled.
void StepProgressOrThrow();
void SuspendProgress();
void ResumeProgress();

// Writes a status pane and repaints it at once.
void SetStatusText(const std::string& text, int pane);

// Suspends progress counting for the length of a call when the caller does not want its
// ticks counted (a pass inside a larger operation); cancel() keeps it suspended, as a
// cancel leaves it until the next start.
class ProgressCountingScope {
 public:
  explicit ProgressCountingScope(bool count) : suspended_(!count) {
    if (suspended_) SuspendProgress();
  }
  ~ProgressCountingScope() {
    if (suspended_) ResumeProgress();
  }
  ProgressCountingScope(const ProgressCountingScope&) = delete;
  ProgressCountingScope& operator=(const ProgressCountingScope&) = delete;
  // Returns true, for "return scope.cancel();" in a resampler that reports a cancel.
  bool cancel() {
    suspended_ = false;
    return true;
  }

 private:
  bool suspended_;
};
