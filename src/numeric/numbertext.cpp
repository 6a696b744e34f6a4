#include "numeric/numbertext.h"

#include <locale.h>
#include <clocale>
#include <cmath>
#include <cstdlib>

#include <algorithm>
#include <vector>

#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/format.h"

namespace {
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
  return c;
}

// Reads a number at pos as the C library's decimal reader does (leading white space
// allowed), in the C locale. False when there is none or it is not finite.
bool ReadNumber(const std::string& text, size_t& pos, double& value) {
  if (pos >= text.size()) return false;
  const char* start = text.c_str() + pos;
  char* end = nullptr;
  value = strtod_l(start, &end, CLocale());
  if (end == start) return false;
  pos += size_t(end - start);
  return std::isfinite(value);
}

void SkipSpaces(const std::string& text, size_t& pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
}

// Reads one term: a number, or a number '*' or '/' a number, and the spaces after it. In
// single precision both operands and the result are rounded to float.
bool ReadTerm(const std::string& text, size_t& pos, bool single, double& value) {
  double a;
  if (!ReadNumber(text, pos, a)) return false;
  SkipSpaces(text, pos);
  if (pos < text.size() && (text[pos] == '*' || text[pos] == '/')) {
    const char op = text[pos++];
    double b;
    if (!ReadNumber(text, pos, b)) return false;
    if (single) {
      a = static_cast<float>(a);
      b = static_cast<float>(b);
    }
    if (op == '/' && b == 0.0) return false;
    a = op == '*' ? a * b : a / b;
    SkipSpaces(text, pos);
  }
  value = single ? static_cast<float>(a) : a;
  return std::isfinite(value);
}
}  // namespace

std::string InvalidEntryText(const std::string& text) {
  return Format("Invalid entry:\n%s\nTry again!", text.c_str());
}

double ParseNumber(const std::string& text) {
  if (text.empty()) throw TextException(InvalidEntryText(text));
  double value = 0.0;
  size_t pos = 0;
  while (pos < text.size()) {
    if (!ReadTerm(text, pos, false, value)) throw TextException(InvalidEntryText(text));
    ++pos;  // the separator
  }
  return value;
}

matrix& matrix::parse(const std::string& text) {
  const std::string error = InvalidEntryText(text);
  if (text.empty()) throw TextException(error);
  // Read aside: an invalid entry leaves the plane as it was.
  std::vector<float> values(static_cast<size_t>(std::max(0, n)), 0.0f);
  size_t pos = 0;
  size_t k = 0;
  while (pos < text.size() && k < values.size()) {
    double value;
    if (!ReadTerm(text, pos, true, value)) throw TextException(error);
    values[k++] = static_cast<float>(value);
    // Text after the last element is ignored; elements not given stay 0.
    if (pos >= text.size() || k >= values.size()) break;
    if (text[pos] != ',') throw TextException(error);
    ++pos;
  }
  return copyfrom(values.data());
}

matrix& matrix::parselist(const std::string& text, int k) {
  k = std::max(1, k);
  int terms = 1;
  for (size_t i = 1; i < text.size(); ++i) terms += text[i] == ',';
  matrix list(terms / k, k);
  if (list.n == 0) list.dim(terms / k, k);  // keeps the shape of an empty list
  list.parse(text);
  return *this = std::move(list);
}
