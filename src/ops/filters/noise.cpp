// The noise-profile commands. A profile is built on a copy and only replaces the window's
// at the very end, so a cancel at any prompt or a refused patch leaves the old one whole.
#include "ops/filters/noise.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/imageview.h"
#include "image/noiseprofile.h"
#include "numeric/matrixarray.h"
#include "params/dialog1.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/ui.h"

namespace {
const char* const kProfileFilter = "(*.PRFL)|*.PRFL|";
const char* const kFileCaption = "Load Noise Profile";

// The number prompt's first question: levels and the three autosharpen modes. False when
// the user cancelled.
bool AskLevelsAndModes(NoiseProfile& p) {
  matrix values(4, 1);
  values.x[0] = float(p.levels == 0 ? 3 : p.levels);
  for (int c = 0; c < 3; ++c) values.x[c + 1] = float(p.modes[c]);
  const std::string prompt =
      "Number of Levels (1-10),\nAutosharpen X (0-2),\nAutosharpen Y (0-2),\nAutosharpen Z (0-2)";
  if (EditNumbers(values, 0, prompt, "%2.0f", true, "ENTER:")) return false;
  // Written so that NaN is refused as well.
  while (!(values.x[0] > 0.0f && values.x[0] <= 10.0f)) {
    ShowMessage("Must enter Number of Levels (1-10)");
    if (EditNumbers(values, 0, prompt, "%2.0f", true, "ENTER:")) return false;
  }
  // 10 < L < 11 would truncate to 10 and 0 < L < 1 to 0: both are read as their integer part,
  // and a part of 0 would mean "no profile", so it becomes 1.
  p.levels = std::max(1, int(values.x[0]));
  for (int c = 0; c < 3; ++c) {
    const float m = values.x[c + 1];
    p.modes[c] = (m >= 0.0f && m < 3.0f) ? uint32_t(m) : 0u;
  }
  return true;
}
}  // namespace

void OnCreateNoiseProfile(CImageView& v, int) {
  NoiseProfile p = v.noiseProfile;
  if (!AskLevelsAndModes(p)) return;

  const int x0 = std::min(v.dragStart.x, v.dragEnd.x);
  const int y0 = std::min(v.dragStart.y, v.dragEnd.y);
  const int w = std::abs(v.dragEnd.x - v.dragStart.x) + 1;
  const int h = std::abs(v.dragEnd.y - v.dragStart.y) + 1;
  if (w < 50 || h < 50) {
    GetUi().MessageBox(
        "Selected area is too small.  Form square in a homogeneous area by holding Control Key "
        "while dragging mouse with right button down.",
        "ERROR", MessageStyle{});
    return;
  }

  const fpbuffer& image = v.currentLayer();
  matrixarray details;
  matrix factors;
  for (int c = 0; c < 3; ++c) {
    // Levels never measured (a grey image's missing channels) threshold by 0: unchanged.
    std::fill(p.factors[c], p.factors[c] + NoiseProfile::kMaxLevels, 0.0f);
    if (c >= image.channels) continue;
    matrix channel = image.plane[c];
    details.atrous(channel, p.levels);
    factors.noiseprofile(details, x0, y0, w, h);
    for (int i = 0; i < factors.n && i < p.levels; ++i) p.factors[c][i] = factors.x[i];
  }

  for (int c = 0; c < 3; ++c) {
    matrix values(p.levels, 1);
    for (int i = 0; i < p.levels; ++i) values.x[i] = p.factors[c][i];
    const std::string title = "Inspect and Edit Channel " + std::to_string(c + 1) + " Factors:";
    if (EditNumbers(values, 0,
                    "You may multiply or divide these numbers,\nfor example, \"1.5*0.123\" or "
                    "\"0.123/1.5\",\nto increase or decrease noise removal.",
                    "%6.3f", true, title)) {
      return;
    }
    for (int i = 0; i < p.levels; ++i) p.factors[c][i] = values.x[i];
  }
  p.code = image.code;
  v.noiseProfile = p;
  v.UpdateStatus();
}

void OnFastNoiseRemoval(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) { image.fastnoiseremoval(v.noiseProfile); });
}

void OnSaveNoiseProfile(CImageView& v, int) {
  FileDialogRequest request;
  request.filter = kProfileFilter;
  request.filterIndex = 1;
  request.initialPath = v.profileFileName;
  // The load dialog shows only .PRFL files, so that is what a name without one gets.
  request.defaultExtension = "PRFL";
  const FileDialogAnswer answer = GetUi().SaveFileDialog(request);
  if (!answer.ok) return;
  std::string path = answer.path;
  if (!answer.extensionTyped) path += ".PRFL";
  v.profileFileName = path;
  try {
    v.noiseProfile.Save(path);
  } catch (const TextException& e) {
    GetUi().MessageBox(e.what(), kFileCaption, MessageStyle{});
  }
}

void OnLoadNoiseProfile(CImageView& v, int) {
  FileDialogRequest request;
  request.filter = kProfileFilter;
  request.filterIndex = 1;
  request.initialPath = v.profileFileName;
  const FileDialogAnswer answer = GetUi().OpenFileDialog(request);
  if (!answer.ok) return;
  v.profileFileName = answer.path;
  try {
    v.noiseProfile.Load(answer.path);
  } catch (const TextException& e) {
    GetUi().MessageBox(e.what(), kFileCaption, MessageStyle{});
    return;
  }
  v.UpdateStatus();
}
