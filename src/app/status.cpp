// The menu-bar captions and the six status panes of an image window.
#include "app/imageview.h"
#include "image/colorspace.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/progress.h"
#include "platform/ui.h"

namespace {
const char* const kPaneCaptions[6] = {
    "Dimensions", "CSpace", "Channels", "Visible Layer", "Pixel Info (Left Click)", "Elapsed Time"};
}  // namespace

std::string DimensionsText(int width, int height) {
  return width >= 10000 ? Format("%d X %d", width, height) : Format("  %d X %d", width, height);
}

void CImageView::UpdateStatus() {
  const Settings& s = LiveSettings();
  maskCaption = HasMask() ? "Mask( On)" : "Mask(Off)";
  paintCaption = paintMode ? "Paint( On)" : "Paint(Off)";
  condCaption = s.conditional ? "Cond( On)" : "Cond(Off)";
  layerCaption = Layer2Exists() ? "Layer( On)" : "Layer(Off)";
  if (host) host->MenuCaptionsChanged();

  SuspendProgress();
  GetUi().EndProgressPane();
  for (int i = 0; i < 6; ++i) SetStatusText(kPaneCaptions[i], i);
  fpbuffer& layer = currentLayer();
  if (!HasFloat() && !HasBitmap()) return;

  dimensionsText = DimensionsText(currentBitmap().width(), currentBitmap().height());
  SetStatusText(dimensionsText, 0);
  layerText = !Layer2Exists() ? "Layer 1 of 1" : (current == 0 ? "Layer 1 of 2" : "Layer 2 of 2");
  SetStatusText(layerText, 3);
  SetStatusText(elapsedText, 5);

  if (const ColourSpace* space = FindColourSpace(layer.code)) {
    colourSpaceName = space->name;
    channelLetters[1] = space->letters[0];
    channelLetters[2] = space->letters[1];
    channelLetters[3] = space->letters[2];
    if (space->channels == 4) channelLetters[0] = space->letters[3];
  }
  if (HasFloat()) {
    const uint32_t code = layer.code;
    channelLettersText =
        Format("%s%s%s%s", (code & 1) ? channelLetters[1] : "", (code & 2) ? channelLetters[2] : "",
               (code & 4) ? channelLetters[3] : "", (code & 8) ? channelLetters[0] : "");
    SetStatusText(channelLettersText, 2);
    SetStatusText(pixelInfoText, 4);
  } else {
    SetStatusText("", 2);
    SetStatusText(Format("%s (No FDIB)", pixelInfoText.c_str()), 4);
  }
  SetStatusText(colourSpaceName, 1);
}
