#pragma once
// Opening and saving images in an image window, the scratch slots and the File-menu
// commands. The handlers are members of CImageView defined in this library; the command
// table learns them from RegisterFileCommands.
#include <string>

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

// Hands the file commands' handlers to the image window's command table. Called once at
// start-up by every program that opens image windows; calling it again does no harm.
void RegisterFileCommands();

// Deletes every file of the program directory whose name matches pattern ('*' for any
// run of characters, case ignored as the scratch names always were). Stops at a file that
// cannot be deleted and returns its name; empty when all went.
std::string DeleteFilesByPattern(const std::string& pattern);
