#pragma once
// Ready-made answers for ScriptedUi::ExpectProperties and ExpectPrompt. Header only: it
// calls the dialog models of params/, which only the tests that use it link.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "params/dialog1.h"
#include "params/dialog2.h"
#include "support/scripted_ui.h"

using RowTexts = std::vector<std::pair<int, std::string>>;

// Expects the dialog on page, types texts into rows and presses OK, which must close it.
inline ScriptedUi::PropertiesScript TypeAndOk(int page, RowTexts texts = {}) {
  return [page, texts](Dialog2& d) {
    EXPECT_EQ(d.CurrentPage(), page) << "properties dialog opened on another page";
    for (const auto& [row, text] : texts) d.SetText(row, text);
    EXPECT_TRUE(d.PressOk()) << "OK did not close the properties dialog";
    return DialogResult::Ok;
  };
}

// Expects the dialog on page and cancels it.
inline ScriptedUi::PropertiesScript CancelOn(int page) {
  return [page](Dialog2& d) {
    EXPECT_EQ(d.CurrentPage(), page) << "properties dialog opened on another page";
    return DialogResult::Cancel;
  };
}

// Types text into the prompt's box and presses OK.
inline ScriptedUi::PromptScript Enter(std::string text) {
  return [text](Dialog1& d) {
    d.text = text;
    return DialogResult::Ok;
  };
}

inline ScriptedUi::PromptScript CancelPrompt() {
  return [](Dialog1&) { return DialogResult::Cancel; };
}
