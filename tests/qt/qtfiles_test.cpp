// The general image library over Qt's readers and writers, reached through an image
// window's open and save, and the freedesktop trash.
#include "qt/qtfiles.h"
#include "qt/namefilters.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QImageWriter>
#include <QLineEdit>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "fileio/imagefile.h"
#include "fileio/png.h"
#include "fileio/rgbpixel.h"
#include "fileio/test_tiff.h"
#include "params/settings.h"
#include "qt/qtui.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {
class QtFilesTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    previous_ = SetImaging(&imaging_);
  }
  void TearDown() override {
    SetImaging(previous_);
    ZepTest::TearDown();
  }
  std::string Path(const std::string& name) { return (home / name).string(); }

  // A 7 x 5 picture of distinct colours (odd width: padded bitmap rows).
  static QImage Picture(QImage::Format format) {
    QImage image(7, 5, QImage::Format_ARGB32);
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) image.setPixel(x, y, qRgba(30 * x, 50 * y, 200 - 20 * x, 90));
    }
    return image.convertToFormat(format);
  }
  // Whether the window's layer holds the picture exactly (top row of the picture is the
  // layer's last row).
  static bool Holds(CImageView& v, const QImage& picture) {
    const fpbuffer& f = v.currentLayer();
    if (f.width != picture.width() || f.height != picture.height()) return false;
    for (int y = 0; y < f.height; ++y) {
      for (int x = 0; x < f.width; ++x) {
        const QRgb p = picture.pixel(x, y);
        const size_t k = size_t(f.height - 1 - y) * size_t(f.width) + size_t(x);
        if (f.plane[0].x[k] != qRed(p) || f.plane[1].x[k] != qGreen(p) ||
            f.plane[2].x[k] != qBlue(p)) {
          return false;
        }
      }
    }
    return true;
  }

  FakeHost host;

 private:
  QtImaging imaging_;
  ImagingLibrary* previous_ = nullptr;
};
}  // namespace

// A 32-bit BMP of the picture, written by hand: the header's fields, then bottom-up rows of
// blue, green, red and a fourth byte.
void WriteBmp32(const std::string& path, const QImage& picture) {
  const int w = picture.width(), h = picture.height();
  std::string b = "BM";
  auto put = [&b](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b += char((v >> (8 * i)) & 0xFF);
  };
  put(54 + 4 * w * h, 4), put(0, 4), put(54, 4);                    // file header
  put(40, 4), put(uint32_t(w), 4), put(uint32_t(h), 4), put(1, 2);  // info header
  put(32, 2), put(0, 4), put(4 * w * h, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const QRgb p = picture.pixel(x, y);
      b += char(qBlue(p)), b += char(qGreen(p)), b += char(qRed(p)), b += char(0x7F);
    }
  }
  std::ofstream(path, std::ios::binary) << b;
}

TEST_F(QtFilesTest, BmpOfTwentyFourAndThirtyTwoBitsLoadsAndPaletteIsRefused) {
  const QImage rgb = Picture(QImage::Format_RGB888);
  ASSERT_TRUE(rgb.save(QString::fromStdString(Path("rgb.bmp"))));
  const QImage other = Picture(QImage::Format_RGB888).mirrored(true, false);
  WriteBmp32(Path("deep.bmp"), other);
  ASSERT_TRUE(Picture(QImage::Format_Indexed8).save(QString::fromStdString(Path("palette.bmp"))));

  CImageView v(&host);
  ASSERT_FALSE(OpenImageFile(v, Path("rgb.bmp"), 0, false));
  EXPECT_TRUE(Holds(v, rgb));
  EXPECT_EQ(v.currentBitmap().width(), 7);
  ASSERT_FALSE(OpenImageFile(v, Path("deep.bmp"), 0, false));
  EXPECT_TRUE(Holds(v, other));  // the fourth byte dropped, the colours as they were

  ui.ExpectMessage("This .bmp subformat is not supported!");
  EXPECT_TRUE(OpenImageFile(v, Path("palette.bmp"), 0, false));
  EXPECT_TRUE(Holds(v, other));  // the window keeps its image

  // Saved through the library and read back: the same pixels.
  ASSERT_FALSE(SaveImageFile(v, Path("again.bmp"), 0));
  CImageView w(&host);
  ASSERT_FALSE(OpenImageFile(w, Path("again.bmp"), 0, false));
  EXPECT_TRUE(Holds(w, other));
}

