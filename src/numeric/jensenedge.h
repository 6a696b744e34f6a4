#pragma once
// The Jensen edge model: a straight line through a window separating two constant levels,
// found from the window's first and second angular moments. Shared by the edge
// enhancement of the filters and the Jensen enlargement of the resamplers. The members of
// `matrix` (momentkernel, shortesthalf) and `bitmask` (edgedetect) that go with it are
// declared with their classes.

// The mean Euclidean distance of the cells of an n x n block from its centre: the sum over
// all cells divided by n^2 for even n and by n^2 - 1 for odd n (the centre cell is not
// counted); 0 for n below 2.
float MeanDistanceFromCentre(int n);

class matrix;

// The four moments of an n x n window (row by row) with the kernels
// matrix::momentkernel(n, 1..4): the sums of cell times kernel cell. The kernels sum to 0,
// so the window's mean is taken off first, which leaves every moment as it is and those of
// a flat window exactly 0.
void EdgeMoments(const float* window, int n, const matrix kernels[4], float moments[4]);

// The offset r of the edge line y sin(theta) + x cos(theta) + r = 0 from the moments:
// rho (cos 2 theta m3 + sin 2 theta m4) / (cos theta m1 + sin theta m2).
float EdgeLineOffset(float rho, float theta, float m1, float m2, float m3, float m4);

// -1 when y s + x c + r >= 0 (the side the angle points to), else +1.
inline int SideOfLine(float x, float y, float r, float s, float c) {
  return y * s + x * c + r >= 0 ? -1 : 1;
}

// Adds to the three cells the blend of the side values at (x, y) with the line (r, s, c)
// and the total weight: with k != 0 the side the point lies on gets
// weight / (1 + exp(-k |F|)) of it and the other side the rest, F = y s + x c + r; with
// k = 0 that side gets it all, and a point on the line half each.
void BlendJensenEdge(float* cell0, float* cell1, float* cell2, float x, float y, float r, float s,
                     float c, const float plus[3], const float minus[3], float k, float weight);

// One window's fitted edge: the line (r, s, c) as for SideOfLine, and the values of up to
// three planes on its -1 side (minus) and +1 side (plus).
struct EdgeModel {
  float r, s, c;
  float plus[3], minus[3];
};

// The fit of n x n windows (odd or even n) of a dominant plane: moments, angle, line
// offset, the sides of the cells (coordinates from the window's centre, half-integers
// for even n), the accept test (the residual about the side means at most accept^2
// times the spread about the mean) and the side values of each colour plane, the
// shortest-half estimate with robust, else the mean. A side without cells rejects the
// window with robust or rejectEmptySide; otherwise its mean is 0. Holds its own scratch
// space: one object per thread.
class EdgeWindowFit {
 public:
  // colours: the planes whose side values are wanted; a null plane gives 0.
  EdgeWindowFit(const matrix& dominant, const matrix* const colours[3], int n, float accept,
                bool robust, bool rejectEmptySide);
  ~EdgeWindowFit();
  EdgeWindowFit(const EdgeWindowFit&) = delete;
  EdgeWindowFit& operator=(const EdgeWindowFit&) = delete;

  // The model of the window whose first row is top and first column left, or false.
  bool Fit(int top, int left, EdgeModel& m);

 private:
  struct Work;
  Work* work_;
};
