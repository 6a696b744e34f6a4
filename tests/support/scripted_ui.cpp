#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
constexpr const char* kProperties = "<properties dialog>";
constexpr const char* kPrompt = "<prompt dialog>";
constexpr const char* kOpen = "<open dialog>";
constexpr const char* kSave = "<save dialog>";
constexpr const char* kOpenFiles = "<open dialog for several files>";
constexpr const char* kPageSetup = "<page setup dialog>";

// Records into the document at index in the Ui's list (the list may grow meanwhile).
class RecordingJob : public PrintJob {
 public:
  RecordingJob(ScriptedUi& ui, size_t index) : ui_(ui), index_(index) {}
  ~RecordingJob() override {
    if (!doc().ended && !doc().aborted) Abort();
  }
  bool StartPage() override {
    doc().pageStarted = !ui_.pageStartFails;
    return doc().pageStarted;
  }
  void DrawBitmap(const BitmapView& b, int x, int y, int width, int height, bool smooth) override {
    EXPECT_TRUE(doc().pageStarted && !doc().pageEnded) << "drawing outside a page";
    const size_t stride = (size_t(b.width) * 3 + 3) & ~size_t(3);
    doc().drawn.push_back({x, y, width, height, smooth, b.width, b.height,
                           std::vector<uint8_t>(b.bits, b.bits + stride * size_t(b.height))});
  }
  void EndPage() override { doc().pageEnded = true; }
  void EndDocument() override { doc().ended = true; }
  void Abort() override { doc().aborted = true; }

 private:
  ScriptedUi::PrintedDocument& doc() { return ui_.printed[index_]; }
  ScriptedUi& ui_;
  size_t index_;
};
}  // namespace

ScriptedUi::ScriptedUi() { previous_ = SetUi(this); }

ScriptedUi::~ScriptedUi() {
  VerifyAllAnswered();
  SetUi(previous_);
}

ScriptedUi::Expected ScriptedUi::Expect(const std::string& text, bool prefix, DialogResult answer) {
  Expected e;
  e.text = text;
  e.prefix = prefix;
  e.answer = answer;
  return e;
}

ScriptedUi& ScriptedUi::ExpectMessage(const std::string& text, DialogResult answer) {
  expected_.push_back(Expect(text, false, answer));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectMessageStartingWith(const std::string& prefix, DialogResult answer) {
  expected_.push_back(Expect(prefix, true, answer));
  return *this;
}

ScriptedUi& ScriptedUi::ExpectProperties(PropertiesScript script) {
  expected_.push_back(Expect(kProperties));
  expected_.back().properties = std::move(script);
  return *this;
}

ScriptedUi& ScriptedUi::ExpectPrompt(PromptScript script) {
  expected_.push_back(Expect(kPrompt));
  expected_.back().prompt = std::move(script);
  return *this;
}

ScriptedUi& ScriptedUi::ExpectPageSetup(PageSetupScript script) {
  expected_.push_back(Expect(kPageSetup));
  expected_.back().pageSetup = std::move(script);
  return *this;
}

ScriptedUi& ScriptedUi::ExpectOpenDialog(FileDialogAnswer answer) {
  expected_.push_back(Expect(kOpen));
  expected_.back().file = std::move(answer);
  return *this;
}

ScriptedUi& ScriptedUi::ExpectSaveDialog(FileDialogAnswer answer) {
  expected_.push_back(Expect(kSave));
  expected_.back().file = std::move(answer);
  return *this;
}

ScriptedUi& ScriptedUi::ExpectOpenFilesDialog(FileListAnswer answer) {
  expected_.push_back(Expect(kOpenFiles));
  expected_.back().files = std::move(answer);
  return *this;
}

FileListAnswer ScriptedUi::OpenFilesDialog(const FileDialogRequest& request) {
  fileDialogs.push_back(request);
  Expected e;
  if (!Next(kOpenFiles, e, true)) return {};
  return e.files;
}

FileDialogAnswer ScriptedUi::FileDialog(const char* what, const FileDialogRequest& request) {
  fileDialogs.push_back(request);
  Expected e;
  if (!Next(what, e, true)) return {};
  return e.file;
}

FileDialogAnswer ScriptedUi::OpenFileDialog(const FileDialogRequest& request) {
  return FileDialog(kOpen, request);
}

FileDialogAnswer ScriptedUi::SaveFileDialog(const FileDialogRequest& request) {
  return FileDialog(kSave, request);
}

bool ScriptedUi::MoveToTrash(const std::string& path) {
  if (trashFolder.empty()) return false;
  std::error_code ec;
  const std::filesystem::path from(path);
  std::filesystem::rename(from, std::filesystem::path(trashFolder) / from.filename(), ec);
  return !ec;
}

void ScriptedUi::VerifyAllAnswered() {
  for (const Expected& e : expected_) ADD_FAILURE() << "expected message never shown: " << e.text;
  expected_.clear();
}

bool ScriptedUi::Next(const char* what, Expected& e, bool dialog) {
  if (expected_.empty()) {
    ADD_FAILURE() << "unexpected " << (dialog ? "dialog" : "message") << ": " << what;
    return false;
  }
  e = std::move(expected_.front());
  expected_.pop_front();
  const bool isDialog = e.properties || e.prompt || e.pageSetup || e.text == kOpen ||
                        e.text == kSave || e.text == kOpenFiles;
  if (isDialog != dialog || (dialog && e.text != what)) {
    ADD_FAILURE() << "expected " << e.text << " but got " << what;
    return false;
  }
  return true;
}

DialogResult ScriptedUi::MessageBox(std::string_view text, std::string_view caption,
                                    MessageStyle style) {
  messages.push_back({std::string(text), std::string(caption), style});
  Expected e;
  if (!Next(messages.back().text.c_str(), e, false)) return DialogResult::Cancel;
  if (e.prefix) {
    EXPECT_EQ(text.substr(0, e.text.size()), e.text) << "message text differs";
  } else {
    EXPECT_EQ(text, e.text) << "message text differs";
  }
  return e.answer;
}

DialogResult ScriptedUi::ShowPropertiesDialog(Dialog2& dialog) {
  Expected e;
  if (!Next(kProperties, e, true)) return DialogResult::Cancel;
  return e.properties(dialog);
}

DialogResult ScriptedUi::ShowPrompt(Dialog1& dialog) {
  Expected e;
  if (!Next(kPrompt, e, true)) return DialogResult::Cancel;
  return e.prompt(dialog);
}

DialogResult ScriptedUi::ShowPageSetup(PageSetup& page, const PageSample& sample) {
  Expected e;
  if (!Next(kPageSetup, e, true)) return DialogResult::Cancel;
  return e.pageSetup(page, sample);
}

std::unique_ptr<PrintJob> ScriptedUi::StartPrintDocument(const PageSetup& page,
                                                         std::string_view name) {
  if (printerStartFails) return nullptr;
  printed.push_back({std::string(name), page, false, false, false, false, {}});
  return std::make_unique<RecordingJob>(*this, printed.size() - 1);
}

void ScriptedUi::SetPaneText(int pane, std::string_view text) {
  if (pane < 0) {
    ADD_FAILURE() << "pane index " << pane;
    return;
  }
  if (static_cast<size_t>(pane) >= paneText.size()) paneText.resize(static_cast<size_t>(pane) + 1);
  paneText[static_cast<size_t>(pane)] = std::string(text);
  paneHistory.emplace_back(pane, std::string(text));
}
