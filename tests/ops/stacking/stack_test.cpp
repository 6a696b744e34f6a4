// Stacking through the dispatcher of a real window: file order and skips, the modes built
// so far, the raw scratch files and every way a run can end early.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "app/menus.h"
#include "fileio/png.h"
#include "ops/stacking/stack.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {
using Id = CommandId;
constexpr const char* kRead = "Aborted because of problem reading this file.";
constexpr const char* kWrite = "Aborted because of problem writing this file.";
const std::string kSkipped =
    "These %d files were skipped because their image dimensions did not match those of the "
    "first file loaded:\n";

class StackTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    // The window's image before the command: every test checks what is left of it.
    fpbuffer& layer = v.currentLayer();
    layer.dim(6, 4, cspace::kDefault);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < layer.n; ++k) layer.plane[c].x[k] = float(3 * k + 50 * c) + 0.5f;
    }
    layer.mask.dim(6, 4);
    layer.mask.setbit(5, true);
    v.currentBitmap() = DisplayBitmap(6, 4);
    layer.todib(v.currentBitmap().toprow());
    v.filePath = "before.png";
  }
  StackParams& P() { return LiveSettings().stack; }

  // An 8-bit PNG of w x h: channel c of pixel k is f(c, k).
  template <class F>
  std::string Png(const std::string& name, int w, int h, F f) {
    fpbuffer image(w, h, cspace::kDefault);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < image.n; ++k) image.plane[c].x[k] = float(f(c, k));
    }
    const std::string path = (home / name).string();
    EXPECT_EQ(WritePng(image, path, 8, 1), nullptr);
    return path;
  }
  std::string Flat(const std::string& name, int w, int h, int value) {
    return Png(name, w, h, [value](int, int) { return value; });
  }

  // Runs the command on the files picked, expecting these messages afterwards.
  void Stack(const std::vector<std::string>& picked,
             const std::vector<std::string>& messages = {}) {
    ui.ExpectOpenFilesDialog(FileListAnswer{true, picked});
    for (const std::string& m : messages) ui.ExpectMessage(m);
    v.Dispatch(Id::Stacking);
    ui.VerifyAllAnswered();
  }

  // The float image, mask and bitmap as bytes, to see that nothing changed.
  std::string Window() {
    fpbuffer& layer = v.currentLayer();
    std::string bytes = std::to_string(layer.width) + "x" + std::to_string(layer.height);
    for (int c = 0; c < layer.channels; ++c) {
      bytes.append(reinterpret_cast<const char*>(layer.plane[c].x), 4 * size_t(layer.n));
    }
    for (int k = 0; k < layer.n; ++k)
      bytes += layer.mask.present() && layer.mask.getbit(k) ? '1' : '0';
    const DisplayBitmap& b = v.currentBitmap();
    if (!b.empty()) bytes.append(reinterpret_cast<const char*>(b.data()), size_t(b.bytes()));
    return bytes + v.filePath;
  }

  // The names in the scratch folder.
  static std::vector<std::string> Scratch() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(ScratchDirectory()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::vector<std::string> StatusTexts() {
    std::vector<std::string> texts;
    for (const auto& [pane, text] : ui.paneHistory) {
      if (pane == 4 && (texts.empty() || texts.back() != text) &&
          (text.rfind("Writing", 0) == 0 || text.rfind("Processed", 0) == 0 ||
           text.find("Processing") != std::string::npos))
        texts.push_back(text);
    }
    return texts;
  }

  FakeHost host;
  CImageView v{&host};
};

std::string Skipped(int count, const std::vector<std::string>& paths) {
  std::string text = kSkipped;
  text.replace(text.find("%d"), 2, std::to_string(count));
  for (const std::string& p : paths) text += "\n" + p;
  return text;
}
}  // namespace

TEST_F(StackTest, TheCommandIsOnTheStackingMenuAndNeedsFloatImagesOnRead) {
  const CommandDescriptor* d = CommandDescriptorOf(int(Id::Stacking));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->menu, Menu::Stacking);
  EXPECT_STREQ(d->caption, "Stacking (Regular and Modified)");
  EXPECT_STREQ(d->name, "Stack");
  EXPECT_TRUE(v.QueryMenuItem(Id::Stacking).enabled);
  LiveSettings().file.noFloatBuffersOnRead = 1;
  EXPECT_FALSE(v.QueryMenuItem(Id::Stacking).enabled);
  v.Dispatch(Id::Stacking);  // dropped: no dialog comes
  EXPECT_TRUE(ui.fileDialogs.empty());
}

