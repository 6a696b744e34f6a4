#pragma once
// The member table of the settings record: every named member with its record offset,
// type and accepted values. It is the one definition that both the properties pages
// (which refuse a typed value outside the accepted set) and the readers of "zep.ini" and
// program files (which put such a value back to its default) use.
//
// Defaults are not repeated here: they are what the blocks' defaults routines write, read
// from DefaultSettings() at the member's offset.
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

struct Settings;

// One name of a choice row and the code it stands for.
struct Choice {
  const char* name;
  int32_t code;
};

// The names of a choice row in the order its drop-down list shows them.
struct ChoiceList {
  const Choice* items = nullptr;
  int count = 0;

  const Choice* begin() const { return items; }
  const Choice* end() const { return items + count; }
  // The name of a code; nullptr when the code has none.
  const char* NameOf(int32_t code) const;
  // The code of a name, compared exactly and case-sensitively.
  std::optional<int32_t> CodeOf(std::string_view name) const;
  bool Has(int32_t code) const { return NameOf(code) != nullptr; }
};

template <int N>
constexpr ChoiceList MakeChoices(const Choice (&items)[N]) {
  return ChoiceList{items, N};
}

enum class Parity : uint8_t { Any, Odd, Even, Whole };

// The values a member accepts. Numbers must be finite (a value that stands for
// "Infinity" is stored as an ordinary number) and lie in [min, max], each bound open or
// closed; then the parity, the excluded value, the choice codes and a rule over the rest
// of the record narrow that down, while `also` and `infinity` are accepted outright.
struct Accept {
  static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  static constexpr double kInf = std::numeric_limits<double>::infinity();

  double min = -kInf;
  double max = kInf;
  bool minOpen = false;
  bool maxOpen = false;
  Parity parity = Parity::Any;
  double also = kNone;      // accepted besides the range (0 for "off")
  double except = kNone;    // refused although inside the range
  double infinity = kNone;  // the stored value that is shown and typed as "Infinity"
  const ChoiceList* choices = nullptr;
  // A further test for values that depend on another member, which the caller has
  // already brought up to date (the pages read rows in order; validation goes through
  // the table in order).
  bool (*rule)(double value, const Settings& record) = nullptr;
  // The test of a text member (which must also fit its array with its terminator).
  bool (*text)(std::string_view text) = nullptr;
  // Any bit pattern (the version word and the reserved words).
  bool unchecked = false;

  // Defined before its callers: clang evaluates them in constant expressions as it meets
  // them.
  template <class T>
  constexpr Accept With(T Accept::*member, T value) const {
    Accept a = *this;
    a.*member = value;
    return a;
  }

  constexpr Accept Odd() const { return With(&Accept::parity, Parity::Odd); }
  constexpr Accept Even() const { return With(&Accept::parity, Parity::Even); }
  constexpr Accept Whole() const { return With(&Accept::parity, Parity::Whole); }
  constexpr Accept Or(double value) const { return With(&Accept::also, value); }
  constexpr Accept Except(double value) const { return With(&Accept::except, value); }
  constexpr Accept OrInfinity(double value) const { return With(&Accept::infinity, value); }
  constexpr Accept Rule(bool (*f)(double, const Settings&)) const { return With(&Accept::rule, f); }

};

constexpr Accept AnyNumber() { return Accept{}; }
constexpr Accept AtLeast(double a) { return Accept{.min = a}; }
constexpr Accept Above(double a) { return Accept{.min = a, .minOpen = true}; }
constexpr Accept Between(double a, double b) { return Accept{.min = a, .max = b}; }
constexpr Accept AboveAtMost(double a, double b) {
  return Accept{.min = a, .max = b, .minOpen = true};
}
constexpr Accept Inside(double a, double b) {
  return Accept{.min = a, .max = b, .minOpen = true, .maxOpen = true};
}
constexpr Accept OneOf(const ChoiceList& list) { return Accept{.choices = &list}; }
constexpr Accept FlagValues() { return Between(0, 1); }
constexpr Accept Unchecked() { return Accept{.unchecked = true}; }
constexpr Accept AnyText(bool (*test)(std::string_view) = nullptr) { return Accept{.text = test}; }

enum class FieldType : uint8_t {
  Flag,  // byte, 0 or 1
  Byte,  // unsigned byte (colour components)
  Int32,
  UInt32,
  Float,
  Double,
  Text,  // NUL-terminated text in a fixed array
};

struct Field {
  const char* name;  // the member, "ddlPost.jaggyRemoval" for one inside a sub-record
  uint32_t offset;   // record offset of element 0
  FieldType type;
  uint16_t count;  // elements of an array member, else 1
  uint16_t size;   // bytes of one element (a text's whole array)
  Accept accept;

  uint32_t Bytes() const { return uint32_t{count} * size; }
  // A flag whose page shows two names instead of "True" and "False".
  constexpr Field WithChoices(const ChoiceList& list) const {
    Field f = *this;
    f.accept.choices = &list;
    return f;
  }
};

// Every named member of the record, header first, then the blocks in record order and the
// tail. Within a block, a member another member's rule depends on comes first.
std::span<const Field> SettingsFields();
const Field* FindField(std::string_view name);
// The member of that name; throws std::out_of_range for a name that is not in the table.
const Field& FieldNamed(std::string_view name);

// Element access through the table. Numbers are handed over as doubles (every member's
// value is exact in one); writing converts to the member's type, integers saturating.
double ReadNumber(const Settings& record, const Field& field, int element = 0);
void WriteNumber(Settings& record, const Field& field, double value, int element = 0);
// The text up to its terminator, or the whole array when it has none.
std::string_view ReadText(const Settings& record, const Field& field, int element = 0);
// Stores text with its terminator and clears the rest of the array; false, changing
// nothing, when it does not fit.
bool WriteText(Settings& record, const Field& field, std::string_view text, int element = 0);

// Whether the member accepts value; record supplies the members a rule looks at.
bool Accepts(const Field& field, double value, const Settings& record);
// Whether a text member accepts text (it must fit its array with the terminator).
bool AcceptsText(const Field& field, std::string_view text);

// Copies the member's default (all its elements) from DefaultSettings().
void RestoreDefault(Settings& record, const Field& field);

// Puts every element of the members lying inside [begin, end) of the record whose value
// is not accepted (a text without terminator included) back to its default. Returns the
// number of elements changed.
int ValidateFields(Settings& record, uint32_t begin, uint32_t end);

// The batch suffix goes into output file names: at most 64 characters, and nothing that
// could leave the folder (path separators, "..").
bool IsValidBatchSuffix(std::string_view text);
// The output formats of a batch, exactly as typed: "PNG", "JPG", "BMP", "FIT", "TIF",
// "GIF" or "IFS".
bool IsBatchExtension(std::string_view text);
