#pragma once
// The main frame's commands that concern no single image: help and information boxes,
// settings reset, the scroll-lock option and the memory diagnostics. The widget routes a
// command to the active image window first and to this model when the window has none.
#include <cstdint>
#include <string>

#include "params/commandids.h"

class CImageView;

class FrameHost {
 public:
  virtual ~FrameHost() = default;
  // File New: opens an image window; the model has checked the limit.
  virtual void OpenImageWindow() = 0;
  virtual int ImageWindowCount() const = 0;
  virtual void ShowAbout() = 0;
  virtual void Repaint() = 0;
};

class FrameModel {
 public:
  static constexpr int kMaxWindows = 10;

  explicit FrameModel(FrameHost* host) : host_(host) {}

  // Runs a main-frame command; false when the frame has no such command.
  bool Dispatch(int id);
  bool Dispatch(CommandId id) { return Dispatch(static_cast<int>(id)); }
  // Whether the command is checked in its menu (-1: no check mark).
  int Checked(int id) const;
  int Checked(CommandId id) const { return Checked(static_cast<int>(id)); }

  void OnFileNew();
  void OnSetPropertiesToDefault();
  void OnLegalDisclaimer();
  void OnMaximumDibSize();
  void OnCurrentMemoryStatus();

 private:
  FrameHost* host_;
};

// Sends a command where the menus, the keys and scripts send it: to the image window (null:
// none is open) unless the frame owns the command, and to the frame when the window has no
// handler for it. False when neither has.
bool RouteCommand(CImageView* view, FrameModel& frame, int id);

// The largest square 24-bit display bitmap the available memory allows, counted the way
// the diagnostic reports it: from 256 up to 99999; 255 when even 256 does not fit.
int64_t LargestSquareBitmap(uint64_t availableBytes);

// The addresses of the home page and of the manual: the project's README until it has a
// site of its own.
std::string HomePageUrl();
