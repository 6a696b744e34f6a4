#pragma once
// Opening and saving images in an image window, the scratch slots and the File-menu
// commands. The command table learns the handlers from RegisterFileCommands.
#include <string>

class CImageView;

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
