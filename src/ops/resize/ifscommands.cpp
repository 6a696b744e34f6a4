// The IFS commands of the Resize menu and the .IFS row of the file formats.
#include <new>

#include "app/flags.h"
#include "app/imageview.h"
#include "fileio/formats.h"
#include "fileio/imagefile.h"
#include "fileio/picturememory.h"
#include "image/rgbbuffer.h"
#include "ops/resize/ifs.h"
#include "ops/resize/resize.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/programdir.h"
#include "platform/ui.h"

namespace {
constexpr const char* kWarning =
    "Depending on image size and settings, IFS can take hours and even days to process!  "
    "Remember, you can use Break Key to abort processing.  Please, read the online "
    "instructions.";
// The dialog's arguments of the pages "IFS" of opening (120) and of saving (121), "Y & Ey"
// (122) and "Cb & Cr" (123): each page sits one slot after its argument.
constexpr int kOpeningPage = 119, kSavingPage = 120, kLumaPage = 121, kChromaPage = 122;
constexpr const char* kTempIfs = "TEMP.IFS";
constexpr const char* kTempBgr = "temp.bgr";

bool PageOk(int page, int row, int mode) {
  return Dialog2(LiveSettings()).RunPage(page, row, mode) == DialogResult::Ok;
}

// The warning when on, then the coding pages: saving, and with custom settings the
// planes' own pages.
bool CodingPages(int mode) {
  if (LiveSettings().ifs.ifsWarningMessage) {
    GetUi().MessageBox(kWarning, "WARNING", MessageStyle{});
  }
  if (!PageOk(kSavingPage, 1, mode)) return false;
  if (LiveSettings().ifs.ifsUseCustomSettings &&
      (!PageOk(kLumaPage, 1, mode) || !PageOk(kChromaPage, 1, mode))) {
    return false;
  }
  return true;
}

std::string TempIfsPath() { return ScratchPath(kTempIfs).string(); }

// Decodes the file into a new image in the layer's colour space, which the layer takes
// only once it is complete.
void ReadIntoLayer(fpbuffer& layer, const std::string& path) {
  fpbuffer decoded;
  decoded.setcode(layer.code);
  decoded.readifs(path, IfsDecodingOf(LiveSettings().ifs));
  layer.swapwith(decoded);
}

// A refused file is said with its caption; the command then ends like a cancelled one, the
// layer as it was.
template <class F>
void SayingRefusals(F&& work) {
  try {
    work();
  } catch (const TextException& e) {
    GetUi().MessageBox(e.text(), "ERROR", MessageStyle{});
    throw Cancelled{};
  }
}

// Decodes the file into the raw bitmap file and makes it the layer's bitmap, the float
// images let go; false (the window as it was) when the decode or the bitmap fails.
bool DecodeToBitmap(const std::string& path, LoadedBitmap& loaded, int64_t& startClock,
                    CImageView* window) {
  struct RemoveBgr {
    ~RemoveBgr() { matrix::remove(kTempBgr); }
  } remove;
  int w = 0, h = 0;
  try {
    ProcessTimer timer(startClock, window);
    DecodeIfsToBgrFile(path, kTempBgr, w, h, IfsDecodingOf(LiveSettings().ifs));
  } catch (const Cancelled&) {
    return false;
  } catch (const TextException& e) {
    GetUi().MessageBox(e.text(), "ERROR", MessageStyle{});
    return false;
  }
  try {
    loaded.bitmap = DisplayBitmap(w, h);
  } catch (const std::bad_alloc&) {
    GetUi().MessageBox(
        "Failed to create bitmap!\n\nPossible cause is fragmented memory.\n\nPlease, read manual.",
        "", MessageStyle{MessageButtons::Ok, MessageIcon::Error});
    return false;
  }
  rgbbuffer(loaded.bitmap.toprow(), w, h).read(kTempBgr);
  return true;
}

bool OpenIfs(ImageOpener& o) {
  CImageView& v = o.view();
  if (!PageOk(kOpeningPage, 1, o.mode())) return true;
  if (o.NoFloat()) {
    LoadedBitmap loaded;
    if (!DecodeToBitmap(o.path(), loaded, v.startClock, &v)) return true;
    return o.Commit(loaded);
  }
  try {
    ProcessTimer timer(v.startClock, &v);
    ReadIntoLayer(v.currentLayer(), o.path());
  } catch (const Cancelled&) {
    return true;
  } catch (const TextException& e) {
    GetUi().MessageBox(e.text(), "ERROR", MessageStyle{});
    return true;
  }
  return o.FloatEnding();
}

bool SaveIfs(CImageView& v, const std::string& path, int mode) {
  if (!v.HasFloat()) {
    ShowMessage("IFS not supported without floating point buffer.");
    return true;
  }
  if (!CodingPages(mode)) return true;
  const IfsParams& p = LiveSettings().ifs;
  try {
    // The layer is coded from a converted copy and the file replaced only when complete:
    // a cancel keeps both the image and the file there was.
    ProcessTimer timer(v.startClock, &v);
    v.currentLayer().writeifs(path, IfsPlanesOf(p), p.ifsSharpeningFactor);
  } catch (const Cancelled&) {
    return true;
  } catch (const TextException& e) {
    GetUi().MessageBox(e.text(), "ERROR", MessageStyle{});
    return true;
  }
  return false;
}
}  // namespace