TEST_F(QtFilesTest, OtherFormatsLoadThroughQtReaders) {
  const QImage rgb = Picture(QImage::Format_RGB888);
  ASSERT_TRUE(rgb.save(QString::fromStdString(Path("p.ppm"))));
  CImageView v(&host);
  ASSERT_FALSE(OpenImageFile(v, Path("p.ppm"), 0, false));
  EXPECT_TRUE(Holds(v, rgb));

  if (QImageWriter::supportedImageFormats().contains("webp")) {
    QImageWriter writer(QString::fromStdString(Path("p.webp")));
    writer.setQuality(100);  // lossless
    ASSERT_TRUE(writer.write(rgb));
    ASSERT_FALSE(OpenImageFile(v, Path("p.webp"), 0, false));
    EXPECT_TRUE(Holds(v, rgb));
  }
  if (fs::exists("/usr/bin/convert")) {
    // Qt writes no GIF; the picture has few enough colours to pass through one unchanged.
    ASSERT_EQ(std::system(("/usr/bin/convert " + Path("p.ppm") + " " + Path("p.gif")).c_str()), 0);
    ASSERT_FALSE(OpenImageFile(v, Path("p.gif"), 0, false));
    EXPECT_TRUE(Holds(v, rgb));
  }
  // An unknown or empty file is refused with the library's code and text.
  std::ofstream(Path("nothing.xyz")) << "not an image";
  ui.ExpectMessage("Load image failed:\n2 - The format of the file is not supported.");
  EXPECT_TRUE(OpenImageFile(v, Path("nothing.xyz"), 0, false));
  EXPECT_TRUE(Holds(v, rgb));
}

TEST_F(QtFilesTest, PngSuiteCorruptFilesThroughTheWindow) {
  const fs::path suite = TestData() / "pngsuite";
  ASSERT_TRUE(fs::exists(suite));
  CImageView v(&host);
  fpbuffer& f = v.currentLayer();
  f.dim(2, 2, 0x17);
  f.plane[0].x[0] = 42.0f;
  v.currentBitmap() = DisplayBitmap(2, 2);
  for (const auto& entry : fs::directory_iterator(suite)) {
    const std::string name = entry.path().filename().string();
    if (name[0] != 'x') continue;
    ui.ExpectMessageStartingWith("Load image failed:\n");
    EXPECT_TRUE(OpenImageFile(v, entry.path().string(), 0, false)) << name;
    ASSERT_EQ(v.currentLayer().width, 2) << name;
    EXPECT_EQ(v.currentLayer().plane[0].x[0], 42.0f) << name;
    EXPECT_EQ(v.currentBitmap().width(), 2) << name;
  }
}

