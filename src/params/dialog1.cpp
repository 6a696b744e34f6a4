#include "params/dialog1.h"

#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/format.h"

DialogResult Dialog1::Run(std::string& value, const std::string& promptText,
                          const std::string& titleText) {
  text = value;
  prompt = promptText;
  title = titleText;
  const DialogResult result = GetUi().ShowPrompt(*this);
  if (result != DialogResult::Ok) return DialogResult::Cancel;
  value = text;
  return DialogResult::Ok;
}

bool EditNumbers(matrix& values, int parity, const std::string& prompt, const char* format,
                 bool fixedCount, const std::string& title) {
  if (values.n == 0 && fixedCount) return true;
  std::string shown;
  for (int i = 0; i < values.n; ++i) {
    const std::string one = Format(format, static_cast<double>(values.x[i]));
    shown = i == 0 ? one : Format("%s,%s", shown.c_str(), one.c_str());
  }
  for (;;) {
    // Every attempt starts again from the values as they came in.
    std::string entry = shown;
    Dialog1 dialog;
    if (dialog.Run(entry, prompt, title) != DialogResult::Ok) return true;
    matrix parsed;
    try {
      if (fixedCount) {
        parsed = values;
        // An empty entry clears every value (the number parser itself refuses it).
        if (entry.empty()) {
          for (int i = 0; i < parsed.n; ++i) parsed.x[i] = 0;
        } else {
          parsed.parse(entry);
        }
      } else {
        parsed.parselist(entry, 1);
      }
    } catch (const TextException& e) {
      GetUi().MessageBox(e.text(), title, {});
      continue;
    }
    if (parity == 1 && parsed.n % 2 == 0) {
      GetUi().MessageBox("Try again!", "Need ODD dimension!", {});
      continue;
    }
    if (parity == -1 && parsed.n % 2 != 0) {
      GetUi().MessageBox("Try again!", "Need EVEN dimension!", {});
      continue;
    }
    values = std::move(parsed);
    return false;
  }
}
