#pragma once
// `Dialog1`, the prompt dialog: a title, a prompt painted above a one-line edit box, OK
// and Cancel. `EditNumbers` uses it to let the user edit a short list of numbers.
#include <string>

#include "platform/ui.h"

class matrix;

class Dialog1 {
 public:
  // Shows the dialog with value in the edit box. On OK value receives the edited text;
  // on Cancel it keeps what was passed in. Returns Ok or Cancel.
  DialogResult Run(std::string& value, const std::string& prompt, const std::string& title);

  std::string text;    // the edit box's contents; the Ui changes it
  std::string title;   // the window title
  std::string prompt;  // painted above the box; lines break only at '\n'
};

// Lets the user edit values as comma-separated text, each value printed with format
// ("%9.2f"), asking again until the entry parses (and has the parity asked for) or the
// user cancels. With fixedCount the entry fills the existing values in order, missing
// ones becoming 0 and extra ones ignored; without it the entry decides the count.
// parity: 1 needs an odd count, -1 an even one, anything else no check.
// Returns true when the user cancelled (or there was nothing to edit with fixedCount);
// false when a valid entry was stored. values change only on that valid entry.
bool EditNumbers(matrix& values, int parity, const std::string& prompt, const char* format,
                 bool fixedCount, const std::string& title);
