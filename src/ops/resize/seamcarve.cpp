// Content-aware resizing of the float image: region marks, energies, and the carving
// driver over the seam maps of numeric/seam.h.
#include "ops/resize/seamcarve.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/seam.h"
#include "platform/errors.h"
#include "platform/parallel.h"

namespace {
// A mark is a value no image holds; the marks count from -1e15 down, so the fill that
// clears them (-1e-16) is not one.
constexpr float kMark = -1e16f;
constexpr float kCleared = -1e-16f;
constexpr float kMarkedBelow = -1e15f;

// Marks go to the scope's pixels whatever channels are visible.
constexpr ScopeRule kMarkRule{ScopeChannels::All, true};

fpbuffer& Mark(fpbuffer& image, int channel, bitmask* selection, bool cond) {
  if (image.n == 0 || image.channels < 3) return image;
  const OperationScope scope(image, selection, cond, kMarkRule);
  matrix& marked = image.plane[channel];
  matrix& third = image.plane[2];
  if (const bitmask* m = scope.mask()) {
    for (int k = 0; k < image.n; ++k) {
      if (!m->getbit(k)) continue;
      marked.x[k] = kMark;
      third.x[k] = kMark;
    }
    return image;
  }
  marked.fill(kCleared);
  third.fill(kMark);
  return image;
}

}  // namespace

bool HasSeamMarks(const fpbuffer& image) {
  if (image.channels < 3) return false;
  for (int k = 0; k < image.n; ++k) {
    if (image.plane[0].x[k] < kMarkedBelow || image.plane[1].x[k] < kMarkedBelow) return true;
  }
  return false;
}

namespace {
// The avoidance (channel 2) and removal (channel 1) marks as masks of the image's size;
// false, and both left empty, when no pixel is marked.
bool CollectMarks(const fpbuffer& image, bitmask& avoid, bitmask& remove) {
  if (!HasSeamMarks(image)) return false;
  const float* removal = image.plane[0].x;
  const float* avoidance = image.plane[1].x;
  avoid.dim(image.width, image.height);
  remove.dim(image.width, image.height);
  for (int k = 0; k < image.n; ++k) {
    avoid.setbit(k, avoidance[k] < kMarkedBelow);
    remove.setbit(k, removal[k] < kMarkedBelow);
  }
  return true;
}

double Square(double d) { return d * d; }

// The energy of type t (0-5) of the pixel at row i, column j of a w x h grid, read(c, i,
// j) giving channel c at a place inside the grid. Neighbours outside are reflected
// without repeating the edge (a line of one pixel reads itself).
template <class Read>
float PixelEnergy(int t, int i, int j, int w, int h, Read read) {
  const int up = ReflectWhole(i + 1, h), down = ReflectWhole(i - 1, h);
  const int right = ReflectWhole(j + 1, w), left = ReflectWhole(j - 1, w);
  const int channels = t % 2 == 0 ? 1 : 3;
  double sum = 0.0;
  for (int c = 0; c < channels; ++c) {
    if (t < 2) {
      sum += std::abs(double(read(c, up, j)) - read(c, down, j)) +
             std::abs(double(read(c, i, right)) - read(c, i, left));
      continue;
    }
    const double centre = read(c, i, j);
    const double axis = Square(read(c, up, j) - centre) + Square(read(c, down, j) - centre) +
                        Square(read(c, i, right) - centre) + Square(read(c, i, left) - centre);
    const double diagonal =
        Square(read(c, up, right) - centre) + Square(read(c, up, left) - centre) +
        Square(read(c, down, right) - centre) + Square(read(c, down, left) - centre);
    sum += 0.5 * diagonal + axis;
  }
  if (t == 2) return float(std::sqrt(sum));
  if (t == 3) return float(std::sqrt(sum) / 3.0);
  return float(channels == 3 ? sum / 3.0 : sum);
}

// The energies of the pixels from `before` places before to `after` places after the
// seam's position along each line, the lines being rows (vertical seams) or columns.
// Their neighbours are read through the map of the current w x h image; pixels of the
// region (when it has storage) keep their energies.
template <bool kVertical>
void UpdateAroundSeam(const fpbuffer& image, SeamEnergyMap& energy, const SeamIndexMap& map,
                      const cvector<int32_t>& seam, const bitmask& region, int w, int h, int type) {
  const bool guarded = region.present();
  const auto read = [&](int c, int i, int j) { return image.plane[c].x[map.line(i)[j]]; };
  const int lines = kVertical ? h : w, length = kVertical ? w : h;
  for (int line = 0; line < lines; ++line) {
    const int s = seam[line];
    for (int k = std::max(0, s - 2); k <= std::min(length - 1, s + 1); ++k) {
      const int i = kVertical ? line : k, j = kVertical ? k : line;
      if (guarded && region.getbit(map.line(i)[j])) continue;
      energy.line(i)[j] = PixelEnergy(type, i, j, w, h, read);
    }
  }
}

struct SeamJob {
  int width, height;
  float avoidance, removal;
  int type;  // 0-5
  bool update;
  int iterations;
  bool diagonal;
  float weight;
};

// The scratch files of the neighbour differences of channels 1-3 between two phases.
const char* const kDiffPrefix[3] = {"r", "g", "b"};
constexpr const char* kEnergyFile = "mag.mat";

// Carves one image, already in the energy's colour space, through one or two phases of
// seams; every plane is moved once per phase.
class Carver {
 public:
  Carver(fpbuffer& image, const SeamJob& job, bitmask& region)
      : image_(image), job_(job), region_(region) {}

