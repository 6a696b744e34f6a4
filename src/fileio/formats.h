#pragma once
// The image file formats as one table (formats.cpp): the extensions each takes, its place
// in the file dialogs, the page of its options, and its reader, writer and describer. The
// general image library is the last row and takes every extension no other row names. A
// format built outside src/fileio registers its row with RegisterImageFormat.
#include <string>
#include <vector>

#include "image/fileinfo.h"
#include "image/fpbuffer.h"
#include "image/rgbbuffer.h"

class CImageView;
class ImageOpener;

struct ImageFormat {
  // The format's name in the dialogs' filter lists ("PNG"); RegisterImageFormat replaces the
  // row of the same name.
  const char* name;
  // The extensions it takes, upper case with their dot; none for the general library.
  std::vector<std::string> extensions;
  // The extension Save Image As appends when this format's filter was chosen; null for a
  // row the dialogs do not list.
  const char* saveExtension;
  // Listed also in the short list shown when float images are off.
  bool listedWithoutFloat;
  // The properties page of its options, which a batch saving in this format shows before
  // it starts; 0 for none.
  int optionsPage;
  // Loads the file into the window's current layer; true on failure, which leaves the
  // window as it was.
  bool (*open)(ImageOpener& o);
  // Saves the window's current layer; true on failure or cancel. The completion report on
  // success is the caller's.
  bool (*save)(CImageView& v, const std::string& path, int mode);
  // Fills the file record when this format's own reader gave way to the general library;
  // null when the library's picture is all there is to say.
  void (*describe)(const std::string& path, ImageFileInfo& info);
};

// The row of an extension (with its dot, any case): the general library's for one no row
// names.
const ImageFormat& FindImageFormat(const std::string& extension);

// Puts a format into the table: in place of the row of the same name, else before the
// general library's. Made at start-up, before any file is opened.
void RegisterImageFormat(const ImageFormat& row);

// The rows the file dialogs list, in their order (filter index 2 on; index 1 is the entry
// of all of them).
std::vector<const ImageFormat*> DialogFormats(bool withFloat);

// The filter strings of the file dialogs, with and without float images.
extern const char* const kFilterWithFloat;
extern const char* const kFilterWithoutFloat;

// The filter handed to a file dialog: the list with or without float images, cut to the
// length the dialogs have always been given.
std::string DialogFilter(bool withFloat);

// The extension Save Image As gives a name typed without one: by the 1-based filter index
// of the list that was shown.
const char* DefaultSaveExtension(int filterIndex, bool withFloat);

// Whether an extension (with its dot, any case) names a FITS file: ".fit", ".fits", ".fts".
bool IsFitsExtension(const std::string& extension);

// A picture read by a 24-bit path, waiting to become the window's image.
struct LoadedBitmap {
  DisplayBitmap bitmap;
  fpbuffer layer;  // empty when float images are off
};

// One opening of a file in a window, handed to the format's reader: what the reader needs
// of the window and the ways it ends.
class ImageOpener {
 public:
  ImageOpener(CImageView& v, const std::string& path, int mode, bool sound)
      : v_(v), path_(path), mode_(mode), sound_(sound) {}

  // Checks the file and hands it to its format's reader; true on failure.
  bool Run();

  CImageView& view() { return v_; }
  const std::string& path() const { return path_; }
  // The extension as written, with its dot.
  const std::string& extension() const { return ext_; }
  // The properties mode of a page the reader shows.
  int mode() const { return mode_; }
  // The file record; a reader that fills it says so with Described.
  ImageFileInfo& info() { return info_; }
  void Described() { described_ = true; }

  bool NoFloat() const;
  // The planes of the float image the picture becomes; 0 with float images off.
  int FloatPlanes() const;
  // The float layer has been filled: the window takes the file and shows it.
  bool FloatEnding();
  // Hands the file to the general library.
  bool ViaLibrary();
  // Builds the float image of a picture; false, with the window untouched, when memory
  // does not allow it.
  bool MakeFloat(LoadedBitmap& loaded);
  // The window takes the picture over and shows it; the pans go back to the corner when
  // the size differs from the image the window had.
  bool Commit(LoadedBitmap& loaded);
  // Says the picture does not fit the memory available; true.
  bool OutOfMemory();

 private:
  // Only a file that has been read changes the window: its path, its title, the record of
  // the file and, with float images off on read, the float images that are let go.
  void Adopt();

  CImageView& v_;
  std::string path_;
  int mode_;
  bool sound_;
  int oldWidth_ = 0, oldHeight_ = 0;
  std::string ext_;
  std::string title_;
  ImageFileInfo info_;
  bool described_ = false;  // info_ holds what a reader learnt about the file
};
