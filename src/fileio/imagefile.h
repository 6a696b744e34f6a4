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

// Hands the file commands' handlers to the image window's command table. Called once at
// start-up by every program that opens image windows; calling it again does no harm.
void RegisterFileCommands();

// Deletes every file of the program directory whose name matches pattern ('*' for any
// run of characters, case ignored as the scratch names always were). Stops at a file that
// cannot be deleted and returns its name; empty when all went.
std::string DeleteFilesByPattern(const std::string& pattern);
