#pragma once
// `dmatrix`: the double-precision twin of `matrix`, for tables that single precision
// cannot carry (tone-curve tables and their inverses, banded least-squares fits).
#include "numeric/matrix.h"
#include "numeric/plane.h"

class dmatrix : public planebase<double, dmatrix> {
 public:
  static constexpr const char* kName = "dmatrix";

  dmatrix() = default;
  dmatrix(int w, int h) { construct(w, h, "matrix(int,int)", "matrix::dmatrix(int,int)"); }
  dmatrix(const dmatrix& src) : planebase() {
    constructcopy(src, "(dmatrix::dmatrix(dmatrix&))", "matrix::dmatrix(dmatrix&)",
                  "matrix::dmatrix(dmatrix&)");
  }
  // Widens a float plane: same shape, ip copied.
  explicit dmatrix(const matrix& src) {
    constructcopy(src, "(dmatrix::dmatrix(dmatrix&))", "matrix::dmatrix(dmatrix&)",
                  "matrix::dmatrix(dmatrix&)");
  }
  dmatrix(dmatrix&& src) noexcept : planebase(std::move(src)) {}
  dmatrix& operator=(const dmatrix& src) {
    assignfrom(src);
    return *this;
  }
  dmatrix& operator=(dmatrix&& src) noexcept {
    moveassign(src);
    return *this;
  }

  dmatrix& zero();
  // Index of the element closest to v, the first on ties; 0 for an empty table.
  int nearest(double v) const;
  // Smallest x[i+1] - x[i]; 1e16 with fewer than two elements.
  double mingap() const;
  // The table's value at t in [0, 1], linear between entries, its end values outside.
  double lookup(double t) const;
  // This becomes the inverse function of the increasing table t over [0, 1].
  dmatrix& inverse(const dmatrix& t);
  // Penalised least-squares fit of this table to the samples: closeness with weight a
  // (b at the two ends) against the smoothness operator op. Unchanged when the sample
  // spacing does not divide the table.
  dmatrix& smoothfit(const matrix& op, const matrix& samples, double a, double b);
};