TEST_F(StackTest, StatusTexts) {
  struct Case {
    int mode, k, total, skipped;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, 3, 0, "Processed 1 of 3"},
      {4, 1, 2, 1, "Processed 2 of 2 (1 skipped)"},
      {1, 0, 5, 0, "Writing Temporary File 1 of 5"},
      {5, 2, 4, 2, "Writing Temporary File 3 of 4 (2 skipped)"},
      {7, 0, 2, 0, "Writing Temporary File 1 of 2"},
      {8, 1, 3, 0, "Processing 2 of 3"},
      {8, 1, 3, 1, "Processing 2 of 3 (1 skipped)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ops::stacking::StackStatusText(c.mode, c.k, c.total, c.skipped), c.text);
}

// A, B, C, D picked in that order are loaded B, C, D, A; B's size is the stack's, so C and
// A are skipped and listed, and the totals shrink as they go.
TEST_F(StackTest, OrderSkipsAndStatus) {
  const std::string a = Flat("a.png", 4, 3, 1), b = Flat("b.png", 5, 3, 10),
                    c = Flat("c.png", 4, 3, 2), d = Flat("d.png", 5, 3, 30);
  struct Case {
    int mode;
    std::vector<std::string> status;
  };
  const Case cases[] = {
      {0, {"Processed 1 of 4", "Processed 2 of 3 (1 skipped)"}},
      {1,
       {"Writing Temporary File 1 of 4", "Writing Temporary File 2 of 3 (1 skipped)",
        "Now Processing 2 Temporary Files", "Completed Processing 2 Files"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.mode);
    P().stackMode = k.mode;
    ui.paneHistory.clear();
    v.pixelInfoText.clear();
    Stack({a, b, c, d}, {Skipped(2, {c, a})});
    EXPECT_EQ(ui.fileDialogs.back().filter, ops::stacking::kStackFilter);
    EXPECT_EQ(StatusTexts(), k.status);
    fpbuffer& layer = v.currentLayer();
    ASSERT_EQ(layer.width, 5);
    ASSERT_EQ(layer.height, 3);
    // Mean and median of two agree: 20.
    for (int ch = 0; ch < 3; ++ch) {
      for (int i = 0; i < layer.n; ++i) ASSERT_EQ(layer.plane[ch].x[i], 20.0f);
    }
    EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
  }
}

TEST_F(StackTest, OneFileAndCancelChangeNothing) {
  const std::string before = Window();
  ui.ExpectOpenFilesDialog(FileListAnswer{true, {Flat("a.png", 2, 2, 1)}});
  ui.ExpectMessage("At least two files must be selected.");
  v.Dispatch(Id::Stacking);
  ui.ExpectOpenFilesDialog(FileListAnswer{false, {}});
  v.Dispatch(Id::Stacking);
  ui.VerifyAllAnswered();
  EXPECT_EQ(Window(), before);
}

// Every listed mode runs; a number outside the list (a record edited by hand) is named and
// changes nothing, under F2 as well.
TEST_F(StackTest, AModeOutsideTheListIsRefused) {
  const std::string before = Window();
  P().stackMode = 9;
  ui.ExpectMessage("The stacking mode 9 is not one of the list.");
  v.Dispatch(Id::Stacking);
  ui.ExpectMessage("The stacking mode 9 is not one of the list.");
  Flags().F2Active = true;
  v.Dispatch(Id::Stacking);
  Flags().F2Active = false;
  ui.VerifyAllAnswered();
  EXPECT_TRUE(ui.fileDialogs.empty());
  EXPECT_EQ(Window(), before);
}

TEST_F(StackTest, AverageOfTenAndTwentyIsFifteen) {
  P().stackMode = 0;
  Stack({Flat("a.png", 3, 2, 10), Flat("b.png", 3, 2, 20)});
  const fpbuffer& layer = v.currentLayer();
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < layer.n; ++k) EXPECT_EQ(layer.plane[c].x[k], 15.0f);
  }
  EXPECT_EQ(v.currentBitmap().width(), 3);
}

// A file that cannot be read ends the run with the window as it was and no scratch file
// of the run left; the skipped files are still listed.
TEST_F(StackTest, AReadingProblemKeepsThePriorImage) {
  const std::string before = Window();
  const std::string missing = (home / "gone.png").string();
  const std::string a = Flat("a.png", 3, 2, 10), b = Flat("b.png", 3, 2, 20),
                    odd = Flat("odd.png", 2, 2, 20);
  std::ofstream(ScratchPath("keep.frgb")) << "mine";
  std::ofstream(ScratchPath("keep.mat")) << "mine";
  for (int mode : {0, 1, 5}) {
    SCOPED_TRACE(mode);
    P().stackMode = mode;
    // Processing order b, odd, missing, a.
    Stack({a, b, odd, missing}, {"File Doesn't Exist", kRead, Skipped(1, {odd})});
    const auto& m = ui.messages;
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m[m.size() - 2].caption, missing);
    EXPECT_EQ(Window(), before);
    EXPECT_EQ(Scratch(), (std::vector<std::string>{kScratchMarker, "keep.frgb", "keep.mat"}));
  }
}

