#pragma once
// The numbers a user types: a single value, or a comma-separated list into a plane (see
// matrix::parse). Each term is a number, or a product or quotient of two numbers ("1.5*2",
// "3 / 4"). Numbers are read in the C locale whatever the desktop's language; a number
// that overflows, an infinity, a NaN and a division by zero are invalid entries.
#include <string>

// "Invalid entry:\n<text>\nTry again!", the text every parser throws.
std::string InvalidEntryText(const std::string& text);

// The value of the last term of the text: after each term one character is skipped as a
// separator, so "5a" is 5 and "1,2" is 2. Throws TextException(InvalidEntryText(text)).
double ParseNumber(const std::string& text);
