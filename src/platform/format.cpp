#include "platform/format.h"

#include <locale.h>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}
}  // namespace

std::string Format(const char* fmt, ...) {
  locale_t previous = uselocale(CLocale());
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  char small[512];
  int len = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  std::string out;
  if (len >= 0 && static_cast<size_t>(len) < sizeof small) {
    out.assign(small, static_cast<size_t>(len));
  } else if (len >= 0) {
    std::vector<char> big(static_cast<size_t>(len) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, again);
    out.assign(big.data(), static_cast<size_t>(len));
  }
  va_end(again);
  uselocale(previous);
  return out;
}