  // Marked pixels take the avoidance energy, then the removal one.
  void run(const bitmask* avoid, const bitmask* remove) {
    image_.seamenergy(energy_, job_.type);
    for (int k = 0; avoid && k < energy_.n; ++k) {
      if (avoid->getbit(k)) energy_.x[k] = job_.avoidance;
    }
    for (int k = 0; remove && k < energy_.n; ++k) {
      if (remove->getbit(k)) energy_.x[k] = job_.removal;
    }
    const int dw = job_.width - image_.width, dh = job_.height - image_.height;
    const bool twoPhases = (dw > 0 && dh != 0) || (dh > 0 && dw != 0);
    if (!twoPhases) {
      phase(job_.width, job_.height);
      finish(false);
      return;
    }
    // The reduction goes first, then the enlargement; with both growing the height.
    const bool heightFirst = dh < 0 || (dh > 0 && dw > 0);
    std::vector<std::string> names{kEnergyFile};
    for (int c = 0; c < Channels() && blending(); ++c) {
      for (int k = 0; k < 4; ++k) names.push_back(ArrayElementName(kDiffPrefix[c], 0, k));
    }
    const ScratchFiles files(names);
    energy_.write(kEnergyFile);
    for (int c = 0; c < Channels() && blending(); ++c) {
      matrixarray d;
      image_.plane[c].neighbourdiffs(d, job_.diagonal);
      d.write(kDiffPrefix[c], 0);
    }
    if (heightFirst) {
      phase(image_.width, job_.height);
    } else {
      phase(job_.width, image_.height);
    }
    energy_.read(kEnergyFile, true).gatherindex(energy_, map_, width_, height_);
    region_.gatherindex(region_, map_, width_, height_);
    for (int c = 0; c < Channels() && blending(); ++c) {
      matrixarray d(4);
      d.read(kDiffPrefix[c], 0, true);
      for (int k = 0; k < 4; ++k) d[k].gatherindex(d[k], map_, width_, height_);
      d.write(kDiffPrefix[c], 0);
    }
    gatherImage();
    phase(job_.width, job_.height);
    finish(true);
  }

 private:
  int Channels() const { return std::min<int>(image_.channels, 3); }
  bool blending() const { return job_.iterations > 0; }

  // Takes out the seam just found, from the energies and the map, and with updates
  // measures the energies around it again.
  void takeVertical() {
    energies_.removevertical(seam_, width_, height_);
    map_.removevertical(seam_, width_, height_);
    if (job_.update) {
      UpdateAroundSeam<true>(image_, energies_, map_, seam_, region_, width_, height_, job_.type);
    }
  }
  void takeHorizontal() {
    energies_.removehorizontal(seam_, width_, height_);
    map_.removehorizontal(seam_, width_, height_);
    if (job_.update) {
      UpdateAroundSeam<false>(image_, energies_, map_, seam_, region_, width_, height_, job_.type);
    }
  }
  void removeVertical() {
    energies_.verticalseam(seam_, width_, height_);
    takeVertical();
  }
  void removeHorizontal() {
    energies_.horizontalseam(seam_, width_, height_);
    takeHorizontal();
  }

  // The map of one phase from the image as it stands to tw x th, which differs from it
  // in one direction only unless both shrink.
  void phase(int tw, int th) {
    const int w0 = image_.width, h0 = image_.height;
    map_.identity(w0, h0);
    energies_.assign(energy_);
    width_ = w0;
    height_ = h0;
    if (tw <= w0 && th <= h0) {
      while (width_ > tw) {
        removeVertical();
        if (height_ > th) removeHorizontal();
      }
      while (height_ > th) removeHorizontal();
      return;
    }
    // The seams that would go first are recorded, at most half the size of them, and
    // repeated in the enlarged map.
    SeamOrderMap order;
    order.dim(w0, h0);
    order.zero();
    if (tw > w0) {
      const int a = tw - w0, seams = std::min(a, (w0 + 1) / 2);
      for (int k = 1; k <= seams; ++k) {
        energies_.verticalseam(seam_, width_, height_);
        order.markvertical(map_, seam_, height_, k);
        takeVertical();
      }
      map_.widen(order, a);
      width_ = tw;
      height_ = h0;
      return;
    }
    const int a = th - h0, seams = std::min(a, (h0 + 1) / 2);
    for (int k = 1; k <= seams; ++k) {
      energies_.horizontalseam(seam_, width_, height_);
      order.markhorizontal(map_, seam_, width_, k);
      takeHorizontal();
    }
    map_.heighten(order, a);
    width_ = w0;
    height_ = th;
  }

