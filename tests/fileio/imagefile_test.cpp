// Opening and saving through an image window's dispatcher, the File-menu commands and the
// scratch slots. The general image library is a recording stand-in here; the real one
// (Qt's readers) is exercised by the Qt tests.
#include "fileio/imagefile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "fileio/fits.h"
#include "fileio/formats.h"
#include "fileio/imaging.h"
#include "fileio/jpeg.h"
#include "fileio/png.h"
#include "fileio/tiff.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {
// Answers every load with a 5 x 4 picture of one colour (or a set failure) and records
// what it was asked.
class StandInImaging : public ImagingLibrary {
 public:
  ImagingLoad Load(const std::string& path, uint64_t floatBytesPerPixel) override {
    loads.push_back(path);
    floatBytes.push_back(floatBytesPerPixel);
    ImagingLoad r;
    r.code = loadCode;
    r.depth = depth;
    if (loadCode == kImagingOk) {
      r.bitmap = DisplayBitmap(5, 4);
      for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 5; ++i) std::memcpy(r.bitmap.row(j) + 3 * i, "\x0A\x14\x1E", 3);
      }
    }
    return r;
  }
  uint32_t Save(const std::string& path, const DisplayBitmap&) override {
    saves.push_back(path);
    return saveCode;
  }
  std::vector<std::string> loads, saves;
  std::vector<uint64_t> floatBytes;
  uint32_t loadCode = kImagingOk, saveCode = kImagingOk;
  int depth = 24;
};

class ImageFileTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;  // the save pages stay shut
    previous_ = SetImaging(&imaging);
  }
  void TearDown() override {
    SetImaging(previous_);
    ZepTest::TearDown();
  }
  // A window holding a w x h ramp in its current layer and bitmap.
  void Fill(CImageView& v, int w, int h) {
    fpbuffer& f = v.currentLayer();
    f.dim(w, h, 0x17);
    for (int c = 0; c < 3; ++c) f.plane[c].ramp(float(20 * c), 1.0f);
    v.currentBitmap() = DisplayBitmap(w, h);
    f.todib(v.currentBitmap().toprow());
  }
  std::string Path(const std::string& name) { return (home / name).string(); }
  // Whether the window still holds exactly what Fill put there.
  static bool Untouched(CImageView& v, int w, int h) {
    const fpbuffer& f = v.currentLayer();
    if (f.width != w || f.height != h || v.currentBitmap().width() != w) return false;
    for (int k = 0; k < f.n; ++k) {
      if (f.plane[1].x[k] != 20.0f + float(k)) return false;
    }
    return true;
  }

  FakeHost host;
  StandInImaging imaging;

 private:
  ImagingLibrary* previous_ = nullptr;
};

void WriteSizedFile(const std::string& path, size_t bytes) {
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}
}  // namespace

TEST_F(ImageFileTest, ExtensionChoosesTheReaderIgnoringCase) {
  fpbuffer source(3, 2, 0x17);
  source.plane[0].fill(257 / 257.0f);
  source.plane[1].fill(65535 / 257.0f);
  struct Case {
    const char* name;
    bool own;  // read by the PNG reader, not the general library
  };
  for (const Case& c : {Case{"photo.png", true}, Case{"photo.Png", true}, Case{"PHOTO.PNG", true},
                        Case{"photo.jpeg", false}, Case{"photo.tiff", false}}) {
    ASSERT_EQ(WritePng(source, Path(c.name), 16, 6), nullptr);
    CImageView v(&host);
    imaging.loads.clear();
    EXPECT_FALSE(OpenImageFile(v, Path(c.name), 0, false)) << c.name;
    EXPECT_EQ(imaging.loads.empty(), c.own) << c.name;
    if (c.own) {
      EXPECT_EQ(v.currentLayer().plane[0].x[0], 1.0f) << c.name;  // 16-bit samples unrounded
      EXPECT_EQ(v.currentLayer().plane[1].x[5], 255.0f) << c.name;
      EXPECT_EQ(v.fileInfo.bitsPerChannel, 16);
    } else {
      EXPECT_EQ(v.currentLayer().width, 5) << c.name;  // the library's picture
      EXPECT_EQ(v.currentLayer().plane[2].x[0], 10.0f) << c.name;
    }
    EXPECT_EQ(v.currentBitmap().width(), v.currentLayer().width);
  }
}

TEST_F(ImageFileTest, TitleGivesTheSizeInKilobytesOrMegabytes) {
  struct Case {
    size_t bytes;
    const char* title;
  };
  for (const Case& c : {Case{999999, "%s  ( 999.999 KB )"}, Case{1000000, "%s  ( 1.000 MB )"}}) {
    const std::string path = Path(Format("f%zu.dat", c.bytes));
    WriteSizedFile(path, c.bytes);
    CImageView v(&host);
    Fill(v, 4, 3);
    EXPECT_FALSE(OpenImageFile(v, path, 0, false));
    EXPECT_EQ(v.frameTitle, Format(c.title, path.c_str()));
    EXPECT_EQ(host.title, v.frameTitle);
  }
}

