#pragma once
// Batch Operation, Sequential Load and Animate Sequence: commands that work through a list
// of files picked together in one open dialog.
#include <optional>
#include <string>
#include <vector>

// The order a picked list is worked through: the dialog's order with its first name moved
// to the end (a, b, c becomes b, c, a), the order users of the program have always got.
std::vector<std::string> ProcessingOrder(std::vector<std::string> picked);

// Shows the open dialog for several files with the filter given and returns the paths in
// processing order; nothing when the user cancelled or picked fewer than two files (said
// in a message) or more names than "Maximum Characters" holds.
std::optional<std::vector<std::string>> PickFiles(const std::string& filter);

// The name a batch saves an input under: the input itself when overwriting, else the
// input's folder and name without its extension, the suffix, a dot and the extension.
std::string BatchOutputPath(const std::string& input, bool overwrite, const std::string& suffix,
                            const std::string& extension);

// The order Animate Sequence shows a list of count files in: mode 0 forward, 1 backward, 2
// forward and backward, where each end frame is shown three times in a row (last of one
// pass, again at the turn, first of the next).
class AnimationOrder {
 public:
  AnimationOrder(int count, int mode);
  // The index of the next frame.
  int Next();

 private:
  int last_;
  int mode_;
  bool forward_;
  int index_;
  int previous_ = -1;
};

class CImageView;

// The handlers (bound in bindings.cpp).
void OnBatchOperation(CImageView& v, int id);
void OnSequentialLoad(CImageView& v, int id);
void OnSequentialLoadNew(CImageView& v, int id);
void OnSequentialLoadBack(CImageView& v, int id);
void OnAnimateSequence(CImageView& v, int id);