  // The channels and the image's own mask through the map.
  void gatherImage() {
    if (image_.mask.covers(image_.width, image_.height)) {
      image_.mask.gatherindex(image_.mask, map_, width_, height_);
    } else {
      image_.mask.free();
    }
    for (int c = 0; c < image_.channels; ++c) {
      image_.plane[c].gatherindex(image_.plane[c], map_, width_, height_);
    }
    image_.syncviews();
  }

  // The last map applied; with blending each channel is rebuilt from its differences,
  // taken on the channel before carving (or carried from the first phase).
  void finish(bool carried) {
    if (!blending()) return gatherImage();
    if (job_.weight != 0.0f) {
      region_.gatherindex(region_, map_, width_, height_);
    } else {
      region_.free();
    }
    std::vector<matrixarray> diffs(static_cast<size_t>(Channels()));
    for (int c = 0; c < Channels(); ++c) {
      matrixarray& d = diffs[size_t(c)];
      if (carried) {
        d.resize(4).read(kDiffPrefix[c], 0, true);
      } else {
        image_.plane[c].neighbourdiffs(d, job_.diagonal);
      }
      for (int k = 0; k < 4; ++k) d[k].gatherindex(d[k], map_, width_, height_);
    }
    gatherImage();
    const bitmask* pinned = region_.present() ? &region_ : nullptr;
    for (int c = 0; c < Channels(); ++c) {
      image_.plane[c].gradientcg(job_.iterations, diffs[size_t(c)], job_.diagonal, pinned,
                                 job_.weight);
    }
  }

  fpbuffer& image_;
  const SeamJob& job_;
  bitmask& region_;
  matrix energy_;           // of the image at the start of the phase
  SeamEnergyMap energies_;  // of the pixels now in the map
  SeamIndexMap map_;
  cvector<int32_t> seam_;
  int width_ = 0, height_ = 0;
};

bool WithinBounds(int target, int size) {
  return target >= 1 && target >= size / 2 - 1 && int64_t(target) <= 2 * int64_t(size);
}
}  // namespace

CSpaceCode SeamEnergySpace(int type) {
  const bool colour = type % 2 != 0;
  if (type >= 6) return colour ? cspace::kLogRGB : cspace::kYCbCr2;
  return colour ? cspace::kRGB : cspace::kYCbCr;
}

fpbuffer& fpbuffer::markavoidance(bitmask* selection, bool cond) {
  return Mark(*this, 1, selection, cond);
}

fpbuffer& fpbuffer::markremoval(bitmask* selection, bool cond) {
  return Mark(*this, 0, selection, cond);
}

const fpbuffer& fpbuffer::seamenergy(matrix& energy, int type) const {
  energy.dim(width, height);
  const int w = width, h = height;
  const auto read = [this, w](int c, int i, int j) { return plane[c].x[int64_t(i) * w + j]; };
  ParallelBlocks(h, BlockFor(int64_t(w) * 9), [&](int64_t begin, int64_t end) {
    for (int i = int(begin); i < int(end); ++i) {
      for (int j = 0; j < w; ++j) energy.z[i][j] = PixelEnergy(type, i, j, w, h, read);
    }
  });
  return *this;
}

fpbuffer& fpbuffer::seamcarve(fpbuffer* unmarked, int w, int h, float avoidance, float removal,
                              int type, bool update, int iterations, bool diagonal, float weight) {
  if (n == 0) return *this;
  if (!WithinBounds(w, width) || !WithinBounds(h, height)) {
    throw TextException("Width and height must be between half and twice that of original.");
  }
  bitmask avoid, remove;
  const bool marked = CollectMarks(*this, avoid, remove);
  const bool fromCopy = unmarked && unmarked->n > 0 && unmarked->width == width &&
                        unmarked->height == height && unmarked->channels == channels;
  // Carving the marked image would carry the marks' huge values into the result.
  if (marked && !fromCopy) {
    throw TextException("The unmarked image is missing; mark the regions again.");
  }
  type = std::clamp(type, 0, 11);
  // The work is done on a copy, so that a failure leaves both this image and the unmarked
  // copy as they were.
  fpbuffer work;
  work.copy(fromCopy ? *unmarked : *this);
  const CSpaceCode kept = work.code;
  work.convert(SeamEnergySpace(type) | (kept & cspace::kVisibleBits));
  bitmask region;
  const SeamJob job{w, h, avoidance, removal, type % 6, update, iterations, diagonal, weight};
  Carver carver(work, job, region);
  if (marked) {
    region.assign(avoid).orwith(remove);
  }
  carver.run(marked ? &avoid : nullptr, marked ? &remove : nullptr);
  work.convert(kept);
  swapwith(work);
  if (fromCopy) unmarked->clear();
  return *this;
}
