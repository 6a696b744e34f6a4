#pragma once
// The pages of the properties dialog as data: each page is a list of rows bound to
// members of the settings record through the member table (fields.h), so the values a
// row accepts are the very ones the settings file is validated against. What a row adds
// to the member is how it is shown and read back: its label, text form, suggestions and
// what a text that names nothing does.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "params/fields.h"

struct Settings;

enum class RowKind : uint8_t {
  Label,       // a note or heading: no value
  Integer,     // begins with a decimal integer; anything else stops the page
  Number,      // begins with a floating-point number; anything else stops the page
  Expression,  // ParseNumber: a number, a product or a quotient; anything else is dropped
  Flag,        // "True"/"False", or the two names of a flag that has choices
  Choice,      // the name of the stored code
  Colour,      // "r,g,b" of a three-byte member
  Text,        // a text member, stored as typed
  Custom,      // shown and read by the row's own functions alone
};

// What reading a row did: stored or dropped the value, or stopped the page on a text that
// is not a number.
enum class ReadOutcome : uint8_t { Stored, Kept, NotInteger, NotNumber };

struct PageRow {
  int row = 0;  // 1-16
  std::string label;
  RowKind kind = RowKind::Label;
  const Field* field = nullptr;
  int element = 0;
  // printf form of a numeric row; a form ending in 'd' is given the value as an integer.
  const char* format = "%d";
  std::vector<std::string> suggestions;
  // Choice and flag rows: the code that a text matching no name stores (unset: the code
  // is kept).
  std::optional<int32_t> otherCode;
  // Text rows: what a text the member does not accept stores (null: the text is kept).
  const char* otherText = nullptr;
  // Number rows: a value above the accepted maximum stores the maximum.
  bool clampToMax = false;
  // Number rows of a double member that are read at float precision.
  bool viaFloat = false;
  // Choice rows: what a code without a name shows (null: an empty box).
  const char* unnamedShows = nullptr;
  // Read back whenever any row of the page was edited, not only when this one was: the
  // row derives other members from the page's values (the offset pattern).
  bool readWhenPageEdited = false;
  // A row's own way of showing or reading its value, in place of its kind's.
  std::string (*show)(const Settings&, const PageRow&) = nullptr;
  ReadOutcome (*read)(Settings&, const PageRow&, const std::string&) = nullptr;

  PageRow& OrElse(int32_t code) {
    otherCode = code;
    return *this;
  }
  PageRow& Shown(const char* printfForm) {
    format = printfForm;
    return *this;
  }
};

// A byte range of the record that Restore Defaults copies besides the rows' members.
struct RecordRange {
  uint32_t offset;
  uint32_t size;
};

struct Page {
  int id = 0;
  std::vector<PageRow> rows;   // in row order
  std::vector<int> readOrder;  // rows read back first, before the rest in row order
  std::vector<RecordRange> alsoRestore;
  // Runs after a read-back that found an edited row, and after Restore Defaults.
  void (*after)(Settings&) = nullptr;
  // Labels computed from the record (the program steps); the rows then carry no values.
  std::string (*labelOf)(const Settings&, int row) = nullptr;
};

// The page of that id; nullptr for group pages and ids without rows.
const Page* FindPage(int id);
// Every page that has rows, for tools and tests.
std::span<const Page* const> AllPages();

// The text a row shows for the record's current value.
std::string ShowRow(const Settings& record, const PageRow& row);
// Reads text back into the record as the row's rules say.
ReadOutcome ReadRow(Settings& record, const PageRow& row, const std::string& text);
// Copies the defaults of the page's members (its rows and its extra ranges) into record,
// then runs the page's after-hook.
void RestorePageDefaults(Settings& record, const Page& page);