TEST_F(StackTest, AWritingProblemKeepsThePriorImage) {
  const std::string before = Window();
  // The second raw file's name is taken by a folder, which no file can be written over.
  const fs::path blocked = ScratchPath("temp1.frgb");
  fs::create_directory(blocked);
  P().stackMode = 2;
  Stack({Flat("a.png", 3, 2, 10), Flat("b.png", 3, 2, 20), Flat("c.png", 3, 2, 30)},
        {blocked.string() + " is not a regular file; it was not replaced.", kWrite});
  EXPECT_EQ(ui.messages.back().caption, blocked.string());
  EXPECT_EQ(Window(), before);
  // The run's own file went; the folder it did not make stays.
  EXPECT_EQ(Scratch(), (std::vector<std::string>{kScratchMarker, "temp1.frgb"}));
}

// The write of a raw file runs beside the load of the next image when the loops have more
// than one thread: its failure (the name a link it may not follow) ends the run as well,
// with the file's message, the prior image and nothing of the run's left behind.
TEST_F(StackTest, AFailedWriteBesideTheLoadEndsTheRun) {
  const std::string before = Window();
  const fs::path link = ScratchPath("temp1.frgb");
  fs::create_symlink(home / "nowhere", link);
  const std::vector<std::string> files = {Flat("a.png", 3, 2, 10), Flat("b.png", 3, 2, 20),
                                          Flat("c.png", 3, 2, 30), Flat("d.png", 3, 2, 40)};
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    SetParallelThreads(threads);
    P().stackMode = 1;
    Stack(files, {kWrite});
    EXPECT_EQ(ui.messages.back().caption, link.string());
    EXPECT_EQ(Window(), before);
    EXPECT_EQ(Scratch(), (std::vector<std::string>{kScratchMarker, "temp1.frgb"}));
    EXPECT_TRUE(fs::is_symlink(link));
  }
  SetParallelThreads(0);
}

// A cancel at the first poll of the load loop, or at the first row of the combination,
// leaves the window bit for bit as it was.
TEST_F(StackTest, CancelKeepsThePriorImage) {
  const std::string before = Window();
  const std::vector<std::string> files = {Flat("a.png", 3, 2, 10), Flat("b.png", 3, 2, 20),
                                          Flat("c.png", 3, 2, 40)};
  for (int mode : {0, 1, 3}) {
    for (int poll : {1, 4}) {
      if (mode == 0 && poll == 4) continue;  // Average has no row loop
      SCOPED_TRACE(mode * 10 + poll);
      P().stackMode = mode;
      platform.CancelAtPoll(poll);
      Stack(files);
      EXPECT_GE(platform.polls, poll);
      EXPECT_EQ(Window(), before);
      EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
    }
  }
  EXPECT_TRUE(ui.messages.empty());
}

// An empty window keeps no image after a cancelled run either.
TEST_F(StackTest, AnEmptyWindowStaysEmpty) {
  v.currentLayer().clear();
  v.currentBitmap() = DisplayBitmap();
  platform.CancelAtPoll(1);
  Stack({Flat("a.png", 3, 2, 10), Flat("b.png", 3, 2, 20)});
  EXPECT_TRUE(v.currentLayer().empty());
  EXPECT_TRUE(v.currentBitmap().empty());
}

TEST_F(StackTest, ExtendedDynamicRangeEndsInTheLayersColourSpace) {
  v.currentLayer().convert(cspace::kHSV | 7);
  P().stackMode = 5;
  for (bool noise : {false, true}) {
    SCOPED_TRACE(noise);
    P().hdrNoiseReduction = noise;
    Stack({Png("bright.png", 4, 3, [](int c, int k) { return std::min(255, 40 * k + 10 * c + 5); }),
           Png("dark.png", 4, 3, [](int c, int k) { return (40 * k + 10 * c + 5) / 4; })});
    const fpbuffer& layer = v.currentLayer();
    EXPECT_EQ(layer.code, cspace::kHSV | 7);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < layer.n; ++k) ASSERT_TRUE(std::isfinite(layer.plane[c].x[k]));
    }
  }
}

