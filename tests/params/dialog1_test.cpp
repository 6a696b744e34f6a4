// The prompt dialog and number entry.
#include <gtest/gtest.h>

#include <vector>

#include "numeric/matrix.h"
#include "params/dialog1.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {

matrix Values(std::vector<float> v) {
  matrix m(static_cast<int>(v.size()), 1);
  for (size_t i = 0; i < v.size(); ++i) m.x[i] = v[i];
  return m;
}

std::vector<float> Elements(const matrix& m) { return std::vector<float>(m.x, m.x + m.n); }

class EditNumbersTest : public ZepTest {};

TEST_F(EditNumbersTest, FixedCountFillsInOrder) {
  struct Case {
    const char* entry;
    std::vector<float> result;
  };
  const Case cases[] = {{"1,2", {1, 2, 0, 0}},
                        {"1,2,3,4,5", {1, 2, 3, 4}},
                        {"", {0, 0, 0, 0}},
                        {"1.5*2, 3/4 ,7,8", {3, 0.75f, 7, 8}}};
  for (const Case& c : cases) {
    matrix values = Values({9, 9, 9, 9});
    std::string shown;
    ui.ExpectPrompt([&](Dialog1& d) {
      shown = d.text;
      EXPECT_EQ(d.title, "Crop");
      EXPECT_EQ(d.prompt, "Enter:");
      d.text = c.entry;
      return DialogResult::Ok;
    });
    EXPECT_FALSE(EditNumbers(values, 0, "Enter:", "%9.2f", true, "Crop"));
    EXPECT_EQ(shown, "     9.00,     9.00,     9.00,     9.00");
    EXPECT_EQ(Elements(values), c.result) << c.entry;
  }
}

// A bad entry is reported under the title and asked again from the original text; the
// values change only when an entry is good, and never on cancel.
TEST_F(EditNumbersTest, InvalidEntryAsksAgainAndCancelChangesNothing) {
  matrix values = Values({1, 2});
  std::vector<std::string> shown;
  auto type = [&](const char* text, DialogResult result) {
    return [&shown, text, result](Dialog1& d) {
      shown.push_back(d.text);
      d.text = text;
      return result;
    };
  };
  ui.ExpectPrompt(type("5,1/0", DialogResult::Ok));
  ui.ExpectMessage("Invalid entry:\n5,1/0\nTry again!");
  ui.ExpectPrompt(type("7,8", DialogResult::Cancel));
  EXPECT_TRUE(EditNumbers(values, 0, "", "%2.0f", true, "Indices"));
  EXPECT_EQ(ui.messages.back().caption, "Indices");
  EXPECT_EQ(shown, (std::vector<std::string>{" 1, 2", " 1, 2"}));
  EXPECT_EQ(Elements(values), (std::vector<float>{1, 2}));
}

TEST_F(EditNumbersTest, ParityOfAFreeCount) {
  matrix values = Values({1, 2, 3});
  ui.ExpectPrompt(Enter("1,2"));
  ui.ExpectMessage("Try again!");
  ui.ExpectPrompt(Enter("4,5,6,7,8"));
  EXPECT_FALSE(EditNumbers(values, 1, "", "%g", false, "Kernel"));
  EXPECT_EQ(ui.messages.back().caption, "Need ODD dimension!");
  EXPECT_EQ(Elements(values), (std::vector<float>{4, 5, 6, 7, 8}));

  ui.ExpectPrompt(Enter("1"));
  ui.ExpectMessage("Try again!");
  ui.ExpectPrompt(CancelPrompt());
  EXPECT_TRUE(EditNumbers(values, -1, "", "%g", false, "Kernel"));
  EXPECT_EQ(ui.messages.back().caption, "Need EVEN dimension!");
  EXPECT_EQ(values.n, 5);
}

TEST_F(EditNumbersTest, NothingToEdit) {
  matrix empty;
  EXPECT_TRUE(EditNumbers(empty, 0, "", "%g", true, ""));  // no prompt shown
}

TEST_F(EditNumbersTest, RunKeepsTheTextOnCancel) {
  std::string value = "abc";
  ui.ExpectPrompt([](Dialog1& d) {
    d.text = "changed";
    return DialogResult::Cancel;
  });
  Dialog1 dialog;
  EXPECT_EQ(dialog.Run(value, "p", "t"), DialogResult::Cancel);
  EXPECT_EQ(value, "abc");
  ui.ExpectPrompt(Enter("new"));
  EXPECT_EQ(dialog.Run(value, "p", "t"), DialogResult::Ok);
  EXPECT_EQ(value, "new");
}

}  // namespace
