// The dispatchers of opening and saving, the File-menu commands and the scratch slots.
//
// Every reader decodes into temporaries and the window takes them over only when the
// whole file has been read, so a failed open leaves the window's image as it was.
#include "fileio/imagefile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>

#include "app/imageview.h"
#include "fileio/batch.h"
#include "fileio/fits.h"
#include "fileio/imaging.h"
#include "fileio/jpeg.h"
#include "fileio/picturememory.h"
#include "fileio/png.h"
#include "fileio/tiff.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"
#include "platform/ui.h"

namespace fs = std::filesystem;
using V = CImageView;

namespace {
const MessageStyle kOk{};

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The extension from the last dot of the path, as written; empty without one.
std::string Extension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

void Message(const std::string& text, const std::string& caption) {
  GetUi().MessageBox(text, caption, kOk);
}

// The colour memory follows the image into another colour space.
void ConvertColour(std::array<float, 4>& c, CSpaceCode from, CSpaceCode to) {
  const ColourSpace* a = FindColourSpace(from);
  const ColourSpace* b = FindColourSpace(to);
  if (!a || !b || a == b) return;
  const fpixel rgb = a->channels == 4 ? a->torgb4(fpixel4(c[0], c[1], c[2], c[3]))
                                      : a->torgb(fpixel(c[0], c[1], c[2]));
  if (b->channels == 4) {
    const fpixel4 q = b->fromrgb4(rgb);
    c = {q.x, q.y, q.z, q.w};
  } else {
    const fpixel q = b->fromrgb(rgb);
    c = {q.x, q.y, q.z, 0.0f};
  }
}

void ConvertColourMemory(CImageView& v, CSpaceCode from, CSpaceCode to) {
  ConvertColour(v.currentColour, from, to);
  for (auto& c : v.queueColours) ConvertColour(c, from, to);
}

// After an FDIB image arrived in the current layer: the other layer and the colour memory
// move into its colour space.
void FollowLoadedSpace(CImageView& v, CSpaceCode before) {
  const CSpaceCode code = v.currentLayer().code;
  if (!v.otherLayer().empty()) v.otherLayer().convert(code);
  ConvertColourMemory(v, before, code);
}

int SlotOf(int id) {
  switch (id) {
    case int(CommandId::StoreZep1Fdib):
    case int(CommandId::RecallZep1Fdib):
    case int(CommandId::SubtractZep1Fdib):
    case int(CommandId::AddZep1Fdib):
      return 1;
    case int(CommandId::StoreZep2Fdib):
    case int(CommandId::RecallZep2Fdib):
    case int(CommandId::SubtractZep2Fdib):
    case int(CommandId::AddZep2Fdib):
      return 2;
    default:
      return 3 +
             (id - int(CommandId::StoreZep3Fdib)) / 2;  // Store/Recall ZEP3 slot 3 ... ZEP9 slot 9
  }
}

bool Matches(const std::string& pattern, const std::string& name) {
  // '*' against any run; everything else one character, case ignored.
  size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (p < pattern.size() && std::toupper(static_cast<unsigned char>(pattern[p])) ==
                                         std::toupper(static_cast<unsigned char>(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// A slot name taken by a pipe, a device or a folder: said, and nothing is read from it.
bool RefuseIrregularSlot(const std::string& name) {
  if (KindOfFile(FdibPath(name, true)) != FileKind::NotRegular) return false;
  Message(name + " is not a regular file.", "Problem reading!");
  return true;
}
}  // namespace

std::string KeepExtensionCase(const std::string& proposed, const std::string& current) {
  const fs::path a(proposed), b(current);
  const std::string ext = a.extension().string();
  if (ext.empty() || a.parent_path() != b.parent_path() || a.stem() != b.stem()) return proposed;
  return Upper(ext) == Upper(b.extension().string()) ? current : proposed;
}

std::string DeleteFilesByPattern(const std::string& pattern) {
  std::error_code ec;
  std::vector<fs::path> matches;
  for (const auto& entry : fs::directory_iterator(ProgramDirectory(), ec)) {
    if (entry.is_regular_file(ec) && Matches(pattern, entry.path().filename().string())) {
      matches.push_back(entry.path());
    }
  }
  for (const fs::path& path : matches) {
    if (!fs::remove(path, ec) || ec) return path.string();
  }
  return {};
}

// --- Opening ---

bool ImageOpener::NoFloat() const { return LiveSettings().file.noFloatBuffersOnRead != 0; }

int ImageOpener::FloatPlanes() const {
  return NoFloat() ? 0 : FloatChannels(v_.currentLayer().code);
}

bool ImageOpener::OutOfMemory() {
  ShowMessage(kOutOfMemoryText);
  return true;
}

bool ImageOpener::Run() {
  oldWidth_ = v_.currentLayer().width;
  oldHeight_ = v_.currentLayer().height;
  ext_ = Extension(path_);
  // A pipe, a device or a folder is never opened as an image, nor waited on.
  FileKind kind;
  std::FILE* probe = OpenRegularFile(path_, &kind);
  if (!probe) {
    Message(kind == FileKind::NotRegular ? "Not a Regular File" : "File Doesn't Exist", path_);
    return true;
  }
  const long length = std::fseek(probe, 0, SEEK_END) == 0 ? std::ftell(probe) : 0;
  std::fclose(probe);
  title_ = length < 1000000 ? Format("%s  ( %.3f KB )", path_.c_str(), double(length) * 0.001)
                            : Format("%s  ( %.3f MB )", path_.c_str(), double(length) * 1e-6);
  try {
    return FindImageFormat(ext_).open(*this);
  } catch (const std::bad_alloc&) {
    // The allocation that failed has said so; the readers changed nothing.
    return true;
  }
}

void ImageOpener::Adopt() {
  if (NoFloat()) {
    for (fpbuffer& layer : v_.layers) layer.clear(true);
    if (v_.host && v_.host->HistogramVisible()) v_.host->HideHistogram();
  }
  v_.filePath = path_;
  v_.frameTitle = title_;
  if (described_) v_.fileInfo = info_;
  if (v_.host) v_.host->SetFrameTitle(v_.frameTitle);
}

bool ImageOpener::FloatEnding() {
  Adopt();
  const fpbuffer& layer = v_.currentLayer();
  if (layer.width != oldWidth_ || layer.height != oldHeight_) v_.panX = v_.panY = 0;
  v_.RefreshDisplay(sound_);
  return false;
}

bool ImageOpener::MakeFloat(LoadedBitmap& loaded) {
  if (NoFloat()) return true;
  try {
    loaded.layer.dim(loaded.bitmap.width(), loaded.bitmap.height(), v_.currentLayer().code);
    loaded.layer.fromdib(loaded.bitmap.toprow());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ImageOpener::Commit(LoadedBitmap& loaded) {
  Adopt();
  v_.currentBitmap() = std::move(loaded.bitmap);
  if (!NoFloat()) {
    v_.currentLayer().swapwith(loaded.layer);
    if (v_.host && v_.host->HistogramVisible()) v_.host->RefreshHistogram();
  }
  v_.ReportCompletion(sound_);
  const DisplayBitmap& b = v_.currentBitmap();
  if (b.width() != oldWidth_ || b.height() != oldHeight_) v_.panX = v_.panY = 0;
  if (v_.host) v_.host->Invalidate();
  v_.UpdateStatus();
  return false;
}

bool ImageOpener::ViaLibrary() {
  LoadedBitmap loaded;
  {
    ProcessTimer timer(v_.startClock, nullptr);
    ImagingLoad result = GetImaging().Load(path_, 4 * uint64_t(FloatPlanes()));
    if (result.code == kImagingOutOfMemory) return OutOfMemory();
    if (result.code != kImagingOk) {
      ShowMessage(
          Format("Load image failed:\n%x - %s", result.code, ImagingErrorText(result.code)));
      return true;
    }
    if ((result.depth != 24 && result.depth != 32) || result.bitmap.empty()) {
      ShowMessage(Format("This %s subformat is not supported!", ext_.c_str()));
      return true;
    }
    loaded.bitmap = std::move(result.bitmap);
    // A format whose own reader gave way still describes the file.
    if (const auto describe = FindImageFormat(ext_).describe) {
      describe(path_, info_);
      described_ = true;
    }
    if (!MakeFloat(loaded)) return true;
  }
  // The bitmap comes from the library's decoder: the completion sound always plays.
  sound_ = true;
  return Commit(loaded);
}

bool OpenLibraryFile(ImageOpener& o) { return o.ViaLibrary(); }

bool OpenPngFile(ImageOpener& o) {
  if (o.NoFloat()) return o.ViaLibrary();
  {
    ProcessTimer timer(o.view().startClock, nullptr);
    LoadPng(o.view().currentLayer(), o.path(), o.info());
  }
  o.Described();
  const char* message = o.info().message;
  if (message && std::strcmp(message, kOutOfMemoryText) == 0) return o.OutOfMemory();
  if (message) return o.ViaLibrary();
  return o.FloatEnding();
}

bool OpenFitsFile(ImageOpener& o) {
  if (o.NoFloat()) {
    ShowMessage("Can't read FIT without floating point buffers.");
    return true;
  }
  const char* text;
  {
    ProcessTimer timer(o.view().startClock, nullptr);
    text = ReadFits(o.view().currentLayer(), o.path(), o.info());
  }
  o.Described();
  if (text && std::strcmp(text, kOutOfMemoryText) == 0) return o.OutOfMemory();
  if (text) {
    Message(text, "ERROR");
    return true;
  }
  return o.FloatEnding();
}

bool OpenFdibFile(ImageOpener& o) {
  if (o.NoFloat()) {
    ShowMessage("Can't read FDIB without floating point buffers.");
    return true;
  }
  CImageView& v = o.view();
  const CSpaceCode before = v.currentLayer().code;
  bool failed;
  {
    ProcessTimer timer(v.startClock, nullptr);
    failed = v.currentLayer().read(o.path(), false);
  }
  if (failed) {
    Message("Problem reading FDIB file", "ERROR");
    return true;
  }
  FollowLoadedSpace(v, before);
  return o.FloatEnding();
}

bool OpenTiffFile(ImageOpener& o) {
  if (o.NoFloat()) return o.ViaLibrary();
  int result;
  {
    ProcessTimer timer(o.view().startClock, nullptr);
    result = ReadTiffFloat(o.view().currentLayer(), o.path());
  }
  if (result == kTiffOutOfMemory) return o.OutOfMemory();
  if (result == kTiffDeclined) return o.ViaLibrary();
  return o.FloatEnding();
}

bool OpenIfsFile(ImageOpener&) {
  ShowMessage("This IFS subformat is not supported!");
  return true;
}

bool OpenJpegFile(ImageOpener& o) {
  CImageView& v = o.view();
  ImageFileInfo& info = o.info();
  LoadedBitmap loaded;
  {
    ProcessTimer timer(v.startClock, nullptr);
    uint64_t decodeBytes = 0;
    o.Described();
    if (ReadJpegInfo(o.path(), info, &decodeBytes)) return o.ViaLibrary();
    if (info.channels < 1 || info.channels > 3) {
      Message(info.text, "This particular subformat of JPEG is not supported!");
      return true;
    }
    // The decoder's buffers, the bitmap and the float image, checked once together.
    if (!MemoryAllows(decodeBytes +
                      PictureBytes(uint64_t(info.width), uint64_t(info.height), o.FloatPlanes()))) {
      return o.OutOfMemory();
    }
    try {
      loaded.bitmap = DisplayBitmap(info.width, info.height);
    } catch (const std::bad_alloc&) {
      return o.OutOfMemory();
    }
    if (ReadJpeg(o.path(), loaded.bitmap.toprow(), info.width, info.height)) return o.ViaLibrary();
    if (!o.MakeFloat(loaded)) return true;
  }
  return o.Commit(loaded);
}

void DescribeJpeg(const std::string& path, ImageFileInfo& info) { ReadJpegInfo(path, info); }

bool OpenImageFile(CImageView& v, const std::string& path, int mode, bool sound) {
  return ImageOpener(v, path, mode, sound).Run();
}

bool OpenByPath(CImageView& v, const std::string& path, int mode, bool sound) {
  return OpenImageFile(v, std::string(path.c_str()), mode, sound);
}

// --- Saving ---

namespace {
bool PageOk(int page, int mode) {
  return Dialog2(LiveSettings()).RunPage(page, 1, mode) == DialogResult::Ok;
}

// A format that keeps the float image cannot be written from the bitmap alone.
bool RefuseWithoutFloat(CImageView& v, const char* text) {
  if (v.HasFloat()) return false;
  ShowMessage(text);
  return true;
}
}  // namespace

bool SaveLibraryFile(CImageView& v, const std::string& path, int) {
  uint32_t code;
  {
    ProcessTimer timer(v.startClock, nullptr);
    code =
        v.HasBitmap() ? GetImaging().Save(path, v.currentBitmap()) : uint32_t(kImagingEmptyImage);
  }
  if (code != kImagingOk) {
    ShowMessage(Format("Save image failed:\n%x - %s", code, ImagingErrorText(code)));
    return true;
  }
  return false;
}

bool SavePngFile(CImageView& v, const std::string& path, int mode) {
  if (!v.HasFloat()) return SaveLibraryFile(v, path, mode);
  if (!PageOk(kPngOptionsPage, mode)) return true;
  const FileParams& p = LiveSettings().file;
  const char* error;
  {
    ProcessTimer timer(v.startClock, nullptr);
    error = WritePng(v.currentLayer(), path, p.pngBitDepth, p.pngCompressionLevel);
  }
  if (error) Message(error, path);
  return error != nullptr;
}

bool SaveJpegFile(CImageView& v, const std::string& path, int mode) {
  if (!PageOk(kJpegOptionsPage, mode)) return true;
  const FileParams& p = LiveSettings().file;
  bool failed;
  {
    ProcessTimer timer(v.startClock, nullptr);
    const DisplayBitmap& b = v.currentBitmap();
    failed = b.empty() ||
             WriteJpeg(path, b.toprow(), b.width(), b.height(), p.jpegQuality, p.jpegColorSpace);
  }
  if (failed) ShowMessage("Problem Writing JPG File");
  return failed;
}

bool SaveFitsFile(CImageView& v, const std::string& path, int mode) {
  if (RefuseWithoutFloat(v, "FIT not supported without floating point buffer.")) return true;
  if (!PageOk(kFitsOptionsPage, mode)) return true;
  const FileParams& p = LiveSettings().file;
  // The writer replaces an existing file only once the new one is complete.
  const char* error;
  {
    ProcessTimer timer(v.startClock, nullptr);
    error = WriteFits(v.currentLayer(), path, p.fitsBitDepth, p.fitsCompression);
  }
  if (error) Message(error, "ERROR");
  return error != nullptr;
}

bool SaveFdibFile(CImageView& v, const std::string& path, int) {
  if (RefuseWithoutFloat(v, "FDIB not supported without floating point buffer.")) return true;
  bool failed;
  {
    ProcessTimer timer(v.startClock, nullptr);
    failed = v.currentLayer().write(path, false);
  }
  if (failed) Message("Problem writing FDIB file.", "ERROR");
  return failed;
}

bool SaveTiffFile(CImageView& v, const std::string& path, int mode) {
  if (!v.HasFloat()) return SaveLibraryFile(v, path, mode);
  if (!PageOk(kTiffOptionsPage, mode)) return true;
  const FileParams& p = LiveSettings().file;
  if (p.tiffBitDepth == 8) return SaveLibraryFile(v, path, mode);
  const char* error;
  {
    ProcessTimer timer(v.startClock, nullptr);
    error = WriteTiffFloat(v.currentLayer(), path, p.tiffBitDepth == 32);
  }
  // A failed write is said, like every other writer's.
  if (error) Message(error, path);
  return error != nullptr;
}

bool SaveIfsFile(CImageView& v, const std::string&, int) {
  if (RefuseWithoutFloat(v, "IFS not supported without floating point buffer.")) return true;
  ShowMessage("This IFS subformat is not supported!");
  return true;
}

bool SaveImageFile(CImageView& v, const std::string& path, int mode) {
  if (FindImageFormat(Extension(path)).save(v, path, mode)) return true;
  v.ReportCompletion(true);
  return false;
}

// --- File-menu commands ---

void OnOpenImage(CImageView& v, int) {
  const bool noFloat = LiveSettings().file.noFloatBuffersOnRead != 0;
  if (noFloat) v.pixelInfoText.clear();
  FileDialogRequest request;
  request.filter = DialogFilter(!noFloat);
  request.filterIndex = v.filterIndex;
  request.initialPath = v.filePath;
  const FileDialogAnswer answer = GetUi().OpenFileDialog(request);
  if (!answer.ok) return;
  v.filterIndex = answer.filterIndex;
  // The window names the file only once it has been read.
  if (!OpenByPath(v, answer.path, 0, true)) v.filePresent = true;
}

void OnRefresh(CImageView& v, int) { OpenByPath(v, v.filePath, -1, true); }

void OnSaveImageAs(CImageView& v, int) {
  const bool withFloat = v.HasFloat();
  FileDialogRequest request;
  request.filter = DialogFilter(withFloat);
  request.filterIndex = v.filterIndex;
  request.initialPath = v.filePath;
  request.defaultExtension = "PNG";
  const FileDialogAnswer answer = GetUi().SaveFileDialog(request);
  if (!answer.ok) return;
  std::string path = answer.path;
  if (!answer.extensionTyped) {
    path += ".";
    path += DefaultSaveExtension(answer.filterIndex, withFloat);
  }
  SaveImageFile(v, KeepExtensionCase(path, v.filePath), 0);
}

void OnMoveToRecycleBin(CImageView& v, int) {
  if (!GetUi().MoveToTrash(v.filePath)) {
    // Without a trash the file stays: it is never deleted outright.
    ShowMessage(Format("%s could not be moved to the trash. The file has not been deleted.",
                       v.filePath.c_str()));
    return;
  }
  v.filePresent = false;
  v.filePath.clear();
}

void OnNoFloatBuffersOnRead(CImageView& v, int) {
  uint8_t& option = LiveSettings().file.noFloatBuffersOnRead;
  option = option ? 0 : 1;
  v.PopdownMenu(1);
}

void OnCommandLineOpen(CImageView& v, int) {
  static bool done = false;
  if (done) return;
  done = true;
  std::string line = CommandLine();
  line.erase(std::remove(line.begin(), line.end(), '"'), line.end());
  if (line.empty()) return;
  if (!OpenImageFile(v, line, 0, true)) {
    v.filePath = line;
    v.filePresent = true;
  }
}

void OnFileInformation(CImageView& v, int) {
  GetUi().MessageBox(v.fileInfo.text, v.filePath, MessageStyle{.notice = true});
}

// --- Scratch slots ---

void OnStoreSlot(CImageView& v, int id) {
  const std::string name = Format("ZEP%d.FDIB", SlotOf(id));
  {
    ProcessTimer timer(v.startClock, nullptr);
    if (v.currentLayer().write(name, true)) Message(name, "Problem writing!");
  }
  v.RefreshDisplay(true);
}

void OnRecallSlot(CImageView& v, int id) {
  const std::string name = Format("ZEP%d.FDIB", SlotOf(id));
  if (RefuseIrregularSlot(name)) return;
  const CSpaceCode before = v.currentLayer().code;
  bool failed;
  {
    ProcessTimer timer(v.startClock, nullptr);
    try {
      failed = v.currentLayer().read(name, true);
    } catch (const std::bad_alloc&) {
      return;  // the allocation has said so; the image is as it was
    }
  }
  if (failed) {
    Message(name, "Problem reading!");
    return;
  }
  FollowLoadedSpace(v, before);
  v.RefreshDisplay(true);
}

namespace {
void CombineSlot(CImageView& v, int id, bool add) {
  const std::string name = Format("ZEP%d.FDIB", SlotOf(id));
  if (RefuseIrregularSlot(name)) return;
  bool failed;
  {
    ProcessTimer timer(v.startClock, nullptr);
    failed =
        add ? v.currentLayer().addstored(name, true) : v.currentLayer().subtractstored(name, true);
  }
  if (failed) {
    ShowMessage(Format(add ? "Problem adding %s!" : "Problem subtracting %s!", name.c_str()));
    return;
  }
  v.RefreshDisplay(true);
}
}  // namespace

void OnAddSlot(CImageView& v, int id) { CombineSlot(v, id, true); }
void OnSubtractSlot(CImageView& v, int id) { CombineSlot(v, id, false); }

void OnDeleteAllScratchFiles(CImageView&, int) {
  const std::string stuck = DeleteFilesByPattern("ZEP*.FDIB");
  if (!stuck.empty()) ShowMessage(Format("Cannot delete %s.", stuck.c_str()));
}
