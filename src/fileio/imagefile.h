#pragma once
// Opening and saving images in an image window, the scratch slots and the File-menu
// commands. The command table learns the handlers from RegisterFileCommands.
#include <string>

#include "fileio/formats.h"

class CImageView;

// The name Save Image As writes. A file dialog may propose the window's file with its
// extension in another case ("name.PNG" for "name.png"), which on Linux would make a second
// file beside it: where proposed differs from current only in the case of the extension,
// current's spelling is kept.
std::string KeepExtensionCase(const std::string& proposed, const std::string& current);

// Loads a file into the window's current layer, the reader chosen by the extension. mode
// is the properties mode of a page the reader shows; sound plays the completion sound.
// True on failure, which leaves the layer's image as it was.
bool OpenImageFile(CImageView& v, const std::string& path, int mode, bool sound);
bool OpenByPath(CImageView& v, const std::string& path, int mode, bool sound);
// Saves the current layer, the writer chosen by the extension; true on failure or cancel.
bool SaveImageFile(CImageView& v, const std::string& path, int mode);

// The properties pages of the formats' options.
inline constexpr int kPngOptionsPage = 2;
inline constexpr int kJpegOptionsPage = 3;
inline constexpr int kFitsOptionsPage = 4;
inline constexpr int kTiffOptionsPage = 6;
inline constexpr int kIfsOptionsPage = 120;

// The readers, writers and describer of the formats of formats.cpp's table.
bool OpenPngFile(ImageOpener& o);
bool OpenJpegFile(ImageOpener& o);
bool OpenTiffFile(ImageOpener& o);
bool OpenFitsFile(ImageOpener& o);
bool OpenFdibFile(ImageOpener& o);
bool OpenIfsFile(ImageOpener& o);
bool OpenLibraryFile(ImageOpener& o);
bool SavePngFile(CImageView& v, const std::string& path, int mode);
bool SaveJpegFile(CImageView& v, const std::string& path, int mode);
bool SaveTiffFile(CImageView& v, const std::string& path, int mode);
bool SaveFitsFile(CImageView& v, const std::string& path, int mode);
bool SaveFdibFile(CImageView& v, const std::string& path, int mode);
bool SaveIfsFile(CImageView& v, const std::string& path, int mode);
bool SaveLibraryFile(CImageView& v, const std::string& path, int mode);
void DescribeJpeg(const std::string& path, ImageFileInfo& info);

// The handlers of the File menu and the scratch slots (bound in bindings.cpp).
void OnOpenImage(CImageView& v, int id);
void OnRefresh(CImageView& v, int id);
void OnSaveImageAs(CImageView& v, int id);
void OnMoveToRecycleBin(CImageView& v, int id);
void OnNoFloatBuffersOnRead(CImageView& v, int id);
void OnCommandLineOpen(CImageView& v, int id);
void OnFileInformation(CImageView& v, int id);
void OnStoreSlot(CImageView& v, int id);
void OnRecallSlot(CImageView& v, int id);
void OnAddSlot(CImageView& v, int id);
void OnSubtractSlot(CImageView& v, int id);
void OnDeleteAllScratchFiles(CImageView& v, int id);

// Hands the file commands' handlers to the image window's command table (RegisterOperations
// calls it); calling it again does no harm.
void RegisterFileCommands();

// Deletes every file of the program directory whose name matches pattern ('*' for any
// run of characters, case ignored as the scratch names always were). Stops at a file that
// cannot be deleted and returns its name; empty when all went.
std::string DeleteFilesByPattern(const std::string& pattern);
