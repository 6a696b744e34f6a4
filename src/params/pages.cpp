#include "params/pages.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "numeric/matrix.h"
#include "numeric/numbertext.h"
#include "params/pages_build.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Skips the blanks and the sign before a number; returns where its digits start.
size_t SkipBlanksAndSign(std::string_view text, bool& negative) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  return i;
}

// The integer a text begins with (blanks and a sign allowed before it, anything after
// it ignored). Only the first 63 characters are looked at, as the box's exchange always
// did. A number beyond 32 bits is no integer.
std::optional<int64_t> LeadingInteger(std::string_view text) {
  text = text.substr(0, 63);
  bool negative;
  size_t i = SkipBlanksAndSign(text, negative);
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
  }
  value = negative ? -value : value;
  if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return value;
}

// The floating-point number a text begins with, read in the C locale; the first 399
// characters count and anything after the number is ignored. A number too large for a
// double is no number.
std::optional<double> LeadingNumber(std::string_view text) {
  text = text.substr(0, 399);
  bool negative;
  size_t i = SkipBlanksAndSign(text, negative);
  if (i >= text.size() || text[i] == '+' || text[i] == '-') return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value,
                                         std::chars_format::general);
  if (ec != std::errc() || end == text.data() + i) return std::nullopt;
  return negative ? -value : value;
}

// The value as the member will hold it, so that a float member is checked for what it
// stores (1e300 becomes an infinity there and is refused).
double AsStored(const PageRow& row, double value) {
  if (row.field->type == FieldType::Float || row.viaFloat) return static_cast<float>(value);
  return value;
}

bool HasInfinity(const Field& field) { return !std::isnan(field.accept.infinity); }

ReadOutcome StoreIfAccepted(Settings& record, const PageRow& row, double value) {
  const Field& f = *row.field;
  value = AsStored(row, value);
  if (!Accepts(f, value, record) && row.clampToMax && std::isfinite(value) &&
      value > f.accept.max) {
    value = f.accept.max;
  }
  if (!Accepts(f, value, record)) return ReadOutcome::Kept;
  WriteNumber(record, f, value, row.element);
  return ReadOutcome::Stored;
}

// The names of a flag row: the member's own two names, or "True" and "False".
std::optional<int32_t> FlagCode(const Field& field, const std::string& text) {
  if (field.accept.choices) return field.accept.choices->CodeOf(text);
  if (text == "True") return 1;
  if (text == "False") return 0;
  return std::nullopt;
}

ReadOutcome StoreCode(Settings& record, const PageRow& row, std::optional<int32_t> code) {
  if (!code) code = row.otherCode;
  if (!code) return ReadOutcome::Kept;
  return StoreIfAccepted(record, row, *code);
}

// A colour is three comma-separated numbers; each is truncated toward zero and only its
// low byte is kept (300 gives 44). A text of any other shape keeps the colour.
ReadOutcome ReadColour(Settings& record, const PageRow& row, const std::string& text) {
  if (std::count(text.begin(), text.end(), ',') != 2) return ReadOutcome::Kept;
  matrix rgb(3, 1);
  try {
    rgb.parse(text);
  } catch (const TextException&) {
    return ReadOutcome::Kept;
  }
  for (int i = 0; i < 3; ++i) {
    double low = std::fmod(std::trunc(static_cast<double>(rgb.x[i])), 256.0);
    if (low < 0) low += 256.0;
    WriteNumber(record, *row.field, low, i);
  }
  return ReadOutcome::Stored;
}

std::vector<Page>& Registry() {
  static std::vector<Page> pages = [] {
    std::vector<Page> all;
    pages::AddFilePages(all);
    pages::AddResizePages(all);
    pages::AddBasicPages(all);
    pages::AddMiscPages(all);
    pages::AddFilterPages(all);
    pages::AddRestorationPages(all);
    pages::AddStackPages(all);
    pages::AddProgramPages(all);
    return all;
  }();
  return pages;
}

}  // namespace

const Page* FindPage(int id) {
  for (const Page& p : Registry()) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

std::span<const Page* const> AllPages() {
  static const std::vector<const Page*> list = [] {
    std::vector<const Page*> l;
    for (const Page& p : Registry()) l.push_back(&p);
    return l;
  }();
  return list;
}

std::string ShowRow(const Settings& record, const PageRow& row) {
  if (row.kind == RowKind::Label || !row.field) return {};
  if (row.show) return row.show(record, row);
  const Field& f = *row.field;
  switch (row.kind) {
    case RowKind::Text:
      return std::string(ReadText(record, f, row.element));
    case RowKind::Colour:
      return Format("%d,%d,%d", static_cast<int>(ReadNumber(record, f, 0)),
                    static_cast<int>(ReadNumber(record, f, 1)),
                    static_cast<int>(ReadNumber(record, f, 2)));
    case RowKind::Flag: {
      const double v = ReadNumber(record, f, row.element);
      if (!f.accept.choices) return v != 0 ? "True" : "False";
      const char* name = f.accept.choices->NameOf(static_cast<int32_t>(v));
      return name ? name : "";
    }
    case RowKind::Choice: {
      const char* name =
          f.accept.choices->NameOf(static_cast<int32_t>(ReadNumber(record, f, row.element)));
      if (!name) name = row.unnamedShows;
      return name ? name : "";
    }
    default: {
      const double v = ReadNumber(record, f, row.element);
      if (HasInfinity(f) && v == f.accept.infinity) return "Infinity";
      const size_t len = std::strlen(row.format);
      if (len > 0 && row.format[len - 1] == 'd') {
        return Format(row.format, static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0)));
      }
      return Format(row.format, v);
    }
  }
}