TEST_F(ImageFileTest, FailedOpensLeaveTheWindowAsItWas) {
  std::ofstream(Path("broken.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n broken";
  std::ofstream(Path("broken.fdib"), std::ios::binary) << std::string(20, '\0');
  std::ofstream(Path("a.IFS"), std::ios::binary) << "ifs";
  std::ofstream(Path("grey.gif"), std::ios::binary) << "gif";
  imaging.loadCode = kImagingInvalidData;
  CImageView v(&host);
  Fill(v, 4, 3);
  v.panX = 7;

  ui.ExpectMessage("File Doesn't Exist");
  EXPECT_TRUE(OpenImageFile(v, Path("missing.png"), 0, false));
  EXPECT_EQ(ui.messages.back().caption, Path("missing.png"));

  // A PNG the own reader refuses goes to the general library before any message.
  ui.ExpectMessage("Load image failed:\n3 - The file is damaged or not an image.");
  EXPECT_TRUE(OpenImageFile(v, Path("broken.png"), 0, false));
  EXPECT_EQ(imaging.loads.size(), 1u);
  ui.ExpectMessage("Problem reading FDIB file");
  EXPECT_TRUE(OpenImageFile(v, Path("broken.fdib"), 0, false));
  EXPECT_EQ(ui.messages.back().caption, "ERROR");
  ui.ExpectMessage("Problem reading IFS file");
  EXPECT_TRUE(OpenImageFile(v, Path("a.IFS"), 0, false));
  EXPECT_EQ(ui.messages.back().caption, "ERROR");

  // A depth other than 24 or 32 bits is refused, named by the extension as written.
  imaging.loadCode = kImagingOk;
  imaging.depth = 8;
  ui.ExpectMessage("This .gif subformat is not supported!");
  EXPECT_TRUE(OpenImageFile(v, Path("grey.gif"), 0, false));
  EXPECT_TRUE(Untouched(v, 4, 3));
  EXPECT_EQ(v.panX, 7);

  imaging.depth = 32;  // the fourth byte is dropped by the library: taken
  EXPECT_FALSE(OpenImageFile(v, Path("grey.gif"), 0, false));
  EXPECT_EQ(v.currentLayer().width, 5);
  EXPECT_EQ(v.panX, 0);  // another size: the pans go back
}

TEST_F(ImageFileTest, PansStayForAnImageOfTheSameSize) {
  fpbuffer same(4, 3, 0x17);
  ASSERT_EQ(WritePng(same, Path("same.png"), 8, 1), nullptr);
  CImageView v(&host);
  Fill(v, 4, 3);
  v.panX = 3;
  v.panY = -2;
  EXPECT_FALSE(OpenImageFile(v, Path("same.png"), 0, false));
  EXPECT_EQ(v.panX, 3);
  EXPECT_EQ(v.panY, -2);
}

TEST_F(ImageFileTest, WithoutFloatBuffersOnRead) {
  fpbuffer image(3, 2, 0x17);
  ASSERT_FALSE(image.write(Path("x.fdib"), false));
  std::ofstream(Path("x.fit"), std::ios::binary) << "SIMPLE";
  LiveSettings().file.noFloatBuffersOnRead = 1;
  CImageView v(&host);
  Fill(v, 4, 3);
  v.otherLayer().dim(2, 2, 0x17);
  // A refused file lets no float image go.
  ui.ExpectMessage("Can't read FDIB without floating point buffers.");
  EXPECT_TRUE(OpenImageFile(v, Path("x.fdib"), 0, false));
  ui.ExpectMessage("Can't read FIT without floating point buffers.");
  EXPECT_TRUE(OpenImageFile(v, Path("x.fit"), 0, false));
  EXPECT_TRUE(Untouched(v, 4, 3));
  EXPECT_EQ(v.otherLayer().width, 2);

  // A PNG goes to the general library and arrives as a bitmap alone; both float images go.
  ASSERT_EQ(WritePng(image, Path("x.png"), 8, 1), nullptr);
  EXPECT_FALSE(OpenImageFile(v, Path("x.png"), 0, false));
  EXPECT_EQ(imaging.loads.size(), 1u);
  EXPECT_EQ(imaging.floatBytes.back(), 0u);  // no float image will be made of it
  EXPECT_EQ(v.currentBitmap().width(), 5);
  EXPECT_TRUE(v.layers[0].empty());
  EXPECT_TRUE(v.layers[1].empty());
}

TEST_F(ImageFileTest, JpegOwnRoadAndItsRefusals) {
  const DisplayBitmap source(6, 5);
  ASSERT_FALSE(WriteJpeg(Path("a.jpg"), source.toprow(), 6, 5, 90, 3));
  CImageView v(&host);
  Fill(v, 4, 3);
  EXPECT_FALSE(OpenImageFile(v, Path("a.jpg"), 0, false));
  EXPECT_TRUE(imaging.loads.empty());
  EXPECT_EQ(v.currentLayer().width, 6);
  EXPECT_EQ(v.fileInfo.colourType, 3);

  if (fs::exists("/usr/bin/convert")) {
    ASSERT_EQ(
        std::system(("/usr/bin/convert " + Path("a.jpg") + " -colorspace CMYK " + Path("cmyk.jpg"))
                        .c_str()),
        0);
    ui.ExpectMessageStartingWith("\nWidth = 6, Height = 5\nNumber of Channels = 4");
    EXPECT_TRUE(OpenImageFile(v, Path("cmyk.jpg"), 0, false));
    EXPECT_EQ(ui.messages.back().caption, "This particular subformat of JPEG is not supported!");
    EXPECT_EQ(v.currentLayer().width, 6);
  }
  // Cut short: the own decoder refuses it, so the general library gets it.
  const std::string bytes = ReadBytes(Path("a.jpg"));
  std::ofstream(Path("cut.jpg"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  imaging.loadCode = kImagingInvalidData;
  ui.ExpectMessageStartingWith("Load image failed:");
  EXPECT_TRUE(OpenImageFile(v, Path("cut.jpg"), 0, false));
  EXPECT_EQ(imaging.loads.size(), 1u);
  EXPECT_EQ(v.currentLayer().width, 6);
}

TEST_F(ImageFileTest, SavesByExtensionAndSaysWhenTheyFail) {
  CImageView v(&host);
  Fill(v, 4, 3);
  v.currentLayer().plane[0].x[0] = 300.0f;
  v.currentLayer().plane[1].x[0] = 150.0f;
  v.currentLayer().plane[2].x[0] = 60.0f;
  LiveSettings().file.pngBitDepth = 8;
  EXPECT_FALSE(SaveImageFile(v, Path("out.PNG"), 0));
  fpbuffer back;
  ImageFileInfo info;
  LoadPng(back, Path("out.PNG"), info);
  ASSERT_EQ(info.message, nullptr);
  const size_t bottomLeft = 0;  // row 0 is the bottom row in both
  EXPECT_EQ(back.plane[0].x[bottomLeft], 255.0f);
  EXPECT_EQ(back.plane[1].x[bottomLeft], 128.0f);
  EXPECT_EQ(back.plane[2].x[bottomLeft], 51.0f);

  EXPECT_FALSE(SaveImageFile(v, Path("out.fdib"), 0));
  EXPECT_EQ(fs::file_size(Path("out.fdib")), 16u + 3 * 12 * 4);
  EXPECT_FALSE(SaveImageFile(v, Path("out.bmp"), 0));
  EXPECT_EQ(imaging.saves, std::vector<std::string>{Path("out.bmp")});
  EXPECT_EQ(v.filePath, "");  // saving names no file for the window

  LiveSettings().file.pngBitDepth = 12;
  ui.ExpectMessage("Bit Depth Must be 8 or 16!");
  EXPECT_TRUE(SaveImageFile(v, Path("bad.png"), 0));
  EXPECT_EQ(ui.messages.back().caption, Path("bad.png"));
  EXPECT_FALSE(fs::exists(Path("bad.png")));
  imaging.saveCode = kImagingUnknownFormat;
  ui.ExpectMessage("Save image failed:\n2 - The format of the file is not supported.");
  EXPECT_TRUE(SaveImageFile(v, Path("out.xyz"), 0));
  ui.ExpectMessage("Problem writing FDIB file.");
  EXPECT_TRUE(SaveImageFile(v, Path("no/such/dir/out.fdib"), 0));

  // Without float data: the float formats refuse, PNG and TIF go to the library.
  v.currentLayer().clear(true);
  for (const char* ext : {"FIT", "FDIB", "IFS"}) {
    ui.ExpectMessage(Format("%s not supported without floating point buffer.", ext));
    EXPECT_TRUE(SaveImageFile(v, Path(std::string("n.") + ext), 0));
  }
  imaging.saveCode = kImagingOk;
  EXPECT_FALSE(SaveImageFile(v, Path("n.png"), 0));
  EXPECT_EQ(imaging.saves.back(), Path("n.png"));

  // An empty window saves nothing and says so.
  CImageView empty(&host);
  ui.ExpectMessage("Problem Writing JPG File");
  EXPECT_TRUE(SaveImageFile(empty, Path("e.jpg"), 0));
  EXPECT_FALSE(fs::exists(Path("e.jpg")));
}

TEST_F(ImageFileTest, TiffDepthChoosesTheWriter) {
  CImageView v(&host);
  Fill(v, 4, 3);
  LiveSettings().file.tiffBitDepth = 8;
  EXPECT_FALSE(SaveImageFile(v, Path("eight.tif"), 0));
  EXPECT_EQ(imaging.saves.size(), 1u);
  LiveSettings().file.tiffBitDepth = 16;
  EXPECT_FALSE(SaveImageFile(v, Path("sixteen.tif"), 0));
  EXPECT_EQ(imaging.saves.size(), 1u);
  CImageView w(&host);
  EXPECT_FALSE(OpenImageFile(w, Path("sixteen.tif"), 0, false));
  EXPECT_TRUE(imaging.loads.empty());  // the own reader took it
  EXPECT_EQ(w.currentLayer().plane[1].x[5], 25.0f);
}

TEST_F(ImageFileTest, OpenAndSaveDialogs) {
  fpbuffer image(3, 2, 0x17);
  ASSERT_EQ(WritePng(image, Path("d.png"), 8, 1), nullptr);
  CImageView v(&host);
  ui.ExpectOpenDialog({true, Path("d.png"), 2, true});
  EXPECT_TRUE(v.Dispatch(CommandId::OpenImage));
  EXPECT_EQ(ui.fileDialogs.back().filter, kFilterWithFloat);
  EXPECT_EQ(v.filterIndex, 2);
  EXPECT_TRUE(v.filePresent);
  EXPECT_EQ(v.filePath, Path("d.png"));
  EXPECT_EQ(v.currentLayer().width, 3);

  // A name without an extension gets the selected filter's.
  struct Case {
    int filter;
    bool withFloat;
    const char* ext;
  };
  for (const Case& c : {Case{6, true, "fit"}, Case{1, true, "png"}, Case{7, true, "fdib"},
                        Case{6, false, "ifs"}, Case{3, false, "jpg"}}) {
    EXPECT_STREQ(DefaultSaveExtension(c.filter, c.withFloat), c.ext);
  }
  ui.ExpectSaveDialog({true, Path("saved"), 7, false});
  EXPECT_TRUE(v.Dispatch(CommandId::SaveImageAs));
  EXPECT_TRUE(fs::exists(Path("saved.fdib")));
  EXPECT_EQ(ui.fileDialogs.back().defaultExtension, "PNG");
  EXPECT_EQ(ui.fileDialogs.back().filterIndex, 2);
  EXPECT_EQ(v.filterIndex, 2);  // Save Image As does not change it
  ui.ExpectSaveDialog({true, Path("typed.fdib"), 3, true});
  EXPECT_TRUE(v.Dispatch(CommandId::SaveImageAs));
  EXPECT_TRUE(fs::exists(Path("typed.fdib")));  // a typed extension is kept
  ui.ExpectSaveDialog({});                      // cancelled: nothing happens
  EXPECT_TRUE(v.Dispatch(CommandId::SaveImageAs));

  // With Ctrl held the commands only become the current operation.
  Flags().CtrlHeld = true;
  EXPECT_TRUE(v.Dispatch(CommandId::OpenImage));
  EXPECT_EQ(v.f2OperationId, CommandId::OpenImage);
  Flags().CtrlHeld = true;
  EXPECT_TRUE(v.Dispatch(CommandId::Refresh));
  EXPECT_EQ(v.f2OperationId, CommandId::Refresh);

  // The short list when float buffers are off on read.
  LiveSettings().file.noFloatBuffersOnRead = 1;
  ui.ExpectOpenDialog({});
  EXPECT_TRUE(v.Dispatch(CommandId::OpenImage));
  EXPECT_EQ(ui.fileDialogs.back().filter, kFilterWithoutFloat);
}

// The dialogs' filter strings are literal data: they must list the table's dialog rows, in
// the table's order, each by its name and its pattern, and the entry of all formats must
// hold every listed pattern.
TEST(ImageFormatTable, TheDialogFiltersListTheTableRows) {
  for (const bool withFloat : {true, false}) {
    SCOPED_TRACE(withFloat);
    std::vector<std::string> parts;
    std::string part;
    for (const char c : std::string(withFloat ? kFilterWithFloat : kFilterWithoutFloat)) {
      if (c != '|') {
        part += c;
        continue;
      }
      parts.push_back(part);
      part.clear();
    }
    EXPECT_TRUE(part.empty());  // the string ends with its separator
    const std::vector<const ImageFormat*> rows = DialogFormats(withFloat);
    ASSERT_EQ(parts.size(), 2 * (rows.size() + 1));
    std::string names;
    for (size_t k = 0; k < rows.size(); ++k) {
      const ImageFormat& row = *rows[k];
      std::string pattern = std::string("*.") + row.saveExtension;
      for (char& c : pattern) c = char(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(parts[2 + 2 * k], row.name);
      EXPECT_EQ(parts[3 + 2 * k], pattern);
      EXPECT_NE(parts[1].find(pattern + ";"), std::string::npos) << pattern;
      EXPECT_EQ(&FindImageFormat(pattern.substr(1)), &row);
      names += (k ? ", " : "") + std::string(row.name);
    }
    EXPECT_EQ(parts[0], names);
  }
  // The short list's extra ';' closes its patterns: an empty pattern the dialogs skip.
  EXPECT_NE(std::string(kFilterWithoutFloat).find("*.ifs;|"), std::string::npos);
  EXPECT_EQ(DialogFilter(true), std::string(kFilterWithFloat).substr(0, 170));
  EXPECT_EQ(DialogFilter(false), kFilterWithoutFloat);
}

TEST(ImageFormatTable, ExtensionsFindTheirRowsAndEveryOtherOneTheLibrary) {
  const ImageFormat& library = FindImageFormat(".gif");
  EXPECT_EQ(library.open, OpenLibraryFile);
  EXPECT_TRUE(library.extensions.empty());
  for (const char* other : {"", ".", ".jpeg", ".tiff", ".png.bak", ".FITZ"}) {
    EXPECT_EQ(&FindImageFormat(other), &library) << other;
  }
  EXPECT_EQ(FindImageFormat(".Fts").open, OpenFitsFile);
  EXPECT_EQ(FindImageFormat(".jpg").describe, DescribeJpeg);
  EXPECT_EQ(FindImageFormat(".BMP").open, OpenLibraryFile);  // listed, read by the library
  EXPECT_EQ(FindImageFormat(".ifs").optionsPage, kIfsOptionsPage);
}

namespace {
// A codec registered from outside: it records its calls and reads a 2 x 2 image.
std::vector<std::string> registeredCalls;
bool OpenRegistered(ImageOpener& o) {
  registeredCalls.push_back("open " + o.extension());
  o.view().currentLayer().dim(2, 2, 0x17);
  return o.FloatEnding();
}
bool SaveRegistered(CImageView&, const std::string& path, int mode) {
  registeredCalls.push_back("save " + path.substr(path.size() - 4) + " " + std::to_string(mode));
  return false;
}
}  // namespace

TEST_F(ImageFileTest, ARegisteredFormatTakesItsExtensionsInPlaceOfTheDefaultRow) {
  const ImageFormat saved = FindImageFormat(".ifs");
  ImageFormat row = saved;
  row.open = OpenRegistered;
  row.save = SaveRegistered;
  RegisterImageFormat(row);
  ImageFormat extra = row;
  extra.name = "Extra";
  extra.extensions = {".XTR"};
  extra.saveExtension = nullptr;  // not in the dialogs
  RegisterImageFormat(extra);
  WriteSizedFile(Path("a.IFS"), 10);
  WriteSizedFile(Path("b.xtr"), 10);
  CImageView v(&host);
  const bool openedIfs = OpenImageFile(v, Path("a.IFS"), 0, false);
  const bool openedExtra = OpenImageFile(v, Path("b.xtr"), 0, false);
  const bool savedIfs = SaveImageFile(v, Path("c.ifs"), -1);
  const std::vector<const ImageFormat*> listed = DialogFormats(true);
  const ImageFormat& library = FindImageFormat(".gif");
  RegisterImageFormat(saved);  // the rest of the tests see the default row again

  EXPECT_FALSE(openedIfs);
  EXPECT_FALSE(openedExtra);
  EXPECT_FALSE(savedIfs);
  EXPECT_EQ(registeredCalls, (std::vector<std::string>{"open .IFS", "open .xtr", "save .ifs -1"}));
  EXPECT_EQ(v.filePath, Path("b.xtr"));
  EXPECT_EQ(v.currentLayer().width, 2);
  EXPECT_EQ(listed.size(), 7u);  // the dialogs keep their rows and order
  EXPECT_STREQ(listed.back()->name, "IFS");
  EXPECT_TRUE(library.extensions.empty());  // the library stays last
  EXPECT_TRUE(imaging.loads.empty());
  EXPECT_TRUE(imaging.saves.empty());
}

TEST_F(ImageFileTest, MoveToRecycleBinNeverDeletes) {
  fpbuffer image(3, 2, 0x17);
  ASSERT_EQ(WritePng(image, Path("t.png"), 8, 1), nullptr);
  CImageView v(&host);
  EXPECT_FALSE(v.QueryCommand(CommandId::MoveToRecycleBin).enabled);
  EXPECT_FALSE(v.QueryCommand(CommandId::Refresh).enabled);
  ui.ExpectOpenDialog({true, Path("t.png"), 1, true});
  v.Dispatch(CommandId::OpenImage);
  ASSERT_TRUE(v.filePresent);

  // No trash: the file stays where it is.
  ui.ExpectMessage(Path("t.png") +
                   " could not be moved to the trash. The file has not been deleted.");
  v.Dispatch(CommandId::MoveToRecycleBin);
  EXPECT_TRUE(fs::exists(Path("t.png")));
  EXPECT_TRUE(v.filePresent);

  fs::create_directory(home / "trash");
  ui.trashFolder = (home / "trash").string();
  v.Dispatch(CommandId::MoveToRecycleBin);
  EXPECT_TRUE(fs::exists(home / "trash" / "t.png"));
  EXPECT_FALSE(v.filePresent);
  EXPECT_EQ(v.filePath, "");
  EXPECT_EQ(v.currentLayer().width, 3);  // the image stays in the window
  EXPECT_FALSE(v.QueryCommand(CommandId::Refresh).enabled);
}

TEST_F(ImageFileTest, CommandLineOpenRemovesQuotesAndRunsOnce) {
  fpbuffer image(3, 2, 0x17);
  ASSERT_EQ(WritePng(image, Path("c l.png"), 8, 1), nullptr);
  CommandLine() = "\"" + Path("c l.png") + "\"";
  CImageView v(&host);
  v.Dispatch(CommandId::CommandLineOpen);
  EXPECT_TRUE(v.filePresent);
  EXPECT_EQ(v.filePath, Path("c l.png"));
  CImageView w(&host);
  w.Dispatch(CommandId::CommandLineOpen);  // once per process
  EXPECT_FALSE(w.filePresent);
  CommandLine().clear();
}

TEST_F(ImageFileTest, NoFloatOptionAndFileInformation) {
  CImageView v(&host);
  v.Dispatch(CommandId::NoFloatingPointBuffersOnRead);
  EXPECT_EQ(LiveSettings().file.noFloatBuffersOnRead, 1);
  EXPECT_EQ(v.QueryCommand(CommandId::NoFloatingPointBuffersOnRead).checked, 1);
  EXPECT_EQ(host.popdowns, std::vector<int>{1});
  v.Dispatch(CommandId::NoFloatingPointBuffersOnRead);
  EXPECT_EQ(LiveSettings().file.noFloatBuffersOnRead, 0);

  fpbuffer image(3, 2, 0x17);
  ASSERT_EQ(WritePng(image, Path("i.png"), 8, 1), nullptr);
  OpenImageFile(v, Path("i.png"), 0, false);
  ui.ExpectMessageStartingWith("\nUsed FDIB to load file.\nWidth = 3, Height = 2");
  v.Dispatch(CommandId::FileInformation);
  EXPECT_EQ(ui.messages.back().caption, Path("i.png"));
  EXPECT_TRUE(ui.messages.back().style.notice);  // information, not a failure
}

TEST_F(ImageFileTest, SlotsStoreRecallCombineAndDelete) {
  CImageView v(&host);
  Fill(v, 3, 2);
  v.currentLayer().plane[2].x[4] = -1.25e-7f;
  v.currentLayer().clearmask();
  v.currentLayer().mask.setbit(5, true);
  const fpbuffer original(v.currentLayer());
  v.Dispatch(CommandId::StoreZep3Fdib);  // Store 3
  ASSERT_TRUE(fs::exists(home / "ZEP3.FDIB"));
  EXPECT_EQ(fs::file_size(home / "ZEP3.FDIB"), 92u);

  // Recall into a window in another space: bit-exact, with code and mask, and the other
  // layer follows into the recalled space.
  CImageView w(&host);
  Fill(w, 5, 5);
  w.currentLayer().convert(0x20000 | 7);
  w.otherLayer().dim(2, 2, 0x20000 | 7);
  w.otherLayer().plane[0].fill(100.0f);
  w.Dispatch(CommandId::RecallZep3Fdib);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(std::memcmp(w.currentLayer().plane[c].x, original.plane[c].x, 6 * sizeof(float)), 0);
  }
  EXPECT_EQ(w.currentLayer().code, 0x17u);
  EXPECT_TRUE(w.currentLayer().mask.getbit(5));
  EXPECT_EQ(w.otherLayer().code, 0x17u);
  EXPECT_EQ(w.currentBitmap().width(), 3);

  // An empty slot: the message with its name, nothing changed.
  ui.ExpectMessage("ZEP7.FDIB");
  w.Dispatch(CommandId::RecallZep7Fdib);
  EXPECT_EQ(ui.messages.back().caption, "Problem reading!");
  EXPECT_EQ(w.currentLayer().width, 3);

  v.Dispatch(CommandId::StoreZep1Fdib);  // Store 1, then add it to itself
  v.Dispatch(CommandId::AddZep1Fdib);
  EXPECT_EQ(v.currentLayer().plane[1].x[3], 2 * original.plane[1].x[3]);
  v.Dispatch(CommandId::SubtractZep1Fdib);
  EXPECT_EQ(v.currentLayer().plane[1].x[3], original.plane[1].x[3]);
  CImageView other(&host);
  Fill(other, 4, 4);
  ui.ExpectMessage("Problem adding ZEP1.FDIB!");
  other.Dispatch(CommandId::AddZep1Fdib);
  EXPECT_TRUE(Untouched(other, 4, 4));
  ui.ExpectMessage("Problem subtracting ZEP2.FDIB!");
  other.Dispatch(CommandId::SubtractZep2Fdib);
  // A stored image of the same size but other planes is not combined either.
  Fill(other, 3, 2);
  other.currentLayer().convert(0x2000 | 7);
  const float before = other.currentLayer().plane[0].x[2];
  ui.ExpectMessage("Problem adding ZEP1.FDIB!");
  other.Dispatch(CommandId::AddZep1Fdib);
  EXPECT_EQ(other.currentLayer().plane[0].x[2], before);

  std::ofstream(home / "zep42.fdib") << "x";
  std::ofstream(home / "ZEPHYR.txt") << "x";
  std::ofstream(home / "keep.FDIB") << "x";
  v.Dispatch(CommandId::DeleteAllScratchFiles);
  EXPECT_FALSE(fs::exists(home / "ZEP1.FDIB"));
  EXPECT_FALSE(fs::exists(home / "ZEP3.FDIB"));
  EXPECT_FALSE(fs::exists(home / "zep42.fdib"));
  EXPECT_TRUE(fs::exists(home / "ZEPHYR.txt"));
  EXPECT_TRUE(fs::exists(home / "keep.FDIB"));
}

TEST_F(ImageFileTest, AFailedOpenChangesNothingSoTheTrashTakesTheWindowsFile) {
  fpbuffer image(3, 2, 0x17);
  ASSERT_EQ(WritePng(image, Path("good.png"), 8, 1), nullptr);
  std::ofstream(Path("bad.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n broken";
  CImageView v(&host);
  ui.ExpectOpenDialog({true, Path("good.png"), 1, true});
  v.Dispatch(CommandId::OpenImage);
  ASSERT_TRUE(v.filePresent);
  const std::string title = v.frameTitle, info = v.fileInfo.text;
  v.otherLayer().dim(2, 2, 0x17);
  v.otherLayer().plane[0].fill(9.0f);
  imaging.loadCode = kImagingInvalidData;
  for (uint8_t noFloat : {0, 1}) {
    LiveSettings().file.noFloatBuffersOnRead = noFloat;
    ui.ExpectOpenDialog({true, Path("bad.png"), 1, true});
    ui.ExpectMessage("Load image failed:\n3 - The file is damaged or not an image.");
    v.Dispatch(CommandId::OpenImage);
    ui.ExpectOpenDialog({true, Path("gone.png"), 1, true});
    ui.ExpectMessage("File Doesn't Exist");
    v.Dispatch(CommandId::OpenImage);
    const std::string what = noFloat ? "without float buffers" : "with float buffers";
    EXPECT_EQ(v.filePath, Path("good.png")) << what;
    EXPECT_EQ(v.frameTitle, title) << what;
    EXPECT_EQ(host.title, title) << what;
    EXPECT_EQ(v.fileInfo.text, info) << what;
    EXPECT_EQ(v.currentLayer().width, 3) << what;  // both float images stay
    EXPECT_EQ(v.otherLayer().plane[0].x[3], 9.0f) << what;
  }
  fs::create_directory(home / "trash");
  ui.trashFolder = (home / "trash").string();
  v.Dispatch(CommandId::MoveToRecycleBin);
  EXPECT_TRUE(fs::exists(home / "trash" / "good.png"));
  EXPECT_TRUE(fs::exists(Path("bad.png")));
}

TEST_F(ImageFileTest, PipesFoldersAndDevicesAreNeverOpened) {
  // Should a read wait on a pipe after all, the alarm ends the run instead of hanging it.
  alarm(60);
  fpbuffer image(3, 2, 0x17);
  CImageView v(&host);
  Fill(v, 4, 3);
  std::vector<std::string> names;
  for (const char* ext : {"png", "jpg", "tif", "fit", "fts", "fdib", "bmp", "ifs"}) {
    const std::string pipe = Path(std::string("pipe.") + ext);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directory(Path(std::string("folder.") + ext));
    names.push_back(pipe);
    names.push_back(Path(std::string("folder.") + ext));
  }
  names.push_back("/dev/null");
  for (const std::string& name : names) {
    ui.ExpectMessage("Not a Regular File");
    EXPECT_TRUE(OpenImageFile(v, name, 0, false)) << name;
    EXPECT_EQ(ui.messages.back().caption, name);
    EXPECT_TRUE(Untouched(v, 4, 3)) << name;
  }
  EXPECT_TRUE(imaging.loads.empty());

  // The readers on their own refuse them too, without waiting.
  const std::string pipe = Path("pipe.png");
  ImageFileInfo info;
  LoadPng(image, pipe, info);
  EXPECT_STREQ(info.message, "Problem Opening File!");
  EXPECT_TRUE(ReadJpegInfo(Path("pipe.jpg"), info));
  EXPECT_EQ(ReadTiffFloat(image, Path("pipe.tif")), kTiffDeclined);
  EXPECT_NE(ReadFits(image, Path("pipe.fit"), info), nullptr);
  EXPECT_TRUE(image.read(Path("pipe.fdib"), false));
  EXPECT_EQ(image.width, 3);

  // The numbered slots: recall, add and subtract.
  ASSERT_EQ(mkfifo((home / "ZEP3.FDIB").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((home / "ZEP1.FDIB").c_str(), 0600), 0);
  fs::create_directory(home / "ZEP2.FDIB");
  const struct {
    int id;
    const char* name;
  } slots[] = {{int(CommandId::RecallZep3Fdib), "ZEP3.FDIB"},
               {int(CommandId::RecallZep1Fdib), "ZEP1.FDIB"},
               {int(CommandId::AddZep1Fdib), "ZEP1.FDIB"},
               {int(CommandId::SubtractZep2Fdib), "ZEP2.FDIB"}};
  for (const auto& slot : slots) {
    ui.ExpectMessage(std::string(slot.name) + " is not a regular file.");
    v.Dispatch(slot.id);
    EXPECT_EQ(ui.messages.back().caption, "Problem reading!");
    EXPECT_TRUE(Untouched(v, 4, 3)) << slot.id;
  }
  alarm(0);
}

TEST_F(ImageFileTest, TheWholeImageMustFitTheMemoryBeforeAnythingIsDecoded) {
  // 1000 x 1000: a bitmap of 3 MB, float planes of 4 MB each, a 16-bit PNG decodes through
  // 6 MB. With the memory given here every allocation fits on its own, and each reader's
  // earlier checks of some of them together passed; the whole image does not fit.
  fpbuffer big(1000, 1000, 0x17);
  for (int c = 0; c < 3; ++c) big.plane[c].ramp(float(c), 0.0001f);
  ASSERT_EQ(WritePng(big, Path("big.png"), 16, 1), nullptr);
  ASSERT_EQ(WriteTiffFloat(big, Path("big.tif"), false), nullptr);
  ASSERT_EQ(WriteFits(big, Path("big.fit"), 16, 0), nullptr);
  const DisplayBitmap bitmap(1000, 1000);
  ASSERT_FALSE(WriteJpeg(Path("big.jpg"), bitmap.toprow(), 1000, 1000, 80, 3));
  const struct {
    const char* name;
    uint64_t available;
  } cases[] = {{"big.png", 19'000'000},
               {"big.jpg", 14'000'000},
               {"big.tif", 14'000'000},
               {"big.fit", 14'000'000}};
  CImageView v(&host);
  Fill(v, 4, 3);
  for (const auto& c : cases) {
    platform.memory.availPhys = c.available;
    ui.ExpectMessage("Out of Memory");
    EXPECT_TRUE(OpenImageFile(v, Path(c.name), 0, false)) << c.name;
    EXPECT_TRUE(Untouched(v, 4, 3)) << c.name;
    EXPECT_EQ(v.filePath, "") << c.name;
  }
  EXPECT_TRUE(imaging.loads.empty());  // nothing was handed on to the general library
  platform.memory.availPhys = 30'000'000;
  for (const auto& c : cases) {
    CImageView w(&host);
    EXPECT_FALSE(OpenImageFile(w, Path(c.name), 0, false)) << c.name;
    EXPECT_EQ(w.currentLayer().width, 1000) << c.name;
    EXPECT_EQ(w.currentBitmap().width(), 1000) << c.name;
  }
  // The general library is told what the float image will take: three planes of floats.
  CImageView w(&host);
  std::ofstream(Path("x.gif")) << "gif";
  EXPECT_FALSE(OpenImageFile(w, Path("x.gif"), 0, false));
  EXPECT_EQ(imaging.floatBytes.back(), 12u);
}

TEST_F(ImageFileTest, FitsFilesGoByThreeExtensionsInAnyCase) {
  CImageView v(&host);
  Fill(v, 4, 3);
  for (const char* name : {"a.fits", "b.FTS", "c.Fits", "d.fit"}) {
    EXPECT_FALSE(SaveImageFile(v, Path(name), 0)) << name;
    EXPECT_EQ(ReadBytes(Path(name)).substr(0, 6), "SIMPLE") << name;
    CImageView w(&host);
    EXPECT_FALSE(OpenImageFile(w, Path(name), 0, false)) << name;
    EXPECT_TRUE(Untouched(w, 4, 3)) << name;
    EXPECT_NE(w.fileInfo.text.find("FITS file"), std::string::npos) << name;
  }
  EXPECT_TRUE(imaging.loads.empty());
  EXPECT_TRUE(imaging.saves.empty());
  LiveSettings().file.noFloatBuffersOnRead = 1;
  ui.ExpectMessage("Can't read FIT without floating point buffers.");
  EXPECT_TRUE(OpenImageFile(v, Path("a.fits"), 0, false));
}

TEST_F(ImageFileTest, SaveAsKeepsTheCaseOfTheWindowFilesExtension) {
  fpbuffer image(3, 2, 0x17);
  ASSERT_EQ(WritePng(image, Path("name.png"), 8, 1), nullptr);
  ASSERT_EQ(WritePng(image, Path("shot.PNG"), 8, 1), nullptr);
  auto pngs = [this] {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(home)) {
      if (e.is_regular_file()) found.push_back(e.path().filename());
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  CImageView v(&host);
  ui.ExpectOpenDialog({true, Path("name.png"), 2, true});
  v.Dispatch(CommandId::OpenImage);
  v.currentLayer().plane[0].fill(77.0f);
  // The dialog proposes the window's name with the filter's extension.
  ui.ExpectSaveDialog({true, Path("name.PNG"), 2, true});
  v.Dispatch(CommandId::SaveImageAs);
  fpbuffer back;
  ImageFileInfo info;
  LoadPng(back, Path("name.png"), info);
  EXPECT_EQ(back.plane[0].x[0], 77.0f);

  // A name typed without an extension gets the filter's, in the case the file has.
  ui.ExpectOpenDialog({true, Path("shot.PNG"), 2, true});
  v.Dispatch(CommandId::OpenImage);
  ui.ExpectSaveDialog({true, Path("shot"), 2, false});
  v.Dispatch(CommandId::SaveImageAs);
  EXPECT_EQ(pngs(), (std::vector<std::string>{"name.png", "shot.PNG"}));

  // Another extension, or another name, is written as given.
  ui.ExpectSaveDialog({true, Path("shot.Fdib"), 7, true});
  v.Dispatch(CommandId::SaveImageAs);
  ui.ExpectSaveDialog({true, Path("other.PNG"), 2, true});
  v.Dispatch(CommandId::SaveImageAs);
  EXPECT_EQ(pngs(), (std::vector<std::string>{"name.png", "other.PNG", "shot.Fdib", "shot.PNG"}));
  EXPECT_EQ(KeepExtensionCase("/a/b.PNG", "/c/b.png"), "/a/b.PNG");  // another folder
  EXPECT_EQ(KeepExtensionCase("/a/b.PNG", ""), "/a/b.PNG");
}
