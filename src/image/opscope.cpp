#include "image/opscope.h"

#include "image/colorspace.h"
#include "numeric/bitmask.h"

namespace {
bool FitsImage(const bitmask* m, const fpbuffer& image) {
  return m != nullptr && m->present() && m->width == image.width && m->height == image.height;
}
}  // namespace

OperationScope::OperationScope(fpbuffer& image, bitmask* selection, bool cond, ScopeRule rule) {
  channels_ = image.channels;
  bool visibleOnly =
      rule.channels == ScopeChannels::Visible || (rule.channels == ScopeChannels::ByCond && cond);
  bits_ = visibleOnly ? (image.code & cspace::kVisibleBits) : 0xFu;
  if (!rule.pixels) return;
  bitmask* chosen = FitsImage(selection, image) ? selection : nullptr;
  if ((cond || rule.imageMaskAlways) && FitsImage(&image.mask, image)) {
    if (chosen)
      chosen->andwith(image.mask);
    else
      chosen = &image.mask;
  }
  mask_ = chosen;
}

bool OperationScope::selected(int64_t k) const {
  return mask_ == nullptr || mask_->getbit(static_cast<int>(k));
}
