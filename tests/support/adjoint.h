#pragma once
// One check for every linear operator and its transpose: for random u and v,
// <F u, v> must equal <u, F^T v>. Operators map a plane to a stack of planes (one plane
// for most) and back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "numeric/matrix.h"

using PlaneStack = std::vector<matrix>;
using PlaneSize = std::pair<int, int>;  // width, height
using ForwardOp = std::function<PlaneStack(const matrix&)>;
using AdjointOp = std::function<matrix(const PlaneStack&)>;

namespace adjointdetail {
inline matrix RandomPlane(PlaneSize size, uint32_t& seed) {
  // dim keeps the shape of an empty plane (a 1-wide plane's 0 x h differences), which
  // the transposes read their sizes from.
  matrix m;
  m.dim(size.first, size.second);
  for (int k = 0; k < m.n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    m.x[k] = float(seed >> 8) / float(1 << 23) - 1.0f;
  }
  return m;
}

inline double Dot(const matrix& a, const matrix& b) {
  double s = 0.0;
  for (int k = 0; k < a.n; ++k) s += double(a.x[k]) * b.x[k];
  return s;
}

inline std::string Shape(const matrix& m) {
  return std::to_string(m.n > 0 ? m.nx : 0) + "x" + std::to_string(m.n > 0 ? m.ny : 0);
}
}  // namespace adjointdetail

// The forward operator must give planes of outSizes from a plane of inSize, the adjoint a
// plane of inSize; the two inner products must agree within `tolerance` relative to the
// Cauchy-Schwarz bound |F u| |v|, for a few random pairs.
inline ::testing::AssertionResult CheckAdjoint(const ForwardOp& forward, const AdjointOp& adjoint,
                                               PlaneSize inSize,
                                               const std::vector<PlaneSize>& outSizes,
                                               double tolerance = 1e-5) {
  using namespace adjointdetail;
  uint32_t seed = 12345u + uint32_t(inSize.first) * 977u + uint32_t(inSize.second);
  for (int trial = 0; trial < 3; ++trial) {
    const matrix u = RandomPlane(inSize, seed);
    PlaneStack v;
    for (PlaneSize s : outSizes) v.push_back(RandomPlane(s, seed));
    const PlaneStack fu = forward(u);
    const matrix atv = adjoint(v);
    if (fu.size() != v.size()) return ::testing::AssertionFailure() << "wrong plane count";
    double lhs = 0.0, fuNorm = 0.0, vNorm = 0.0;
    for (size_t i = 0; i < v.size(); ++i) {
      if (fu[i].n != v[i].n || (v[i].n > 0 && (fu[i].nx != v[i].nx || fu[i].ny != v[i].ny))) {
        return ::testing::AssertionFailure()
               << "plane " << i << " is " << Shape(fu[i]) << ", expected " << Shape(v[i]);
      }
      lhs += Dot(fu[i], v[i]);
      fuNorm += Dot(fu[i], fu[i]);
      vNorm += Dot(v[i], v[i]);
    }
    if (atv.n != u.n || (u.n > 0 && (atv.nx != u.nx || atv.ny != u.ny))) {
      return ::testing::AssertionFailure()
             << "adjoint gives " << Shape(atv) << ", expected " << Shape(u);
    }
    const double rhs = Dot(u, atv);
    const double bound = std::sqrt(fuNorm * vNorm) + std::sqrt(Dot(u, u) * Dot(atv, atv));
    if (std::fabs(lhs - rhs) > tolerance * std::max(bound, 1e-30)) {
      return ::testing::AssertionFailure() << "<Fu,v> = " << lhs << " but <u,F'v> = " << rhs;
    }
  }
  return ::testing::AssertionSuccess();
}

// The same for an operator-list entry pair (a forward LinearOp and the adjoint that adds
// into a gradient plane of the image's size), the residual's size taken from the entry.
inline ::testing::AssertionResult CheckEntryAdjoint(LinearOp forward, LinearOp adjoint,
                                                    PlaneSize inSize) {
  matrix probe;
  forward(probe, matrix(inSize.first, inSize.second).fill(0.0f));
  return CheckAdjoint(
      [&](const matrix& u) {
        matrix o;
        return PlaneStack{forward(o, u)};
      },
      [&](const PlaneStack& v) {
        matrix o = matrix(inSize.first, inSize.second).fill(0.0f);
        return adjoint(o, v[0]);
      },
      inSize, {{probe.nx, probe.ny}});
}
