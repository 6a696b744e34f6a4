// Batches, sequences and animation through an image window's dispatcher, on real PNG and
// JPEG files in the test's own folder.
#include "fileio/batch.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "app/print.h"
#include "fileio/imagefile.h"
#include "fileio/jpeg.h"
#include "fileio/png.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/progress.h"
#include "platform/ui.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {
// The F2 operation of these tests: an operation command whose algorithm the test decides.
constexpr CommandId kTestOperation = CommandId::TopLayerEqualsBottomLayer;
std::function<void(CImageView&, fpbuffer&)>& StepAlgorithm() {
  static std::function<void(CImageView&, fpbuffer&)> algorithm;
  return algorithm;
}

void Invert(fpbuffer& f) {
  for (int c = 0; c < f.channels; ++c) {
    for (int k = 0; k < f.n; ++k) f.plane[c].x[k] = 255.0f - f.plane[c].x[k];
  }
}

class BatchTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 1;  // every page a command asks for is shown
    LiveSettings().soundOnCompletion = 1;
    const CommandEntry rows[] = {{kTestOperation,
                                  [](CImageView& v, int id) {
                                    v.RunFloatOperation(
                                        id, [&v](fpbuffer& f) { StepAlgorithm()(v, f); });
                                  },
                                  &CImageView::OnUpdateNeedsFloat}};
    CImageView::RegisterCommands(rows);
    StepAlgorithm() = [this](CImageView& v, fpbuffer& f) {
      processed.push_back(fs::path(v.filePath).filename().string());
      firstValues.push_back(f.plane[0].x[0]);
      soundDuringStep.push_back(LiveSettings().soundOnCompletion);
      quietDuringStep.push_back(Flags().Quiet);
      Invert(f);
    };
    view.f2OperationId = int(kTestOperation);
    fs::create_directories(home / "img");
  }
  void TearDown() override {
    StepAlgorithm() = nullptr;
    ZepTest::TearDown();
  }
  // The pictures live in a folder of their own, away from the program's files.
  std::string Path(const std::string& name) { return (home / "img" / name).string(); }
  // Writes a 4 x 3 PNG whose red channel starts at first.
  std::string MakePng(const std::string& name, float first) {
    fpbuffer f(4, 3, 0x17);
    for (int c = 0; c < 3; ++c) f.plane[c].ramp(first + float(10 * c), 1.0f);
    EXPECT_EQ(WritePng(f, Path(name), 8, 6), nullptr);
    return Path(name);
  }
  std::string MakeJpeg(const std::string& name) {
    DisplayBitmap b(4, 3);
    for (int j = 0; j < 3; ++j) std::fill(b.row(j), b.row(j) + 12, uint8_t(90));
    EXPECT_FALSE(WriteJpeg(Path(name), b.toprow(), 4, 3, 90, 3));
    return Path(name);
  }
  // The pages a batch asks for before its file dialog, answered OK; their numbers are kept.
  void ExpectPages(int n) {
    for (int i = 0; i < n; ++i) {
      ui.ExpectProperties([this](Dialog2& d) {
        pagesShown.push_back(d.CurrentPage());
        return DialogResult::Ok;
      });
    }
  }
  std::set<std::string> Files() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(home / "img")) {
      if (e.is_regular_file()) names.insert(e.path().filename().string());
    }
    return names;
  }
  static std::string Head(const std::string& path, size_t n) {
    std::string bytes = ReadBytes(path);
    return bytes.substr(0, n);
  }
  void SetText(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.c_str(), text.size());
  }
  void Suffix(const std::string& s) {
    SetText(LiveSettings().file.batchSuffix, sizeof LiveSettings().file.batchSuffix, s);
  }
  void Extension(const std::string& s) {
    SetText(LiveSettings().file.batchExtension, sizeof LiveSettings().file.batchExtension, s);
  }

  FakeHost host;
  CImageView view{&host};
  std::vector<std::string> processed;
  std::vector<float> firstValues;
  std::vector<int> soundDuringStep, pagesShown;
  std::vector<bool> quietDuringStep;
};

const std::string kPngSignature = "\x89PNG";
const std::string kJpegSignature = "\xFF\xD8";

