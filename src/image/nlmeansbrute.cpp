#include "image/nlmeansbrute.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "platform/parallel.h"

namespace {
double Weight(int distribution, float x) {
  switch (distribution) {
    case 1:
      return 1.0 / (1.0 + x);
    case 2:
      return std::exp(-std::sqrt(double(x)));
    case 4:
      return std::fabs(x) <= 1.0f ? 1.0 : 0.0;
    default:
      return std::exp(-double(x));
  }
}
}  // namespace

fpbuffer NlMeansBrute(const fpbuffer& in, float h, int b, int c, bool median, int distribution,
                      bool combined, bool cond, bool modification) {
  fpbuffer out = in;
  const int nx = in.width, ny = in.height, m = 2 * b + 1, t = 2 * c + 1;
  auto at = [&](int k, int y, int x) {
    x = x < 0 ? -x - 1 : (x >= nx ? 2 * nx - 1 - x : x);
    y = y < 0 ? -y - 1 : (y >= ny ? 2 * ny - 1 - y : y);
    return double(in.plane[k].z[y][x]);
  };
  std::vector<std::vector<int>> groups;
  if (combined) {
    groups.push_back({0, 1, 2});
  } else {
    for (int k = 0; k < in.channels; ++k) {
      if (!cond || ((in.code >> k) & 1u)) groups.push_back({k});
    }
  }
  for (const std::vector<int>& g : groups) {
    const float q = float(1.0 / (double(g.size()) * h * h * t * t));
    ParallelBlocks(ny, 1, [&](int64_t y0, int64_t y1) {
      std::vector<double> w, values;
      std::vector<size_t> order;
      for (int y = int(y0); y < y1; ++y) {
        for (int x = 0; x < nx; ++x) {
          const int sy = std::clamp(y - b, 0, ny - m), sx = std::clamp(x - b, 0, nx - m);
          w.clear();
          for (int yy = sy; yy < sy + m; ++yy) {
            for (int xx = sx; xx < sx + m; ++xx) {
              double d = 0.0;
              for (int k : g) {
                for (int u = -c; u <= c; ++u) {
                  for (int v = -c; v <= c; ++v) {
                    const double e = at(k, y + u, x + v) - at(k, yy + u, xx + v);
                    d += e * e;
                  }
                }
              }
              double wi = Weight(distribution, float(d * q));
              if (yy == y && xx == x && modification) wi *= 1e-8;
              w.push_back(wi);
            }
          }
          const double total = std::accumulate(w.begin(), w.end(), 0.0);
          for (int k : g) {
            values.clear();
            for (int yy = sy; yy < sy + m; ++yy) {
              for (int xx = sx; xx < sx + m; ++xx) values.push_back(at(k, yy, xx));
            }
            double result = 0.0;
            if (!median) {
              for (size_t i = 0; i < w.size(); ++i) result += w[i] * values[i];
              result /= total;
            } else {
              // Ties of the cumulative weight with one half are common (Uniform gives equal
              // weights), so the weights are normalised and summed in single precision as
              // the filter defines them.
              float fsum = 0.0f;
              for (double wi : w) fsum += float(wi);
              const float scale = 1.0f / fsum;
              order.resize(values.size());
              std::iota(order.begin(), order.end(), size_t(0));
              std::stable_sort(order.begin(), order.end(),
                               [&](size_t i, size_t j) { return values[i] < values[j]; });
              float sum = 0.0f;
              result = values[order.back()];
              for (size_t i : order) {
                sum += float(w[i]) * scale;
                if (sum > 0.5) {
                  result = values[i];
                  break;
                }
              }
            }
            out.plane[k].z[y][x] = float(result);
          }
        }
      }
    });
  }
  return out;
}
