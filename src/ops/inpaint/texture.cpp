// Texture inpainting: Record Texture fits a causal autoregressive model of channels 0-2 to a
// dragged rectangle, the F2 operation fills a region with texture synthesised from it.
#include <algorithm>
#include <utility>

#include "app/flags.h"
#include "app/imageview.h"
#include "image/opscope.h"
#include "ops/inpaint/inpaint.h"
#include "params/settings.h"
#include "platform/messages.h"

namespace {
// The neighbourhood the model was fitted with: a fill must read exactly as many predictors
// as there are coefficients, whatever the settings say by then.
struct Neighbourhood {
  int w = 0;
  int h = 0;
};
Neighbourhood& FittedNeighbourhood() {
  static Neighbourhood n;
  return n;
}

bool AnyHeld(const std::array<matrix, 6>& model) {
  return std::any_of(model.begin(), model.end(), [](const matrix& m) { return m.n > 0; });
}
bool AllHeld(const std::array<matrix, 6>& model) {
  return std::all_of(model.begin(), model.end(), [](const matrix& m) { return m.n > 0; });
}
}  // namespace

fpbuffer& fpbuffer::recordtexture(std::array<matrix, 6>& model, int x0, int y0, int W, int H, int w,
                                  int h) {
  if (x0 < 0 || y0 < 0 || W < 1 || H < 1 || x0 + int64_t(W) > width || y0 + int64_t(H) > height ||
      channels < 3) {
    return *this;
  }
  std::array<matrix, 6> fitted;
  matrix sample(W, H);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < H; ++y) std::copy_n(plane[c].z[y0 + y] + x0, W, sample.z[y]);
    sample.texturemodel(fitted[size_t(c)], fitted[size_t(c) + 3], w, h);
  }
  if (!AllHeld(fitted)) return *this;
  for (size_t i = 0; i < 6; ++i) model[i] = std::move(fitted[i]);
  return *this;
}

fpbuffer& fpbuffer::texturefill(const std::array<matrix, 6>& model, int w, int h,
                                bitmask* selection, bool cond) {
  if (!AllHeld(model)) return *this;
  const OperationScope scope(*this, selection, cond);
  for (int c = 0; c < 3; ++c) {
    if (!scope.processes(c)) continue;
    plane[c].texturefill(model[size_t(c)], model[size_t(c) + 3], scope.mask(), w, h);
  }
  return *this;
}

void OnRecordTexture(CImageView& v, int id) {
  std::array<matrix, 6>& model = TextureModel();
  // The same command destroys a model that exists, and forgets the drag it came from.
  if (AnyHeld(model)) {
    for (matrix& m : model) m.free();
    FittedNeighbourhood() = {};
    v.dragStart = v.dragEnd = {0, 0};
    return;
  }
  if (!v.PrepareOperation(id) || !v.HasFloat()) return;
  const InpaintParams& p = LiveSettings().inpaint;
  const int w = p.autoregressiveWidth, h = p.autoregressiveHeight;
  // The drag may predate a crop or a resize: only the part inside the image is a sample.
  const fpbuffer& image = v.currentLayer();
  const int x0 = std::max(0, std::min(v.dragStart.x, v.dragEnd.x));
  const int y0 = std::max(0, std::min(v.dragStart.y, v.dragEnd.y));
  const int x1 = std::min(image.width - 1, std::max(v.dragStart.x, v.dragEnd.x));
  const int y1 = std::min(image.height - 1, std::max(v.dragStart.y, v.dragEnd.y));
  const int64_t W = int64_t(x1) - x0 + 1, H = int64_t(y1) - y0 + 1;
  if (W <= w || H <= h) {
    ShowMessage("The texture sample must be larger than the autoregressive neighbourhood.");
    return;
  }
  v.RunOnFloat(
      [&](fpbuffer& layer) {
        layer.recordtexture(model, x0, y0, int(W), int(H), w, h);
        if (AllHeld(model)) FittedNeighbourhood() = {w, h};
      },
      true, true);
}

void OnTextureInpainting(CImageView& v, int id) {
  CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    f.CtrlHeld = false;
    v.SelectOperation(id, true);
    return;
  }
  if (!v.PrepareOperation(id) || !v.HasFloat()) return;
  const Neighbourhood n = FittedNeighbourhood();
  v.RunOnFloat([&](fpbuffer& layer) {
    bitmask* selection = v.selection.present() ? &v.selection : nullptr;
    layer.texturefill(TextureModel(), n.w, n.h, selection, LiveSettings().conditional != 0);
  });
}
