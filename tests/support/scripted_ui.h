#pragma once
// A Ui for tests: every message box must have been expected, in order, with the answer
// to give; an unexpected box or one left unanswered at the end fails the test. Everything
// shown is recorded.
#include <deque>
#include <string>
#include <vector>

#include "platform/ui.h"

class ScriptedUi : public Ui {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MessageStyle style;
  };

  // Installs itself as the process Ui; the destructor restores the previous one and
  // fails the test when expected boxes never came.
  ScriptedUi();
  ~ScriptedUi() override;
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;

  // The next box must show exactly this text; it is answered with answer.
  ScriptedUi& ExpectMessage(const std::string& text, DialogResult answer = DialogResult::Ok);
  // The next box must show a text starting with prefix.
  ScriptedUi& ExpectMessageStartingWith(const std::string& prefix,
                                        DialogResult answer = DialogResult::Ok);
  // Fails the test now when expected boxes are still waiting.
  void VerifyAllAnswered();

  DialogResult MessageBox(std::string_view text, std::string_view caption,
                          MessageStyle style) override;
  void SetPaneText(int pane, std::string_view text) override;
  void ShowProgressPane() override { ++progressPaneShown; }
  void DrawProgress(int percent) override { progressDrawn.push_back(percent); }

  std::vector<Message> messages;
  std::vector<std::string> paneText = std::vector<std::string>(6);
  std::vector<int> progressDrawn;
  int progressPaneShown = 0;

 private:
  struct Expected {
    std::string text;
    bool prefix;
    DialogResult answer;
  };
  std::deque<Expected> expected_;
  Ui* previous_;
};
