// Seamless cloning run long enough lands on the minimiser of its least-squares energy: the
// problem is rebuilt independently in Python from the pictures and the region alone (rings,
// pairs, targets, light-level factor, gradient mixing) and solved by scipy's lsqr from the
// same start values.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "image/fpbuffer.h"
#include "support/zep_test.h"

namespace {
const char* kOracle = R"(
import sys
import numpy as np
from scipy.sparse import coo_matrix
from scipy.sparse.linalg import lsqr

folder, W, H, mode, a, w = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), \
    float(sys.argv[5]), float(sys.argv[6])
D = np.fromfile(folder + '/d.f32', np.float32).astype(np.float64)
S = np.fromfile(folder + '/s.f32', np.float32).astype(np.float64)
R = np.fromfile(folder + '/r.u8', np.uint8).astype(bool)
n = W * H

def neighbours(k):
    x, y = k % W, k // W
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            if dx or dy:
                yield min(max(x + dx, 0), W - 1) + W * min(max(y + dy, 0), H - 1)

outer = [k for k in range(n) if not R[k] and any(R[j] for j in neighbours(k))]
inner = [k for k in range(n) if R[k] and any(not R[j] for j in neighbours(k))]
pairs = {'ih': [], 'iv': [], 'bh': [], 'bv': []}
for y in range(H - 1):
    for x in range(W - 1):
        b = x + W * y
        for far, name in ((b + 1, 'h'), (b + W, 'v')):
            if R[b] and R[far]:
                pairs['i' + name].append(b)
            elif R[b] != R[far]:
                pairs['b' + name].append(b)
step = {'ih': 1, 'bh': 1, 'iv': W, 'bv': W}
g = {k: np.array([S[b + step[k]] - S[b] for b in v]) for k, v in pairs.items()}
e = D[outer]
s = 1.0
if mode in (3, 4) and inner and outer:
    m = S[inner].mean()
    if m != 0:
        s = e.sum() / (len(outer) * m)
for k in g:
    g[k] = g[k] * s
mixed = ['ih', 'iv', 'bh', 'bv'] if mode == 1 else ['bh', 'bv'] if mode in (2, 4) else []
for k in mixed:
    own = np.array([D[b + step[k]] - D[b] for b in pairs[k]])
    g[k] = np.where(np.abs(g[k]) < np.abs(own), own, g[k])

x = D.copy()
x[R] = s * S[R]
V = sorted(set(outer) | {b for v in pairs.values() for b in v})
col = {k: i for i, k in enumerate(V)}
rows, cols, vals, rhs = [], [], [], []

def equation(terms, value):
    # terms: (pixel, coefficient); fixed pixels move to the right-hand side.
    r = len(rhs)
    for k, c in terms:
        if k in col:
            rows.append(r); cols.append(col[k]); vals.append(c)
        else:
            value -= c * x[k]
    rhs.append(value)

for k, ek in zip(outer, e):
    equation([(k, a)], a * ek)
for name in ('ih', 'iv', 'bh', 'bv'):
    f = w if name[0] == 'b' else 1.0
    for b, t in zip(pairs[name], g[name]):
        equation([(b + step[name], f), (b, -f)], f * t)
A = coo_matrix((vals, (rows, cols)), shape=(len(rhs), len(V))).tocsr()
x0 = x[V]
result = lsqr(A, np.array(rhs), x0=x0, atol=1e-14, btol=1e-14, iter_lim=100000)[0]
x[V] = result
x.astype(np.float32).tofile(folder + '/lsqr.f32')
)";

float Dest(int x, int y) { return 90.0f + 30.0f * std::sin(0.5f * x) + 2.0f * y; }
float Source(int x, int y) { return 40.0f + 25.0f * std::cos(0.7f * x + 0.3f * y) + 0.5f * x * y; }

void Write(const std::filesystem::path& path, const void* data, size_t bytes) {
  std::ofstream(path, std::ios::binary)
      .write(static_cast<const char*>(data), std::streamsize(bytes));
}

using CloneLsqrTest = ZepTest;
}  // namespace

TEST_F(CloneLsqrTest, EnoughIterationsReachTheLsqrMinimiser) {
  if (std::system("/usr/bin/python3 -c 'import numpy, scipy.sparse.linalg' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-scipy is not installed";
  }
  std::ofstream(home / "oracle.py") << kOracle;
  const int W = 16, H = 13;
  struct Case {
    const char* name;
    int mode;
    bool (*inside)(int x, int y);
  };
  const Case cases[] = {
      // A disc in the middle: every channel of the solve, normal mode.
      {"disc, mode 0", 0, [](int x, int y) { return (x - 7) * (x - 7) + (y - 6) * (y - 6) <= 12; }},
      // Against the right and top edges: R pixels there are no base pixels.
      {"corner, mode 4", 4, [](int x, int y) { return x >= 10 && y >= 7; }},
      {"band, mode 1", 1, [](int x, int y) { return y >= 4 && y <= 8 && x >= 2 && x <= 12; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fpbuffer d(W, H, 0x17), s(W, H, 0x17);
    std::vector<uint8_t> region(size_t(W) * H);
    d.clearmask();
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        for (int ch = 0; ch < 3; ++ch) {
          d.plane[ch].z[y][x] = Dest(x, y);
          s.plane[ch].z[y][x] = Source(x, y);
        }
        region[size_t(y) * W + x] = c.inside(x, y);
        d.mask.set(x, y, c.inside(x, y));
      }
    }
    Write(home / "d.f32", d.plane[0].x, sizeof(float) * size_t(d.n));
    Write(home / "s.f32", s.plane[0].x, sizeof(float) * size_t(s.n));
    Write(home / "r.u8", region.data(), region.size());
    SeamlessClone(d, s, 3000, 2.0f, 3.0f, c.mode, nullptr);
    const std::string command = "/usr/bin/python3 '" + (home / "oracle.py").string() + "' '" +
                                home.string() + "' " + std::to_string(W) + " " + std::to_string(H) +
                                " " + std::to_string(c.mode) + " 2 3";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<float> want(size_t(W) * H);
    std::ifstream(home / "lsqr.f32", std::ios::binary)
        .read(reinterpret_cast<char*>(want.data()), std::streamsize(want.size() * 4));
    for (int k = 0; k < W * H; ++k) {
      ASSERT_NEAR(d.plane[0].x[k], want[size_t(k)], 0.01f) << k % W << "," << k / W;
    }
  }
}
