#pragma once
// The desktop's side of image files: the general image library over Qt's image readers
// and writers, the freedesktop trash, and the file dialogs' filter strings. Only Qt Gui is
// needed, so the headless runner links this too.
#include <QStringList>
#include <string>

#include "fileio/imaging.h"

class QtImaging : public ImagingLibrary {
 public:
  ImagingLoad Load(const std::string& path) override;
  uint32_t Save(const std::string& path, const DisplayBitmap& bitmap) override;
};

// Moves a file to the freedesktop trash; false, leaving the file, when that cannot be done.
bool MoveFileToTrash(const std::string& path);

// The program's filter string ("description|patterns|..." with ';' between patterns) as
// Qt name filters, "description (patterns)". Patterns are matched with case on this
// desktop, so each one is offered in upper and lower case too.
QStringList NameFilters(const std::string& filter);
