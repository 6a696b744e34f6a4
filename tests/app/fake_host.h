#pragma once
// A ViewHost that records what the image window asked of its widget.
#include <string>
#include <vector>

#include "app/viewhost.h"

class FakeHost : public ViewHost {
 public:
  void Invalidate() override { ++invalidated; }
  void SetFrameTitle(const std::string& t) override { title = t; }
  void MenuCaptionsChanged() override { ++captionUpdates; }
  void PopdownMenu(int n) override { popdowns.push_back(n); }
  void MakeForeground() override {}
  bool HistogramVisible() override { return histogramVisible; }
  void RefreshHistogram() override { ++histogramRefreshes; }
  void HideHistogram() override { histogramVisible = false; }

  int invalidated = 0;
  int captionUpdates = 0;
  int histogramRefreshes = 0;
  bool histogramVisible = false;
  std::string title;
  std::vector<int> popdowns;
};
