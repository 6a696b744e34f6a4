#pragma once
// `Dialog2`, the properties dialog, as a model without a toolkit: the page tree, the
// sixteen rows of the page shown (label, edit text, suggestions), reading a page back into
// the settings record, and the restore buttons. The Ui shows it (Ui::ShowPropertiesDialog)
// and drives it through the calls below; tests drive the same calls from a script.
//
// The dialog edits the record in place: a page read back (by OK, or by leaving it for
// another page of the tree) and the restore buttons change the record at once, and Cancel
// undoes none of it.
#include <array>
#include <span>
#include <string>
#include <vector>

#include "params/pages.h"
#include "platform/ui.h"

struct Settings;

class Dialog2 {
 public:
  static constexpr int kRows = 16;
  static constexpr int kItemSlots = 150;
  static constexpr int kNoItem = -1000;  // an empty slot of the item table

  // One item of the page tree, in the order the tree is built; each item is the last
  // child of the nearest item before it that is one level higher.
  struct TreeItem {
    int depth;
    const char* title;
    int page;
    int parentPage;  // -2 for the root
  };
  static std::span<const TreeItem> Tree();
  // The page whose item sits at index of the item table; kNoItem when the slot is empty.
  // Most pages sit at page + 1, eight of them at their own id (see dialog2.cpp).
  static int ItemPage(int index);

  explicit Dialog2(Settings& target);

  // Runs the dialog on a page. Command handlers call it before their operation and run
  // the operation only when it returns DialogResult::Ok.
  //   page: the page argument; the item at index page + 1 of the item table is selected
  //         (so 119 opens the opening "IFS" page 120, 30 opens "Arbitrary"). An argument
  //         whose slot is empty (111, 115, 123, 200 ...) shows no page: the rows stay
  //         empty and OK changes nothing.
  //   focusRow: the row 1-16 whose box has the keyboard focus when the dialog appears.
  //   mode: 1 always shows the dialog; -1 never does; any other value shows it only when
  //         the record's autoQuery flag is on. When not shown the result is Ok and the
  //         record is untouched.
  // Returns Ok or Cancel. Pages read back before Cancel (by switching pages) stay stored.
  DialogResult RunPage(int page, int focusRow, int mode);

  // --- Used by the Ui while the dialog is up ---

  // The page shown; -1 (the root) also before any page is shown.
  int CurrentPage() const { return currentPage_; }
  // The item table slot selected when the dialog opened.
  int StartIndex() const { return startIndex_; }
  // Row k (1-16): its label, its edit text and its suggestion list.
  const std::string& Label(int row) const;
  const std::string& Text(int row) const;
  const std::vector<std::string>& Suggestions(int row) const;
  // The user types into row k's box (or picks a suggestion).
  void SetText(int row, const std::string& text);
  // The row whose box takes the focus at the next paint; after that paint the focus row
  // is 1 again, so TakeFocusRow returns it and resets it.
  int FocusRow() const { return focusRow_; }
  int TakeFocusRow();

  // The tree's selection moves to page: the page left is read back (a bad number is
  // reported but does not stop the change), then page is shown.
  void SelectPage(int page);
  // OK: reads the current page back. True when the dialog may close; false when a row
  // held no number (the message has been shown and the focus is on that row).
  bool PressOk();
  // Restore Defaults: the current page's members take their defaults and the page is
  // shown again (text typed but not read back is lost).
  void RestoreDefaults();
  // Restore All Defaults: the whole record takes its defaults, keeping the reserved word.
  void RestoreAllDefaults();

  // --- The steps above, for the adapter and tests ---

  // Selects the item at the start index and shows its page (the dialog's initialisation).
  void Init();
  // Fills the rows from the record.
  void ShowPage(int page);
  // Reads the rows of the current page back; false when it stopped on a row that held no
  // number. Only rows whose text differs from what was shown are read, so an untouched
  // page leaves every byte of the record as it was.
  bool ExchangePage();

 private:
  struct Row {
    std::string label;
    std::string text;
    std::string shown;  // the text as ShowPage put it there
    std::vector<std::string> suggestions;
  };
  Row& At(int row);
  const Row& At(int row) const;

  Settings& target_;
  int currentPage_ = -1;
  int startIndex_ = 0;
  int focusRow_ = 1;
  std::array<Row, kRows> rows_;
};