TEST(BatchNames, OutputNameAndProcessingOrder) {
  struct Case {
    const char* input;
    bool overwrite;
    const char* suffix;
    const char* extension;
    const char* output;
  };
  for (const Case& c : {Case{"/F/picture.jpg", false, ".0", "PNG", "/F/picture.0.PNG"},
                        Case{"/F/picture.jpg", true, ".0", "PNG", "/F/picture.jpg"},
                        Case{"/F/a.b.tif", false, "", "JPG", "/F/a.b.JPG"},
                        Case{"/F/noext", false, ".Batch", "TIF", "/F/noext.Batch.TIF"}}) {
    EXPECT_EQ(BatchOutputPath(c.input, c.overwrite, c.suffix, c.extension), c.output) << c.input;
  }
  EXPECT_EQ(ProcessingOrder({"a", "b", "c"}), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(ProcessingOrder({"a", "b"}), (std::vector<std::string>{"b", "a"}));
}

TEST_F(BatchTest, ProcessesInTheRotatedOrderAndSavesTheResults) {
  Suffix(".0");
  Extension("PNG");
  const std::string a = MakeJpeg("picture.jpg"), b = MakePng("b.png", 5), c = MakePng("c.png", 7);
  ExpectPages(2);
  ui.ExpectOpenFilesDialog({true, {a, b, c}});
  view.Dispatch(CommandId::BatchOperation);
  EXPECT_EQ(pagesShown, (std::vector<int>{5, 2}));
  EXPECT_EQ(processed, (std::vector<std::string>{"b.png", "c.png", "picture.jpg"}));
  // The per-file steps ran quietly and without sound; both came back afterwards.
  EXPECT_EQ(soundDuringStep, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(quietDuringStep, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(LiveSettings().soundOnCompletion, 1);
  EXPECT_FALSE(Flags().Quiet);
  EXPECT_EQ(view.pixelInfoText, "Processed 3 of 3");
  // Each output holds its input processed: the round trip through the saved file.
  const char* outputs[] = {"b.0.PNG", "c.0.PNG", "picture.0.PNG"};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(fs::exists(Path(outputs[i]))) << outputs[i];
    EXPECT_EQ(Head(Path(outputs[i]), 4), kPngSignature);
    fpbuffer saved;
    ImageFileInfo info;
    LoadPng(saved, Path(outputs[i]), info);
    ASSERT_EQ(saved.n, 12) << outputs[i];
    EXPECT_EQ(saved.plane[0].x[0], 255.0f - firstValues[i]) << outputs[i];
  }
}

TEST_F(BatchTest, LowerCaseExtensionAsksNoFormatPageAndStillSavesByExtension) {
  Suffix(".0");
  Extension("jpg");
  const std::string p = MakePng("p.png", 5), q = MakePng("q.png", 9);
  ExpectPages(1);
  ui.ExpectOpenFilesDialog({true, {p, q}});
  view.Dispatch(CommandId::BatchOperation);
  EXPECT_EQ(pagesShown, (std::vector<int>{5}));
  EXPECT_EQ(Head(Path("p.0.jpg"), 2), kJpegSignature);
  EXPECT_EQ(Head(Path("q.0.jpg"), 2), kJpegSignature);
}

TEST_F(BatchTest, PrintAsF2PrintsEveryFileAndSavesNothing) {
  LastPageSetup() = PageSetup{500, 500, 500, 500, 0, 0, 0, 0, 8500, 11000, 300, 300};
  const std::string a = MakePng("a.png", 1), b = MakePng("b.png", 2);
  view.f2OperationId = int(CommandId::PrintImage);
  ui.ExpectOpenFilesDialog({true, {a, b}});  // no page before it
  const std::set<std::string> before = Files();
  view.Dispatch(CommandId::BatchOperation);
  EXPECT_EQ(ui.printed.size(), 2u);
  EXPECT_EQ(Files(), before);
  EXPECT_EQ(view.pixelInfoText, "Processed 2 of 2");
  LastPageSetup() = PageSetup{};
}

TEST_F(BatchTest, ACancelOrFailureStopsTheBatchBeforeItsSave) {
  struct Case {
    const char* what;
    int cancelAt;  // poll of the cancel keys that reads pressed
    bool stepPolls;
    int throwAt;  // 1-based file whose step fails
    std::set<std::string> saved;
  };
  const Case cases[] = {
      // Two polls per file when the step polls, the batch's own after each save otherwise.
      {"Escape after the second file", 2, false, 0, {"b.0.PNG", "c.0.PNG"}},
      {"cancel inside the second step", 3, true, 0, {"b.0.PNG"}},
      {"second step fails", 0, false, 2, {"b.0.PNG"}},
  };
  Suffix(".0");
  Extension("PNG");
  const std::string a = MakePng("a.png", 1), b = MakePng("b.png", 2), c = MakePng("c.png", 3);
  const std::set<std::string> inputs = Files();
  for (const Case& k : cases) {
    for (const char* name : {"a.0.PNG", "b.0.PNG", "c.0.PNG"}) fs::remove(Path(name));
    int step = 0;
    StepAlgorithm() = [&](CImageView&, fpbuffer& f) {
      ++step;
      if (k.stepPolls) StepProgressOrThrow();
      if (step == k.throwAt) throw TextException("Step failed");
      Invert(f);
    };
    platform.CancelAtPoll(k.cancelAt);
    LiveSettings().autoQuery = 0;
    ui.ExpectOpenFilesDialog({true, {a, b, c}});
    if (k.throwAt) ui.ExpectMessage("Step failed");
    view.Dispatch(CommandId::BatchOperation);
    ui.VerifyAllAnswered();
    std::set<std::string> expected = inputs;
    expected.insert(k.saved.begin(), k.saved.end());
    EXPECT_EQ(Files(), expected) << k.what;
    EXPECT_EQ(LiveSettings().soundOnCompletion, 1) << k.what;
    EXPECT_FALSE(Flags().Quiet) << k.what;
    EXPECT_EQ(view.pixelInfoText, k.saved.size() == 2 ? "Processed 2 of 3" : "Processed 1 of 3")
        << k.what;
  }
}

TEST_F(BatchTest, NeverWritesOverAnInputUnlessOverwriteIsOn) {
  LiveSettings().autoQuery = 0;
  Extension("PNG");
  const std::string a = MakePng("a.PNG", 1), b = MakePng("b.PNG", 2), x = MakeJpeg("x.jpg");
  const std::string x0 = MakePng("x.0.PNG", 3);
  struct Case {
    const char* suffix;
    std::vector<std::string> picked;
    std::string overwritten;
  };
  // Its own name, and the name of another input of the list.
  for (const Case& c : {Case{"", {a, b}, b}, Case{".0", {x, x0}, x0}}) {
    Suffix(c.suffix);
    const std::string before = ReadBytes(c.overwritten);
    ui.ExpectOpenFilesDialog({true, c.picked});
    ui.ExpectMessageStartingWith("The batch would write over " + c.overwritten);
    view.Dispatch(CommandId::BatchOperation);
    ui.VerifyAllAnswered();
    EXPECT_TRUE(processed.empty());
    EXPECT_EQ(ReadBytes(c.overwritten), before);
  }
  // With Overwrite on each file goes back under its own name and in its own format,
  // whatever the extension says.
  LiveSettings().file.overwriteInputFile = 1;
  Extension("JPG");
  ui.ExpectOpenFilesDialog({true, {a, b}});
  view.Dispatch(CommandId::BatchOperation);
  EXPECT_EQ(processed, (std::vector<std::string>{"b.PNG", "a.PNG"}));
  for (const std::string& path : {a, b}) {
    EXPECT_EQ(Head(path, 4), kPngSignature);
    fpbuffer saved;
    ImageFileInfo info;
    LoadPng(saved, path, info);
    ASSERT_EQ(saved.n, 12);
  }
  fpbuffer saved;
  ImageFileInfo info;
  LoadPng(saved, a, info);
  EXPECT_EQ(saved.plane[0].x[0], 254.0f);
}

TEST_F(BatchTest, FewerThanTwoFilesOrACancelledDialogDoNothing) {
  LiveSettings().autoQuery = 0;
  const std::string a = MakePng("a.png", 1);
  ui.ExpectOpenFilesDialog({true, {a}});
  ui.ExpectMessage("At least two files must be selected.");
  view.Dispatch(CommandId::BatchOperation);
  ui.ExpectOpenFilesDialog({});
  view.Dispatch(CommandId::BatchOperation);
  // A list longer than "Maximum Characters" allows is refused as a whole.
  LiveSettings().file.maximumCharacters = 5000;
  ui.ExpectOpenFilesDialog({true, {Path(std::string(3000, 'x')), Path(std::string(3000, 'y'))}});
  ui.ExpectMessageStartingWith("The names of the 2 files picked need more than 5000 characters.");
  view.Dispatch(CommandId::BatchOperation);
  EXPECT_TRUE(processed.empty());
  EXPECT_EQ(LiveSettings().soundOnCompletion, 1);
}

// --- Sequences ---

TEST_F(BatchTest, SequenceStepsThroughTheListAndForgetsItAtTheEnd) {
  const std::string a = MakePng("a.png", 1), b = MakePng("b.png", 2), c = MakePng("c.png", 3);
  int focus = 0;
  ui.ExpectProperties([&](Dialog2& d) {
    pagesShown.push_back(d.CurrentPage());
    focus = d.TakeFocusRow();
    return DialogResult::Ok;
  });
  ui.ExpectOpenFilesDialog({true, {a, b, c}});
  struct Step {
    int id;
    std::string file, pane;
  };
  const Step steps[] = {{int(CommandId::SequentialLoad), b, "Showing 1 of 3"},
                        {int(CommandId::SequenceBack), b, "Showing 1 of 3"},
                        {int(CommandId::SequentialLoad), c, "Showing 2 of 3"},
                        {int(CommandId::SequentialLoad), a, "Showing 3 of 3"},
                        {int(CommandId::SequenceBack), c, "Showing 2 of 3"},
                        {int(CommandId::SequentialLoad), a, "Showing 3 of 3"}};
  for (const Step& s : steps) {
    view.Dispatch(s.id);
    EXPECT_EQ(view.filePath, s.file) << s.pane;
    EXPECT_EQ(view.pixelInfoText, s.pane);
    EXPECT_TRUE(view.filePresent);
  }
  EXPECT_EQ(pagesShown, (std::vector<int>{5}));
  EXPECT_EQ(focus, 6);  // "Animation Delay, milliseconds"
  EXPECT_TRUE(view.QueryCommand(CommandId::AnimateSequence).enabled);
  view.Dispatch(CommandId::SequentialLoad);
  EXPECT_EQ(view.pixelInfoText, "Sequence Completed");
  EXPECT_TRUE(view.sequence.empty());
  EXPECT_FALSE(view.QueryCommand(CommandId::AnimateSequence).enabled);
  // The next F9 asks for a new list; cancelling it leaves none.
  ui.ExpectProperties([](Dialog2&) { return DialogResult::Ok; });
  ui.ExpectOpenFilesDialog({});
  view.Dispatch(CommandId::SequentialLoad);
  EXPECT_TRUE(view.sequence.empty());
}

TEST_F(BatchTest, CtrlF9AsksForANewListAndAMissingFileAbortsTheSequence) {
  LiveSettings().autoQuery = 0;
  const std::string a = MakePng("a.png", 1), b = MakePng("b.png", 2), c = MakePng("c.png", 3);
  ui.ExpectOpenFilesDialog({true, {a, b}});
  view.Dispatch(CommandId::SequentialLoad);
  EXPECT_EQ(view.filePath, b);
  ui.ExpectOpenFilesDialog({true, {a, b, c}});
  view.Dispatch(CommandId::NewSequence);
  EXPECT_EQ(view.filePath, b);
  EXPECT_EQ(view.pixelInfoText, "Showing 1 of 3");
  EXPECT_FALSE(Flags().CtrlHeld);
  fs::remove(c);
  ui.ExpectMessage("File Doesn't Exist");
  view.Dispatch(CommandId::SequentialLoad);
  EXPECT_EQ(view.pixelInfoText, "Missing File, Sequence Aborted");
  EXPECT_FALSE(view.filePresent);
  EXPECT_TRUE(view.sequence.empty());
  EXPECT_EQ(ui.paneText[4], "Missing File, Sequence Aborted");
}

// --- Animation ---

TEST(AnimationOrderTest, FramesOfEachMode) {
  struct Case {
    int count, mode;
    std::vector<int> frames;
  };
  for (const Case& c :
       {Case{3, 0, {0, 1, 2, 0, 1, 2, 0}}, Case{3, 1, {2, 1, 0, 2, 1, 0, 2}},
        Case{3, 2, {0, 1, 2, 2, 2, 1, 0, 0, 0, 1, 2, 2}}, Case{2, 2, {0, 1, 1, 1, 0, 0, 0, 1}}}) {
    AnimationOrder order(c.count, c.mode);
    std::vector<int> shown;
    for (size_t i = 0; i < c.frames.size(); ++i) shown.push_back(order.Next());
    EXPECT_EQ(shown, c.frames) << "mode " << c.mode << ", " << c.count << " files";
  }
}

TEST_F(BatchTest, AnimationPlaysUntilCancelledAndStopsAtAMissingFile) {
  LiveSettings().autoQuery = 0;
  LiveSettings().file.animationMode = 2;
  const std::string a = MakePng("a.png", 1), b = MakePng("b.png", 2), c = MakePng("c.png", 3);
  ui.ExpectOpenFilesDialog({true, {c, a, b}});  // played as a, b, c
  view.Dispatch(CommandId::SequentialLoad);
  platform.CancelAtPoll(7);  // six frames: a, b, c, c at the turn, c, b
  view.Dispatch(CommandId::AnimateSequence);
  EXPECT_EQ(view.filePath, b);
  EXPECT_FALSE(Flags().Quiet);
  EXPECT_EQ(view.sequence.size(), 3u);  // the list stays for the next F9 or animation
  // A file gone since the list was made ends the animation with one message.
  fs::remove(b);
  platform.CancelAtPoll(20);  // a bound, should the animation not stop by itself
  ui.ExpectMessage("File Doesn't Exist");
  view.Dispatch(CommandId::AnimateSequence);
  EXPECT_EQ(view.filePath, a);  // the last frame shown: the missing file names nothing
  EXPECT_EQ(platform.polls, 2);
  EXPECT_FALSE(Flags().Quiet);
}
}  // namespace
