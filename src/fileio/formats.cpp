// The table of image file formats and the file dialogs' lists made of it.
#include "fileio/formats.h"

#include <algorithm>
#include <cctype>

#include "fileio/imagefile.h"

// The dialogs' filter strings as the dialogs have always been given them. They list the
// rows marked for the dialogs in the table's order (BMP through the general library); the
// short one ends its list of patterns with an extra ';' ("*.ifs;|"), which the dialogs
// take as an empty pattern and ignore. The table test checks both against the rows.
const char* const kFilterWithFloat =
    "PNG, JPG, TIF, BMP, FIT, FDIB, IFS|*.PNG;*.JPG;*.TIF;*.BMP;*.FIT;*.FDIB;*.IFS;*.fit;*.fdib;"
    "*.ifs|PNG|*.PNG|JPG|*.JPG|TIF|*.TIF|BMP|*.BMP|FIT|*.FIT|FDIB|*.FDIB|IFS|*.IFS|";
const char* const kFilterWithoutFloat =
    "PNG, JPG, TIF, BMP, IFS|*.PNG;*.JPG;*.TIF;*.BMP;*.IFS;*.ifs;|PNG|*.PNG|JPG|*.JPG|TIF|*.TIF|"
    "BMP|*.BMP|IFS|*.IFS|";

namespace {
// The dialogs have always been handed at most this much of a filter string.
constexpr size_t kFilterLimit = 170;

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Columns: name, extensions, save extension, listed without float images, options page,
// open, save, describe. The order is the dialogs' order; the general library stays last.
std::vector<ImageFormat>& Table() {
  // clang-format off
  static std::vector<ImageFormat> rows = {
      {"PNG",  {".PNG"}, "png",  true,  kPngOptionsPage,  OpenPngFile,  SavePngFile,  nullptr},
      {"JPG",  {".JPG"}, "jpg",  true,  kJpegOptionsPage, OpenJpegFile, SaveJpegFile, DescribeJpeg},
      {"TIF",  {".TIF"}, "tif",  true,  kTiffOptionsPage, OpenTiffFile, SaveTiffFile, nullptr},
      {"BMP",  {".BMP"}, "bmp",  true,  0,             OpenLibraryFile, SaveLibraryFile, nullptr},
      {"FIT",  {".FIT", ".FITS", ".FTS"},
                         "fit",  false, kFitsOptionsPage, OpenFitsFile, SaveFitsFile, nullptr},
      {"FDIB", {".FDIB"}, "fdib", false, 0,               OpenFdibFile, SaveFdibFile, nullptr},
      // The IFS codec registers its own row; until then the format is only named.
      {"IFS",  {".IFS"}, "ifs",  true,  kIfsOptionsPage,  OpenIfsFile,  SaveIfsFile,  nullptr},
      {"Imaging library", {}, nullptr, false, 0,    OpenLibraryFile, SaveLibraryFile, nullptr},
  };
  // clang-format on
  return rows;
}
}  // namespace

const ImageFormat& FindImageFormat(const std::string& extension) {
  const std::string ext = Upper(extension);
  const std::vector<ImageFormat>& rows = Table();
  for (const ImageFormat& row : rows) {
    if (std::find(row.extensions.begin(), row.extensions.end(), ext) != row.extensions.end()) {
      return row;
    }
  }
  return rows.back();
}

void RegisterImageFormat(const ImageFormat& row) {
  std::vector<ImageFormat>& rows = Table();
  for (ImageFormat& existing : rows) {
    if (std::string(existing.name) == row.name) {
      existing = row;
      return;
    }
  }
  rows.insert(rows.end() - 1, row);
}

std::vector<const ImageFormat*> DialogFormats(bool withFloat) {
  std::vector<const ImageFormat*> listed;
  for (const ImageFormat& row : Table()) {
    if (row.saveExtension && (withFloat || row.listedWithoutFloat)) listed.push_back(&row);
  }
  return listed;
}

bool IsFitsExtension(const std::string& extension) {
  return FindImageFormat(extension).open == OpenFitsFile;
}

std::string DialogFilter(bool withFloat) {
  return std::string(withFloat ? kFilterWithFloat : kFilterWithoutFloat).substr(0, kFilterLimit);
}

const char* DefaultSaveExtension(int filterIndex, bool withFloat) {
  // Index 1, the entry of all formats, and an index past the list take the first format's.
  const std::vector<const ImageFormat*> listed = DialogFormats(withFloat);
  const size_t entry = filterIndex >= 2 ? size_t(filterIndex - 2) : 0;
  return (entry < listed.size() ? listed[entry] : listed.front())->saveExtension;
}
