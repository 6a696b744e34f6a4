#include "numeric/matrixarray.h"

#include <algorithm>
#include <utility>

matrixarray::matrixarray(const matrixarray& other) {
  resize(other.n);
  for (int32_t i = 0; i < n; ++i) {
    if (!other.m[i].empty()) m[i] = other.m[i];
  }
}

matrixarray::matrixarray(matrixarray&& other) noexcept
    : n(std::exchange(other.n, 0)), m(std::exchange(other.m, nullptr)) {}

matrixarray& matrixarray::operator=(matrixarray&& other) noexcept {
  if (&other != this) {
    delete[] m;
    n = std::exchange(other.n, 0);
    m = std::exchange(other.m, nullptr);
  }
  return *this;
}

matrixarray& matrixarray::resize(int count) {
  if (count == n && m) return *this;
  free();
  if (count > 0) {
    m = new matrix[static_cast<size_t>(count)];
    n = count;
  }
  return *this;
}

matrixarray& matrixarray::dim(int count, int nx, int ny) {
  resize(count);
  for (int32_t i = 0; i < n; ++i) m[i].dim(nx, ny);
  return *this;
}

matrixarray& matrixarray::copy(const matrixarray& src) {
  if (&src == this || src.n == 0) return *this;
  resize(src.n);
  for (int32_t i = 0; i < n; ++i) {
    if (!src.m[i].empty()) m[i] = src.m[i];
  }
  return *this;
}

matrixarray& matrixarray::free() {
  delete[] m;
  m = nullptr;
  n = 0;
  return *this;
}

matrixarray& matrixarray::zero() {
  for (int32_t i = 0; i < n; ++i) m[i].zero();
  return *this;
}

matrixarray& matrixarray::mulscalar(float c) {
  for (int32_t i = 0; i < n; ++i) m[i].mulscalar(c);
  return *this;
}

matrixarray& matrixarray::scaleadd(float a, const matrixarray& other) {
  for (int32_t i = 0; i < std::min(n, other.n); ++i) m[i].scaleadd(a, other.m[i]);
  return *this;
}

double matrixarray::energy() const {
  double s = 0.0;
  for (int32_t i = 0; i < n; ++i) s += m[i].sumsq();
  return s;
}

matrixarray& matrixarray::atrous(matrix& plane, int levels) {
  dim(std::max(0, levels), plane.nx, plane.ny);
  for (int32_t i = 0; i < n; ++i) {
    // The element holds the plane as it was and serves as the smoothing's input, so the
    // plane (which may be a channel view) is written in place.
    m[i] = plane;
    plane.atrous(m[i], i);
    m[i].sub(plane);
  }
  return *this;
}

matrixarray& matrixarray::atrouspow(matrix& plane, const float p[8]) {
  matrix detail;
  for (int32_t i = 0; i < std::min(n, 8); ++i) {
    detail = plane;
    plane.atrous(detail, i);
    detail.sub(plane);
    // An element that is not yet the plane's size starts from zero, so the first image
    // of an accumulation needs no preparation and nothing is read past an element.
    if (m[i].nx != plane.nx || m[i].ny != plane.ny) m[i].dim(plane.nx, plane.ny).zero();
    m[i].addsignedpower(detail, p[i]);
  }
  return *this;
}

matrixarray& matrixarray::signedpow(const float p[8], float d) {
  for (int32_t i = 0; i < std::min(n, 8); ++i) {
    if (p[i] == -1.0f) continue;
    if (d != 1.0f) m[i].mulscalar(1.0f / d);
    m[i].signedpower(p[i]);
  }
  return *this;
}

matrixarray& matrixarray::write(const std::string& prefix, int number) {
  for (int32_t i = 0; i < n; ++i) m[i].write(ArrayElementName(prefix, number, i));
  return *this;
}

matrixarray& matrixarray::read(const std::string& prefix, int number, bool removeAfter) {
  for (int32_t i = 0; i < n; ++i) m[i].read(ArrayElementName(prefix, number, i), removeAfter);
  return *this;
}

matrixarray& matrixarray::remove(const std::string& prefix, int number) {
  for (int32_t i = 0; i < n; ++i) matrix::remove(ArrayElementName(prefix, number, i));
  return *this;
}
