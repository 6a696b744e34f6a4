// The properties dialog model: the page tree and its item table, showing and reading
// pages back, the restore buttons and RunPage's modes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

#include "params/dialog2.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {

std::unique_ptr<Settings> Defaults() { return std::make_unique<Settings>(DefaultSettings()); }

bool SameBytes(const Settings& a, const Settings& b) {
  return std::memcmp(&a, &b, sizeof(Settings)) == 0;
}

class Dialog2Test : public ZepTest {};

// Every page of the tree, shown and confirmed without an edit, leaves every byte as it
// was: also values that "%f" cannot show exactly and codes without a name.
TEST_F(Dialog2Test, UntouchedPageLeavesEveryByte) {
  auto record = Defaults();
  record->basic.gamma = 1.0f / 3;                  // "%f" would read back as 0.333333
  record->resize.horizontalScaleFactor = 1.0 / 3;  // "%.16f" is not exact either
  record->print.printInterpolationMode = 5;        // shown as "Driver", which is code 0
  record->ifs.ifsUseCustomSettings = 0;            // the preset would recompute the planes
  record->ifs.ifsYParameter1 = 0.2f;
  const Settings before = *record;
  for (const Dialog2::TreeItem& item : Dialog2::Tree()) {
    Dialog2 dialog(*record);
    dialog.ShowPage(item.page);
    EXPECT_TRUE(dialog.PressOk()) << "page " << item.page;
    // Leaving the page through the tree reads it back as well.
    dialog.SelectPage(-1);
    EXPECT_TRUE(SameBytes(*record, before)) << "page " << item.page << " changed the record";
  }
}

// The text every row shows parses back; integer, choice, flag, colour and text rows
// store exactly the value they showed.
TEST_F(Dialog2Test, EveryShownTextReadsBack) {
  for (const Page* page : AllPages()) {
    std::set<int> rows;
    for (const PageRow& row : page->rows) {
      EXPECT_TRUE(row.row >= 1 && row.row <= 16) << "page " << page->id;
      EXPECT_TRUE(rows.insert(row.row).second) << "page " << page->id << " row " << row.row;
      if (row.kind == RowKind::Label) continue;
      auto record = Defaults();
      const Settings before = *record;
      const std::string shown = ShowRow(*record, row);
      const ReadOutcome outcome = ReadRow(*record, row, shown);
      EXPECT_TRUE(outcome == ReadOutcome::Stored || outcome == ReadOutcome::Kept)
          << "page " << page->id << " row " << row.row << " text " << shown;
      if (row.kind != RowKind::Number && row.kind != RowKind::Expression && !page->after &&
          !row.readWhenPageEdited) {
        EXPECT_TRUE(SameBytes(*record, before))
            << "page " << page->id << " row " << row.row << " text " << shown;
      }
    }
    bool inTree = false;
    for (const Dialog2::TreeItem& item : Dialog2::Tree()) inTree |= item.page == page->id;
    EXPECT_TRUE(inTree) << "page " << page->id;
  }
}

TEST_F(Dialog2Test, ItemTableSelectsPages) {
  struct Case {
    int argument;
    int page;  // kNoItem: nothing selected
  };
  const Case cases[] = {{-1, -1},
                        {-5, -1},
                        {30, 30},
                        {119, 120},
                        {109, 110},
                        {110, 111},
                        {113, 114},
                        {114, 115},
                        {120, 121},
                        {121, 122},
                        {122, 123},
                        {0, 0},
                        {4, 4},
                        {101, 101},
                        {141, 141},
                        {111, Dialog2::kNoItem},
                        {115, Dialog2::kNoItem},
                        {123, Dialog2::kNoItem},
                        {200, Dialog2::kNoItem}};
  for (const Case& c : cases) {
    auto record = Defaults();
    int seen = Dialog2::kNoItem;
    std::string row1;
    ui.ExpectProperties([&](Dialog2& d) {
      seen = d.CurrentPage();
      row1 = d.Label(1);
      return DialogResult::Ok;
    });
    Dialog2 dialog(*record);
    EXPECT_EQ(dialog.RunPage(c.argument, 1, 1), DialogResult::Ok);
    if (c.page == Dialog2::kNoItem) {
      // No page shown: the dialog stands on the root with empty rows.
      EXPECT_EQ(seen, -1) << c.argument;
      EXPECT_EQ(row1, "") << c.argument;
    } else {
      EXPECT_EQ(seen, c.page) << c.argument;
    }
  }
  EXPECT_EQ(Dialog2::Tree().size(), 105u);
}

TEST_F(Dialog2Test, ModesAndAutoQuery) {
  auto record = Defaults();
  Dialog2 dialog(*record);
  record->autoQuery = 0;
  EXPECT_EQ(dialog.RunPage(2, 1, 0), DialogResult::Ok);  // not shown: no dialog expected
  ui.ExpectProperties(CancelOn(2));
  EXPECT_EQ(dialog.RunPage(2, 1, 1), DialogResult::Cancel);
  record->autoQuery = 1;
  EXPECT_EQ(dialog.RunPage(2, 1, -1), DialogResult::Ok);
  ui.ExpectProperties(TypeAndOk(2, {{1, "16"}}));
  EXPECT_EQ(dialog.RunPage(2, 1, 0), DialogResult::Ok);
  EXPECT_EQ(record->file.pngBitDepth, 16);
}

