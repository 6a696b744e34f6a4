#pragma once
// printf-style formatting that always uses the C locale, whatever the user's locale:
// texts and files must not change their decimal point with the desktop's language.
#include <string>

[[gnu::format(printf, 1, 2)]] std::string Format(const char* fmt, ...);
