#pragma once
// The desktop's side of image files: the general image library over Qt's image readers
// and writers, the freedesktop trash, and the file dialogs' filter strings. Only Qt Gui is
// needed, so the headless runner links this too.
#include <memory>
#include <string>

#include "fileio/imaging.h"

class QCoreApplication;

class QtImaging : public ImagingLibrary {
 public:
  ImagingLoad Load(const std::string& path, uint64_t floatBytesPerPixel) override;
  uint32_t Save(const std::string& path, const DisplayBitmap& bitmap) override;
};

// For programs without windows (the headless runner): makes the application object Qt's
// image plugins are found through, when there is none yet, and installs QtImaging as the
// image library until the session ends. Keeps Qt's headers out of the program's sources.
class QtImagingSession {
 public:
  QtImagingSession();
  ~QtImagingSession();
  QtImagingSession(const QtImagingSession&) = delete;
  QtImagingSession& operator=(const QtImagingSession&) = delete;

 private:
  std::unique_ptr<QCoreApplication> app_;
  QtImaging imaging_;
};

// Moves a file to the freedesktop trash; false, leaving the file, when that cannot be done.
bool MoveFileToTrash(const std::string& path);