TEST_F(QtFilesTest, TruncatedJpegChangesNothing) {
  const QImage rgb = Picture(QImage::Format_RGB888).scaled(64, 48);
  ASSERT_TRUE(rgb.save(QString::fromStdString(Path("whole.jpg")), "JPG", 90));
  const std::string bytes = ReadBytes(Path("whole.jpg"));
  std::ofstream(Path("cut.jpg"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  CImageView v(&host);
  const QImage small = Picture(QImage::Format_RGB888);
  ASSERT_TRUE(small.save(QString::fromStdString(Path("small.ppm"))));
  ASSERT_FALSE(OpenImageFile(v, Path("small.ppm"), 0, false));
  ui.ExpectMessageStartingWith("Load image failed:\n");
  EXPECT_TRUE(OpenImageFile(v, Path("cut.jpg"), 0, false));
  EXPECT_TRUE(Holds(v, small));
  // The whole file under a name the own reader does not take is Qt's, and complete.
  fs::copy_file(Path("whole.jpg"), Path("whole.jpeg"));
  ASSERT_FALSE(OpenImageFile(v, Path("whole.jpeg"), 0, false));
  EXPECT_EQ(v.currentLayer().width, 64);
}

TEST_F(QtFilesTest, TrashTakesTheFileAndGivesItBack) {
  const fs::path data = home / "xdg";
  fs::create_directories(data);
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string previous = saved ? saved : "";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  std::ofstream(Path("gone.png")) << "bytes";
  EXPECT_TRUE(MoveFileToTrash(Path("gone.png")));
  EXPECT_FALSE(fs::exists(Path("gone.png")));
  EXPECT_TRUE(fs::exists(data / "Trash" / "files" / "gone.png"));
  EXPECT_FALSE(MoveFileToTrash(Path("never.png")));
  if (saved) {
    setenv("XDG_DATA_HOME", previous.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

TEST_F(QtFilesTest, FilterStringsBecomeNameFilters) {
  const QStringList filters = NameFilters(kFilterWithoutFloat);
  ASSERT_EQ(filters.size(), 6);
  EXPECT_EQ(filters[0], QStringLiteral("PNG, JPG, TIF, BMP, IFS (*.PNG *.png *.JPG *.jpg *.TIF "
                                       "*.tif *.BMP *.bmp *.IFS *.ifs)"));
  EXPECT_EQ(filters[5], QStringLiteral("IFS (*.IFS *.ifs)"));
  const QStringList withFloat = NameFilters(kFilterWithFloat);
  ASSERT_EQ(withFloat.size(), 8);
  // FITS files go by three extensions.
  EXPECT_EQ(withFloat[5], QStringLiteral("FIT (*.FIT *.fit *.FITS *.fits *.FTS *.fts)"));
  EXPECT_EQ(withFloat[0], QStringLiteral("PNG, JPG, TIF, BMP, FIT, FDIB, IFS (*.PNG *.png *.JPG "
                                         "*.jpg *.TIF *.tif *.BMP *.bmp *.FIT *.fit *.FITS "
                                         "*.fits *.FTS *.fts *.FDIB *.fdib *.IFS *.ifs)"));
}

TEST_F(QtFilesTest, QtFileDialogsReportPathFilterAndTypedExtension) {
  QWidget owner;
  QtUi qtui(&owner, nullptr);
  std::ofstream(Path("pick.png")) << "x";
  // Plays the user: picks a filter and a name in the dialog once it shows.
  auto user = [&owner](int filter, const std::string& name) {
    QTimer::singleShot(0, &owner, [&owner, filter, name] {
      QFileDialog* dialog = nullptr;
      for (QFileDialog* d : owner.findChildren<QFileDialog*>()) {
        if (d->isVisible()) dialog = d;
      }
      ASSERT_NE(dialog, nullptr);
      const fs::path path(name);
      dialog->selectNameFilter(dialog->nameFilters()[filter - 1]);
      dialog->setDirectory(QString::fromStdString(path.parent_path().string()));
      // Typed, as a user does: selectFile leaves the name field alone once it has the focus.
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
          ->setText(QString::fromStdString(path.filename().string()));
      QMetaObject::invokeMethod(dialog, "accept");
      // Should the dialog refuse the choice, the test fails instead of waiting for ever.
      QTimer::singleShot(2000, &owner, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          if (w->isVisible() && w->isModal()) {
            ADD_FAILURE() << "still open: " << w->metaObject()->className() << " "
                          << w->windowTitle().toStdString();
            w->close();
          }
        }
      });
    });
  };
  user(2, Path("pick.png"));
  const FileDialogAnswer open = qtui.OpenFileDialog({kFilterWithFloat, 2, Path("pick.png"), ""});
  EXPECT_TRUE(open.ok);
  EXPECT_EQ(open.path, Path("pick.png"));
  EXPECT_EQ(open.filterIndex, 2);
  EXPECT_TRUE(open.extensionTyped);

  user(6, Path("fresh"));
  const FileDialogAnswer save = qtui.SaveFileDialog({kFilterWithFloat, 1, "", "PNG"});
  EXPECT_TRUE(save.ok);
  EXPECT_EQ(save.path, Path("fresh"));  // no extension added: the caller chooses it
  EXPECT_EQ(save.filterIndex, 6);
  EXPECT_FALSE(save.extensionTyped);
}

TEST_F(QtFilesTest, PixelDataMissingFromTheFileIsNeverShown) {
  const QImage rgb = Picture(QImage::Format_RGB888);
  ASSERT_TRUE(rgb.save(QString::fromStdString(Path("whole.bmp"))));
  const std::string whole = ReadBytes(Path("whole.bmp"));
  // 7 pixels of 24 bits: rows of 24 bytes, the pixel data from byte 54 on.
  auto patched = [&whole](size_t at, int32_t value) {
    std::string b = whole;
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char((uint32_t(value) >> (8 * i)) & 0xFF);
    return b;
  };
  std::ofstream(Path("cut.bmp"), std::ios::binary) << whole.substr(0, whole.size() - 30);
  std::ofstream(Path("offset.bmp"), std::ios::binary) << patched(10, 5000);
  std::ofstream(Path("topdown.bmp"), std::ios::binary)
      << patched(22, -5).substr(0, whole.size() - 1);
  std::ofstream(Path("deep.bmp"), std::ios::binary) << patched(28, 32);  // 32 bits, 24 bits' data

  // Deep samples in separate planes under a name the own reader does not take.
  ASSERT_TRUE(WriteTestTiff(Path("planes.tiff"), 2, 1, 16, 3, true));

  CImageView v(&host);
  ASSERT_FALSE(OpenImageFile(v, Path("whole.bmp"), 0, false));
  const std::string title = v.frameTitle;
  for (const char* name : {"cut.bmp", "offset.bmp", "topdown.bmp", "deep.bmp"}) {
    ui.ExpectMessage(
        "Load image failed:\n8 - The file ends before the image data its header "
        "declares.");
    EXPECT_TRUE(OpenImageFile(v, Path(name), 0, false)) << name;
    EXPECT_TRUE(Holds(v, rgb)) << name;
    EXPECT_EQ(v.currentBitmap().width(), 7) << name;
    EXPECT_EQ(v.frameTitle, title) << name;
  }
  ui.ExpectMessage("Load image failed:\n2 - The format of the file is not supported.");
  EXPECT_TRUE(OpenImageFile(v, Path("planes.tiff"), 0, false));
  EXPECT_TRUE(Holds(v, rgb));
  // The same file under the own reader's name is read, every plane.
  fs::copy_file(Path("planes.tiff"), Path("planes.tif"));
  ASSERT_FALSE(OpenImageFile(v, Path("planes.tif"), 0, false));
  EXPECT_EQ(v.currentLayer().plane[2].x[1], FromWordSample(uint16_t(TestTiffSample(1, 0, 2))));
}

TEST_F(QtFilesTest, TheWholePictureMustFitTheMemoryBeforeQtDecodesIt) {
  // 1000 x 1000: Qt's picture and its 32-bit copy of 4 MB each, a bitmap of 3 MB, float
  // planes of 4 MB each; every one fits in 8 MB, all of them do not.
  QImage big(1000, 1000, QImage::Format_RGB888);
  big.fill(qRgb(10, 20, 30));
  ASSERT_TRUE(big.save(QString::fromStdString(Path("big.bmp"))));
  const QImage rgb = Picture(QImage::Format_RGB888);
  ASSERT_TRUE(rgb.save(QString::fromStdString(Path("small.bmp"))));
  CImageView v(&host);
  ASSERT_FALSE(OpenImageFile(v, Path("small.bmp"), 0, false));
  platform.memory.availPhys = 8'000'000;
  for (uint8_t noFloat : {0, 1}) {
    LiveSettings().file.noFloatBuffersOnRead = noFloat;
    ui.ExpectMessage("Out of Memory");
    EXPECT_TRUE(OpenImageFile(v, Path("big.bmp"), 0, false));
    EXPECT_EQ(v.currentBitmap().width(), 7);
    LiveSettings().file.noFloatBuffersOnRead = 0;
    EXPECT_TRUE(Holds(v, rgb));
  }
  platform.memory.availPhys = 30'000'000;
  ASSERT_FALSE(OpenImageFile(v, Path("big.bmp"), 0, false));
  EXPECT_EQ(v.currentLayer().plane[2].x[999999], 30.0f);
}

// Formats written by the Qt writers replace a file as every other format does: its mode
// stays, a link stays a link, and a write-protected file is left as it was.
TEST_F(QtFilesTest, SavingThroughQtReplacesTheFileAsEveryFormatDoes) {
  QtImaging imaging;
  DisplayBitmap bitmap(7, 5);
  const std::string target = Path("p.bmp");
  std::ofstream(target) << "old";
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(target, Path("link.bmp"));
  ASSERT_EQ(imaging.Save(Path("link.bmp"), bitmap), kImagingOk);
  EXPECT_TRUE(fs::is_symlink(Path("link.bmp")));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadBytes(target).substr(0, 2), "BM");

  const std::string kept = Path("kept.bmp");
  std::ofstream(kept) << "old";
  fs::permissions(kept, fs::perms::owner_read);
  ui.ExpectMessage(kept + " is write-protected; it was not replaced.");
  EXPECT_EQ(imaging.Save(kept, bitmap), kImagingWriteFailed);
  EXPECT_EQ(ReadBytes(kept), "old");
  for (const auto& entry : fs::directory_iterator(home)) {
    EXPECT_NE(entry.path().filename().string().rfind(".zep-", 0), 0u) << entry.path();
  }
}