ReadOutcome ReadRow(Settings& record, const PageRow& row, const std::string& text) {
  if (row.kind == RowKind::Label || !row.field) return ReadOutcome::Kept;
  if (row.read) return row.read(record, row, text);
  const Field& f = *row.field;
  if (HasInfinity(f) && text == "Infinity") {
    WriteNumber(record, f, f.accept.infinity, row.element);
    return ReadOutcome::Stored;
  }
  switch (row.kind) {
    case RowKind::Integer: {
      const auto v = LeadingInteger(text);
      if (!v) return ReadOutcome::NotInteger;
      return StoreIfAccepted(record, row, static_cast<double>(*v));
    }
    case RowKind::Number: {
      const auto v = LeadingNumber(text);
      if (!v) return ReadOutcome::NotNumber;
      return StoreIfAccepted(record, row, *v);
    }
    case RowKind::Expression:
      try {
        return StoreIfAccepted(record, row, ParseNumber(text));
      } catch (const TextException&) {
        return ReadOutcome::Kept;
      }
    case RowKind::Flag:
      return StoreCode(record, row, FlagCode(f, text));
    case RowKind::Choice:
      return StoreCode(record, row, f.accept.choices->CodeOf(text));
    case RowKind::Colour:
      return ReadColour(record, row, text);
    case RowKind::Text:
      if (AcceptsText(f, text))
        return WriteText(record, f, text, row.element) ? ReadOutcome::Stored : ReadOutcome::Kept;
      if (row.otherText) WriteText(record, f, row.otherText, row.element);
      return row.otherText ? ReadOutcome::Stored : ReadOutcome::Kept;
    case RowKind::Custom:
    case RowKind::Label:
      break;
  }
  return ReadOutcome::Kept;
}

void RestorePageDefaults(Settings& record, const Page& page) {
  for (const PageRow& r : page.rows) {
    if (r.field) RestoreDefault(record, *r.field);
  }
  const auto* defaults = reinterpret_cast<const unsigned char*>(&DefaultSettings());
  for (const RecordRange& range : page.alsoRestore) {
    std::memcpy(reinterpret_cast<unsigned char*>(&record) + range.offset, defaults + range.offset,
                range.size);
  }
  if (page.after) page.after(record);
}

namespace pages {

Texts Seq(int a, int b, int step) {
  Texts t;
  for (int v = a; step > 0 ? v <= b : v >= b; v += step) t.push_back(std::to_string(v));
  return t;
}

Texts Steps(double a, double b, double step, const char* format) {
  Texts t;
  const int n = static_cast<int>(std::floor((b - a) / step + 0.5));
  for (int i = 0; i <= n; ++i) t.push_back(Format(format, a + i * step));
  return t;
}

Texts Cat(std::initializer_list<Texts> parts) {
  Texts t;
  for (const Texts& p : parts) t.insert(t.end(), p.begin(), p.end());
  return t;
}

namespace {
PageRow Make(int row, const char* label, RowKind kind, const char* member, const char* format,
             Texts suggestions) {
  PageRow r;
  r.row = row;
  r.label = label;
  r.kind = kind;
  r.field = member ? &FieldNamed(member) : nullptr;
  r.format = format;
  r.suggestions = std::move(suggestions);
  return r;
}
}  // namespace

PageRow Note(int row, const char* label) {
  return Make(row, label, RowKind::Label, nullptr, "", {});
}
PageRow Int(int row, const char* label, const char* member, Texts suggestions) {
  return Make(row, label, RowKind::Integer, member, "%d", std::move(suggestions));
}
PageRow Num(int row, const char* label, const char* member, const char* format, Texts suggestions) {
  return Make(row, label, RowKind::Number, member, format, std::move(suggestions));
}
PageRow Val(int row, const char* label, const char* member, Texts suggestions) {
  const FieldType type = FieldNamed(member).type;
  if (type == FieldType::Int32 || type == FieldType::UInt32) {
    return Int(row, label, member, std::move(suggestions));
  }
  return Num(row, label, member, "%f", std::move(suggestions));
}
PageRow Expr(int row, const char* label, const char* member, const char* format,
             Texts suggestions) {
  return Make(row, label, RowKind::Expression, member, format, std::move(suggestions));
}
PageRow Flag(int row, const char* label, const char* member, Texts suggestions) {
  return Make(row, label, RowKind::Flag, member, "", std::move(suggestions));
}
PageRow Pick(int row, const char* label, const char* member) {
  PageRow r = Make(row, label, RowKind::Choice, member, "", {});
  for (const Choice& c : *r.field->accept.choices) r.suggestions.push_back(c.name);
  return r;
}
PageRow Colour(int row, const char* label, const char* member, Texts suggestions) {
  return Make(row, label, RowKind::Colour, member, "", std::move(suggestions));
}
PageRow Text(int row, const char* label, const char* member, Texts suggestions) {
  return Make(row, label, RowKind::Text, member, "", std::move(suggestions));
}
Page MakePage(int id, std::vector<PageRow> rows) {
  Page p;
  p.id = id;
  p.rows = std::move(rows);
  return p;
}
PageRow At(PageRow row, int element) {
  row.element = element;
  return row;
}

}  // namespace pages
