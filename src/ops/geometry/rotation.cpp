// Rotation by any angle and the registrations by two and four point pairs: the queue
// points (entry 0 the newest) are where features go, the last left clicks (newest last in
// the history) where they are; pair k joins the k-th newest of each.
#include <array>
#include <utility>

#include "app/imageview.h"
#include "numeric/warp.h"
#include "ops/geometry/geometry.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/ui.h"

namespace ops::geometry {
namespace {
void EndOfCommand() {
  CommandFlags& f = Flags();
  f.F2Active = f.F3Active = f.CtrlHeld = false;
}

Point Click(const CImageView& v, int k) { return v.clickHistory[v.clickHistory.size() - 1 - k]; }
Point Queue(const CImageView& v, int k) { return v.queuePoints[size_t(k)]; }

// From the menu the command becomes the current operation and shows its page, whose
// answer changes nothing.
bool SelectedFromMenu(CImageView& v, int id, int page) {
  const CommandFlags& f = Flags();
  if (f.F2Active || f.F3Active) return false;
  v.SelectOperation(id, true);
  Dialog2(LiveSettings()).RunPage(page, 1, 0);
  EndOfCommand();
  return true;
}

void SingularPoints(const char* text, const std::string& caption) {
  GetUi().MessageBox(text, caption, MessageStyle{});
  EndOfCommand();
}
}  // namespace

void OnRotateArbitraryAngle(CImageView& v, int id) {
  if (!v.PrepareOperation(id)) return EndOfCommand();
  const bool inverse = Flags().F3Active;
  const GeometryParams& p = LiveSettings().geometry;
  const float angle = p.rotationAngle, dx = p.rotationHorizontalOffset,
              dy = p.rotationVerticalOffset;
  const int iterations = p.rotationAccuracyIterations;
  v.RunOnFloat([&](fpbuffer& l) { l.rotate(angle, dx, dy, inverse, iterations); });
  EndOfCommand();
}

void OnManualTwoPointRegistration(CImageView& v, int id) {
  if (SelectedFromMenu(v, id, 44)) return;
  const Point q0 = Queue(v, 0), q1 = Queue(v, 1), c0 = Click(v, 0), c1 = Click(v, 1);
  // Both records divide by the squared distance of their output points.
  if ((q0.x == q1.x && q0.y == q1.y) || (c0.x == c1.x && c0.y == c1.y)) {
    return SingularPoints("Try two other points.", "Singular Matrix");
  }
  const auto f = [](Point p) { return std::pair<float, float>(float(p.x), float(p.y)); };
  const auto [qx0, qy0] = f(q0);
  const auto [qx1, qy1] = f(q1);
  const auto [cx0, cy0] = f(c0);
  const auto [cx1, cy1] = f(c1);
  SimilarityParams p = SimilarityFromTwoPoints(qx1, qy1, qx0, qy0, cx1, cy1, cx0, cy0);
  SimilarityParams q = SimilarityFromTwoPoints(cx1, cy1, cx0, cy0, qx1, qy1, qx0, qy0);
  if (Flags().F3Active) std::swap(p, q);
  const int iterations = LiveSettings().geometry.twoPointAccuracyIterations;
  v.RunOnFloat([&](fpbuffer& l) { l.warp(p, q, false, iterations); });
  EndOfCommand();
}

void OnManualFourPointRegistration(CImageView& v, int id) {
  if (SelectedFromMenu(v, id, 45)) return;
  const GeometryParams& g = LiveSettings().geometry;
  const fpbuffer& layer = v.currentLayer();
  std::array<Point, 4> moving{Click(v, 0), Click(v, 1), Click(v, 2), Click(v, 3)};
  bool forward = Flags().F2Active;
  if (g.perspectiveCrop) {
    const int w = layer.width, h = layer.height;
    moving = {Point{0, h - 1}, Point{w - 1, h - 1}, Point{w - 1, 0}, Point{0, 0}};
    forward = !forward;
  }
  // Points 3..0 in that order, as x, y pairs.
  std::array<float, 8> m, q;
  for (int k = 0; k < 4; ++k) {
    const Point a = moving[size_t(3 - k)], b = Queue(v, 3 - k);
    m[size_t(2 * k)] = float(a.x);
    m[size_t(2 * k + 1)] = float(a.y);
    q[size_t(2 * k)] = float(b.x);
    q[size_t(2 * k + 1)] = float(b.y);
  }
  HomographyParams p, back;
  try {
    p = forward ? HomographyFromFourPoints(m, q) : HomographyFromFourPoints(q, m);
    back = forward ? HomographyFromFourPoints(q, m) : HomographyFromFourPoints(m, q);
  } catch (const TextException& e) {
    return SingularPoints("Try four other points.", e.text());
  }
  const int iterations = g.fourPointAccuracyIterations;
  v.RunOnFloat([&](fpbuffer& l) { l.warp(p, back, true, iterations); });
  EndOfCommand();
}
}  // namespace ops::geometry