TEST_F(Dialog2Test, ShowsLabelsTextsAndSuggestions) {
  auto record = Defaults();
  Dialog2 dialog(*record);
  dialog.ShowPage(2);
  EXPECT_EQ(dialog.Label(1), "Bit Depth per Channel");
  EXPECT_EQ(dialog.Text(1), "8");
  // The list does not repeat the value shown.
  EXPECT_EQ(dialog.Suggestions(1), std::vector<std::string>{"16"});
  EXPECT_EQ(dialog.Label(3), "");
  dialog.ShowPage(24);  // a group page
  EXPECT_EQ(dialog.Label(1), "");
  EXPECT_EQ(dialog.Text(1), "");
  record->program.stepCount = 1;
  std::strcpy(record->program.stepNames[16], "Blur");
  dialog.ShowPage(102);
  EXPECT_EQ(dialog.Label(1), "17.  Blur");
  EXPECT_EQ(dialog.Label(2), "18.  NoOp");
  EXPECT_EQ(dialog.Text(1), "");
}

// A row that holds no integer stops the page there: the rows before it keep what they
// stored, the rows after it are not read, and OK leaves the dialog open on that row.
TEST_F(Dialog2Test, UnparsableNumberStopsThePage) {
  auto record = Defaults();
  ui.ExpectProperties([](Dialog2& d) {
    d.SetText(1, "12 grey");
    d.SetText(2, "red");
    d.SetText(3, "7");
    EXPECT_FALSE(d.PressOk());
    EXPECT_EQ(d.TakeFocusRow(), 2);
    EXPECT_EQ(d.FocusRow(), 1);
    return DialogResult::Cancel;
  });
  ui.ExpectMessage("Please enter an integer.");
  Dialog2 dialog(*record);
  EXPECT_EQ(dialog.RunPage(91, 1, 1), DialogResult::Cancel);
  EXPECT_EQ(record->backgroundGreyLevel, 12);
  EXPECT_EQ(record->frameWindowGreen, DefaultSettings().frameWindowGreen);

  ui.ExpectMessage("Please enter a number.");
  dialog.ShowPage(9);
  dialog.SetText(1, "x0.5");
  EXPECT_FALSE(dialog.PressOk());
  ui.ExpectMessage("Please enter a number.");
  dialog.SetText(1, "1e400");  // beyond a double
  EXPECT_FALSE(dialog.PressOk());
  // A number beyond 32 bits is no integer.
  ui.ExpectMessage("Please enter an integer.");
  dialog.ShowPage(91);
  dialog.SetText(1, "99999999999");
  EXPECT_FALSE(dialog.PressOk());
}

// Leaving a page through the tree stores it, also when the dialog is then cancelled; a
// bad number on the page left is reported but the new page is shown anyway.
TEST_F(Dialog2Test, PageSwitchCommitsBeforeCancel) {
  auto record = Defaults();
  ui.ExpectProperties([](Dialog2& d) {
    d.SetText(1, "16");
    d.SelectPage(3);
    EXPECT_EQ(d.CurrentPage(), 3);
    d.SetText(1, "x");
    d.SelectPage(4);
    EXPECT_EQ(d.CurrentPage(), 4);
    return DialogResult::Cancel;
  });
  ui.ExpectMessage("Please enter an integer.");
  Dialog2 dialog(*record);
  EXPECT_EQ(dialog.RunPage(2, 1, 1), DialogResult::Cancel);
  EXPECT_EQ(record->file.pngBitDepth, 16);
}

TEST_F(Dialog2Test, RestoreDefaultsCoversExactlyThePage) {
  auto record = Defaults();
  record->file.overwriteInputFile = 1;
  std::strcpy(record->file.batchSuffix, ".x");
  std::strcpy(record->file.batchExtension, "TIF");
  record->file.maximumCharacters = 9000;
  record->file.animationDelay = 5;
  record->file.animationMode = 2;
  record->file.destroyAlignmentTemplateAtEnd = 1;
  record->file.destroyContrastTemplateAtEnd = 1;
  record->file.jpegQuality = 10;     // another page
  record->file.fitsCompression = 3;  // on no page
  record->reserved = 77;
  Dialog2 dialog(*record);
  dialog.ShowPage(5);
  dialog.SetText(4, "70000");  // typed but not read back: lost
  dialog.RestoreDefaults();
  Settings expected = DefaultSettings();
  expected.file.jpegQuality = 10;
  expected.file.fitsCompression = 3;
  expected.reserved = 77;
  EXPECT_TRUE(SameBytes(*record, expected));
  EXPECT_EQ(dialog.Text(4), "50000");

  dialog.RestoreAllDefaults();
  expected = DefaultSettings();
  expected.reserved = 77;
  EXPECT_TRUE(SameBytes(*record, expected));
}

TEST_F(Dialog2Test, RestoreDefaultsExtras) {
  auto record = Defaults();
  record->basic.curveValues[30] = 9;  // not on a row of page 38, restored with it
  record->basic.gamma = 3;
  record->periodic.periodicIterations = 4;  // page 141 restores the whole block
  record->periodic.periodicDx[3] = 8;
  Dialog2 dialog(*record);
  dialog.ShowPage(38);
  dialog.RestoreDefaults();
  EXPECT_EQ(record->basic.curveValues[30], DefaultSettings().basic.curveValues[30]);
  EXPECT_EQ(record->basic.gamma, 3);
  dialog.ShowPage(141);
  dialog.RestoreDefaults();
  EXPECT_EQ(record->periodic.periodicIterations, 1);
  EXPECT_EQ(record->periodic.periodicDx[3], 0);
  dialog.ShowPage(101);
  const Settings before = *record;
  dialog.RestoreDefaults();
  EXPECT_TRUE(SameBytes(*record, before));
}

}  // namespace
