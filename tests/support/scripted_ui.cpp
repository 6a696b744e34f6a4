#include "support/scripted_ui.h"

#include <gtest/gtest.h>

ScriptedUi::ScriptedUi() { previous_ = SetUi(this); }

ScriptedUi::~ScriptedUi() {
  VerifyAllAnswered();
  SetUi(previous_);
}

ScriptedUi& ScriptedUi::ExpectMessage(const std::string& text, DialogResult answer) {
  expected_.push_back({text, false, answer});
  return *this;
}

ScriptedUi& ScriptedUi::ExpectMessageStartingWith(const std::string& prefix, DialogResult answer) {
  expected_.push_back({prefix, true, answer});
  return *this;
}

void ScriptedUi::VerifyAllAnswered() {
  for (const Expected& e : expected_) ADD_FAILURE() << "expected message never shown: " << e.text;
  expected_.clear();
}

DialogResult ScriptedUi::MessageBox(std::string_view text, std::string_view caption,
                                    MessageStyle style) {
  messages.push_back({std::string(text), std::string(caption), style});
  if (expected_.empty()) {
    ADD_FAILURE() << "unexpected message: " << text;
    return DialogResult::Cancel;
  }
  Expected e = expected_.front();
  expected_.pop_front();
  if (e.prefix) {
    EXPECT_EQ(text.substr(0, e.text.size()), e.text) << "message text differs";
  } else {
    EXPECT_EQ(text, e.text) << "message text differs";
  }
  return e.answer;
}

void ScriptedUi::SetPaneText(int pane, std::string_view text) {
  if (pane < 0) {
    ADD_FAILURE() << "pane index " << pane;
    return;
  }
  if (static_cast<size_t>(pane) >= paneText.size()) paneText.resize(static_cast<size_t>(pane) + 1);
  paneText[static_cast<size_t>(pane)] = std::string(text);
}