// F2 and program steps show the file dialog too; recording keeps the 45 words of the
// stacking block, and playing puts them back before the run.
TEST_F(StackTest, RecordedStepsReplayTheStackingBlock) {
  const std::vector<std::string> files = {Flat("a.png", 3, 2, 10), Flat("b.png", 3, 2, 20),
                                          Flat("c.png", 3, 2, 60)};
  Settings& s = LiveSettings();
  static_assert(sizeof(StackParams) == 45 * 4);
  s.program.stepCount = 1;
  P().stackMode = 1;
  P().multivariateMedianIterations = 300;
  Flags().F2Active = Flags().Recording = true;
  Stack(files);
  Flags().Recording = false;
  EXPECT_EQ(std::memcmp(s.program.steps[1].bytes, &s.stack, sizeof(StackParams)), 0);
  EXPECT_EQ(v.currentLayer().plane[0].x[0], 20.0f);  // the median

  P().SetDefaults();
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  Stack(files);
  Flags().Playing = false;
  EXPECT_EQ(P().stackMode, 1);
  EXPECT_EQ(P().multivariateMedianIterations, 300);
  EXPECT_EQ(v.currentLayer().plane[0].x[0], 20.0f);
}

// Many small frames: the row driver keeps no file open beyond its block.
TEST_F(StackTest, ElevenHundredFramesByMedian) {
  const int w = 32, h = 24, count = 1100;
  std::vector<std::string> files;
  for (int f = 0; f < count; ++f) {
    fpbuffer frame(w, h, cspace::kDefault);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < frame.n; ++k)
        frame.plane[c].x[k] = float((f * 37 + k * 11 + c * 5) % 251);
    }
    files.push_back((home / ("f" + std::to_string(f) + ".fdib")).string());
    ASSERT_FALSE(frame.write(files.back(), false));
  }
  P().stackMode = 1;
  Stack(files);
  const fpbuffer& layer = v.currentLayer();
  ASSERT_EQ(layer.n, w * h);
  for (int k : {0, 77, w * h - 1}) {
    for (int c = 0; c < 3; ++c) {
      std::vector<float> values;
      for (int f = 0; f < count; ++f) values.push_back(float((f * 37 + k * 11 + c * 5) % 251));
      std::sort(values.begin(), values.end());
      EXPECT_EQ(layer.plane[c].x[k], 0.5f * (values[549] + values[550])) << k << c;
    }
  }
  EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
}

// Float TIFF frames made by tifffile: the mean within 1e-5 relative of numpy's, the median
// of an odd count bit for bit.
TEST_F(StackTest, MeanAndMedianAgreeWithNumpy) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import numpy, tifffile' 2>/dev/null").c_str()) !=
      0) {
    GTEST_SKIP() << "python3-numpy or python3-tifffile is not installed";
  }
  const int w = 7, h = 5, count = 5;
  const std::string script =
      "import numpy as np, tifffile, sys\n"
      "d = sys.argv[1]\n"
      "r = np.random.default_rng(3)\n"
      "f = [(r.random((5, 7, 3)) * 255).astype(np.float32) for _ in range(5)]\n"
      "for i, a in enumerate(f): tifffile.imwrite(d + '/f%d.tif' % i, a, photometric='rgb')\n"
      "s = np.stack(f)\n"
      "s.mean(0, dtype=np.float64).astype(np.float32).tofile(d + '/mean.f32')\n"
      "np.median(s, 0).astype(np.float32).tofile(d + '/median.f32')\n";
  std::ofstream(home / "make.py") << script;
  ASSERT_EQ(
      std::system(
          (std::string(python) + " " + (home / "make.py").string() + " " + home.string()).c_str()),
      0);
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i)
    files.push_back((home / ("f" + std::to_string(i) + ".tif")).string());
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode);
    P().stackMode = mode;
    Stack(files);
    const std::string ref = ReadBytes(home / (mode == 0 ? "mean.f32" : "median.f32"));
    ASSERT_EQ(ref.size(), size_t(4 * 3 * w * h));
    const fpbuffer& layer = v.currentLayer();
    ASSERT_EQ(layer.n, w * h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        for (int c = 0; c < 3; ++c) {
          float want;
          // The file's rows run top down; the planes' row 0 is the bottom one.
          std::memcpy(&want, ref.data() + 4 * (3 * (size_t(y) * w + x) + c), 4);
          const float got = layer.plane[c].x[(h - 1 - y) * w + x];
          if (mode == 1) {
            ASSERT_EQ(got, want) << x << "," << y << "," << c;
          } else {
            ASSERT_NEAR(got, want, 1e-5f * std::max(1.0f, std::fabs(want)))
                << x << "," << y << "," << c;
          }
        }
      }
    }
  }
}