void OnIteratedFunctionSystems(CImageView& v, int id) {
  if (!v.PrepareOperation(id, [] { return CodingPages(0) && PageOk(kOpeningPage, 1, 0); })) {
    return;
  }
  const IfsParams& p = LiveSettings().ifs;
  const IfsDecoding decoding = IfsDecodingOf(p);
  if (v.HasFloat()) {
    const std::string path = TempIfsPath();
    v.RunOnFloat(
        [&](fpbuffer& layer) {
          SayingRefusals([&] {
            GetUi().SetPaneText(4, "\tWriting temporary IFS file.");
            layer.writeifs(path, IfsPlanesOf(p), p.ifsSharpeningFactor);
            GetUi().SetPaneText(4, "\tReading temporary IFS file.");
            Flags().IfsReopenable = true;
            ReadIntoLayer(layer, path);
          });
        },
        true, true);
    return;
  }
  if (!v.HasBitmap()) return;
  const DisplayBitmap& b = v.currentBitmap();
  const int64_t w = int64_t(b.width()) * decoding.scale, h = int64_t(b.height()) * decoding.scale;
  if (w > INT32_MAX || h > INT32_MAX) {
    ShowMessage(kOutOfMemoryText);
    return;
  }
  bool done = false;
  {
    ProcessTimer timer(v.startClock, &v);
    done = ReplaceBitmap(v, int(w), int(h), [&](rgbbuffer& target, const rgbbuffer& source) {
      try {
        IfsEnlarge(target, source, IfsPlanesOf(p), p.ifsSharpeningFactor, decoding,
                   p.ifsTileWidth, p.ifsTileHeight);
      } catch (const Cancelled&) {
        return true;
      }
      return false;
    }, p.ifsUseScratchDisk != 0);
  }
  Flags().F3Active = Flags().F2Active = Flags().CtrlHeld = false;
  if (done) v.ReportCompletion(true);
  if (v.host) v.host->Invalidate();
  v.UpdateStatus();
}

void OnReopenIfs(CImageView& v, int id) {
  if (!v.PrepareOperation(id, [] { return PageOk(kOpeningPage, 1, 0); })) return;
  const std::string path = TempIfsPath();
  GetUi().SetPaneText(4, "\tReading temporary IFS file.");
  if (LiveSettings().file.noFloatBuffersOnRead) {
    LoadedBitmap loaded;
    const bool done = DecodeToBitmap(path, loaded, v.startClock, nullptr);
    Flags().F3Active = Flags().F2Active = Flags().CtrlHeld = false;
    if (done) {
      v.currentLayer().clear(true);
      v.currentBitmap() = std::move(loaded.bitmap);
      v.ReportCompletion(true);
    }
    if (v.host) v.host->Invalidate();
    v.UpdateStatus();
    return;
  }
  v.RunOnFloat([&](fpbuffer& layer) { SayingRefusals([&] { ReadIntoLayer(layer, path); }); },
               false, true);
}

void RegisterIfsFormat() {
  RegisterImageFormat(
      {"IFS", {".IFS"}, "ifs", true, kIfsOptionsPage, OpenIfs, SaveIfs, nullptr});
}
