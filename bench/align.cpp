// Registration beside OpenCV (the Python binding, bench/align_peers.py), with one thread
// and with all of them. Pictures are band-limited textures drawn at exact sub-pixel
// positions, so every truth is known:
// - translational estimates (precision 0.1) from 1 to 24 Mpixel beside cv2.phaseCorrelate
//   and findTransformECC (TRANSLATION), and align_image_stack (hugin-tools; the mean offset
//   of its control points) when installed: mean error and ms/MP;
// - block fields (block 16, radius 3, smoothing 1) of a smooth 1-3 px displacement beside
//   DISOpticalFlow MEDIUM: mean endpoint error and ms/MP;
// - the rotational estimate at angles from 2 to 44 degrees beside findTransformECC
//   (EUCLIDEAN): angle error, time, and the angles where either fails (error above 0.5);
// - the six-tap warp beside warpAffine LANCZOS4;
// - the resized search on 4000 x 200: a coarsest search of range 8 timed and its rate
//   applied to the pairs the full range would score.
// Times are wall clock; "cpu" columns are process CPU time (ours at one thread, the peers'
// over all their threads), steadier on a shared machine.
// Run: bench_align [--only translational|blocks|rotation|resized] [--no-peers]
// [max Mpixel, default 24]. Without python3-opencv the peers are skipped.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "numeric/align.h"
#include "numeric/warp.h"
#include "ops/stacking/align.h"
#include "platform/parallel.h"

using namespace ops::stacking;

namespace {
constexpr double kPi = 3.14159265358979;
std::filesystem::path dir;
bool peers = true;

// Smooth value noise at three scales (5, 17 and 61 pixels): texture in every direction and
// at every pyramid level. A sum of a few sinusoids will not do: at the coarse levels only
// the lowest one survives, a stripe pattern along which every search slides.
double Lattice(int i, int j, uint32_t salt) {
  uint32_t h = uint32_t(i) * 73856093u ^ uint32_t(j) * 19349663u ^ salt;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return double(h & 0xFFFF) / 65535.0 - 0.5;
}
double ValueNoise(double x, double y, double cell, uint32_t salt) {
  const double u = x / cell, v = y / cell;
  const int i = int(std::floor(u)), j = int(std::floor(v));
  const double fu = u - i, fv = v - j;
  const double su = fu * fu * (3 - 2 * fu), sv = fv * fv * (3 - 2 * fv);
  const double a = Lattice(i, j, salt), b = Lattice(i + 1, j, salt);
  const double c = Lattice(i, j + 1, salt), d = Lattice(i + 1, j + 1, salt);
  return (a * (1 - su) + b * su) * (1 - sv) + (c * (1 - su) + d * su) * sv;
}
double Texture(double x, double y) {
  return 120.0 + 80.0 * ValueNoise(x, y, 5.0, 1) + 80.0 * ValueNoise(x, y, 17.0, 2) +
         80.0 * ValueNoise(x, y, 61.0, 3);
}

// A YCbCr image whose luminance is the texture at map(x, y); the chroma planes are flat.
template <class Map>
fpbuffer Draw(int w, int h, Map map) {
  fpbuffer f;
  f.dimunset(w, h, 0x20007);
  f.plane[1].fill(0);
  f.plane[2].fill(0);
  float* p = f.plane[0].x;
  ParallelBlocks(h, 16, [&](int64_t b, int64_t e) {
    for (int64_t y = b; y < e; ++y)
      for (int x = 0; x < w; ++x) {
        double u = x, v = double(y);
        map(u, v);
        p[y * w + x] = float(Texture(u, v));
      }
  });
  return f;
}

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

double ProcessCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::string Save(const matrix& m, const std::string& name) {
  const std::filesystem::path p = dir / name;
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(m.x), std::streamsize(m.n) * 4);
  return p.string();
}

std::vector<std::string> Peer(const std::string& args) {
  std::vector<std::string> lines;
  if (!peers) return lines;
  const std::string cmd =
      "/usr/bin/python3 " ZEP_BENCH_DIR "/align_peers.py " + args + " 2>/dev/null";
  if (FILE* f = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, f)) lines.emplace_back(buf);
    pclose(f);
  }
  return lines;
}

int AllThreads() {
  SetParallelThreads(0);
  return ParallelThreads();
}

void Translational(double maxMp) {
  std::printf("\nTranslational estimates (precision 0.1), 3 shifts per size\n");
  std::printf("%6s %9s %9s %9s %9s | %9s %9s %9s | %9s %9s %9s | %9s %9s %9s\n", "MP", "ours err",
              "1thr ms/MP", "cpu", "all ms/MP", "phase err", "ms/MP", "cpu", "ECC err", "ms/MP",
              "cpu", "AIS err", "ms/MP", "cpu");
  uint32_t seed = 99;
  auto rnd = [&] {
    seed = seed * 1664525u + 1013904223u;
    return double(seed >> 8) / double(1 << 24) * 40.0 - 20.0;
  };
  for (double mp : {1.0, 4.0, 12.0, 24.0}) {
    if (mp > maxMp) break;
    const int w = int(std::sqrt(mp * 1e6 * 1.5)), h = int(mp * 1e6 / w);
    const fpbuffer reference = Draw(w, h, [](double&, double&) {});
    matrixarray t;
    t.alignpyramid(reference, 0);
    const std::string tf = Save(reference.plane[0], "t.f32");
    // Per peer: summed error, seconds, CPU seconds and the number of estimates.
    struct PeerSums {
      double err = 0, sec = 0, cpu = 0;
      int n = 0;
    } phase, ecc, ais;
    double err = 0, one = 0, oneCpu = 0, all = 0;
    for (int k = 0; k < 3; ++k) {
      const double dx = rnd(), dy = rnd();
      const fpbuffer image = Draw(w, h, [&](double& u, double& v) {
        u -= dx;
        v -= dy;
      });
      SetParallelThreads(1);
      const double c0 = ProcessCpu();
      auto s = std::chrono::steady_clock::now();
      ShiftEstimate e = estimatefast(image, t, 0.1f);
      one += Since(s);
      oneCpu += ProcessCpu() - c0;
      SetParallelThreads(0);
      s = std::chrono::steady_clock::now();
      e = estimatefast(image, t, 0.1f);
      all += Since(s);
      err += std::hypot(e.sx + dx, e.sy + dy);
      const std::string imf = Save(image.plane[0], "i.f32");
      for (const std::string& line :
           Peer("shift " + std::to_string(w) + " " + std::to_string(h) + " " + tf + " " + imf)) {
        char name[64];
        double a = 0, b = 0, sec = 0, cpu = 0;
        if (std::sscanf(line.c_str(), "%63s %lf %lf %lf %lf", name, &a, &b, &sec, &cpu) != 5)
          continue;
        const std::string peer = name;
        PeerSums& sums = peer == "phaseCorrelate" ? phase : peer == "alignImageStack" ? ais : ecc;
        sums.err += std::hypot(a - dx, b - dy);
        sums.sec += sec;
        sums.cpu += cpu;
        ++sums.n;
      }
    }
    auto msmp = [&](double sec, int n) { return n ? 1000.0 * sec / n / mp : NAN; };
    std::printf("%6.0f %9.4f %9.1f %9.1f %9.1f", mp, err / 3, msmp(one, 3), msmp(oneCpu, 3),
                msmp(all, 3));
    for (const PeerSums* p : {&phase, &ecc, &ais}) {
      std::printf(" | %9.4f %9.1f %9.1f", p->n ? p->err / p->n : NAN, msmp(p->sec, p->n),
                  msmp(p->cpu, p->n));
    }
    std::printf("\n");
  }
}

void Blocks(double maxMp) {
  std::printf("\nBlock fields of a smooth 1-3 px displacement (block 16, radius 3, smoothing 1)\n");
  std::printf("%6s %9s %9s %9s %9s | %9s %9s %9s %9s\n", "MP", "ours EPE", "1thr ms/MP", "cpu",
              "all ms/MP", "DIS EPE", "ms/MP", "cpu", "EPE ratio");
  for (double mp : {1.0, 4.0}) {
    if (mp > maxMp) break;
    const int w = int(std::sqrt(mp * 1e6 * 1.5)), h = int(mp * 1e6 / w);
    auto U = [&](double x, double y) {
      return 2.0 + std::cos(2 * kPi * x / w) * std::sin(kPi * y / h);
    };
    auto V = [&](double x, double y) {
      return 2.0 - 0.8 * std::sin(2 * kPi * y / h) * std::cos(kPi * x / w);
    };
    const fpbuffer reference = Draw(w, h, [](double&, double&) {});
    // image(p) = T(p - d(p)): the content moved by d.
    const fpbuffer image = Draw(w, h, [&](double& u, double& v) {
      const double du = U(u, v), dv = V(u, v);
      u -= du;
      v -= dv;
    });
    matrixarray t;
    t.alignpyramid(reference, 1);
    SetParallelThreads(1);
    const double c0 = ProcessCpu();
    auto s = std::chrono::steady_clock::now();
    BlockFields f = estimateblock(image, t, 16, 3, 1.0f);
    const double one = Since(s), oneCpu = ProcessCpu() - c0;
    SetParallelThreads(0);
    s = std::chrono::steady_clock::now();
    f = estimateblock(image, t, 16, 3, 1.0f);
    const double all = Since(s);
    const BlockGrid grid(w, h, 16);
    matrix dx, dy;
    BlockFieldToPixels(dx, f.dx, grid);
    BlockFieldToPixels(dy, f.dy, grid);
    // Ours samples the image at x - d(x) to match T(x): -d = U(x - d), by fixed point.
    double ours = 0;
    int64_t count = 0;
    for (int y = 32; y < h - 32; y += 3)
      for (int x = 32; x < w - 32; x += 3) {
        double tu = 0, tv = 0;
        for (int k = 0; k < 6; ++k) {
          const double nu = -U(x - tu, y - tv), nv = -V(x - tu, y - tv);
          tu = nu, tv = nv;
        }
        ours += std::hypot(dx.z[y][x] - tu, dy.z[y][x] - tv);
        ++count;
      }
    ours /= double(count);
    const std::string tf = Save(reference.plane[0], "t.f32"), imf = Save(image.plane[0], "i.f32");
    const std::string ff = (dir / "flow.f32").string();
    double dis = NAN, disSec = NAN, disCpu = NAN;
    for (const std::string& line : Peer("flow " + std::to_string(w) + " " + std::to_string(h) +
                                        " " + tf + " " + imf + " " + ff)) {
      if (std::sscanf(line.c_str(), "dis %lf %lf", &disSec, &disCpu) != 2) continue;
      std::vector<float> flow(size_t(w) * h * 2);
      std::ifstream(ff, std::ios::binary)
          .read(reinterpret_cast<char*>(flow.data()), std::streamsize(flow.size() * 4));
      // DIS: T(x) = image(x + f): f = U(x + f).
      double e = 0;
      for (int y = 32; y < h - 32; y += 3)
        for (int x = 32; x < w - 32; x += 3) {
          double tu = 0, tv = 0;
          for (int k = 0; k < 6; ++k) {
            const double nu = U(x + tu, y + tv), nv = V(x + tu, y + tv);
            tu = nu, tv = nv;
          }
          e += std::hypot(flow[size_t(y) * w + x] - tu,
                          flow[size_t(w) * h + size_t(y) * w + x] - tv);
        }
      dis = e / double(count);
    }
    std::printf("%6.0f %9.4f %9.1f %9.1f %9.1f | %9.4f %9.1f %9.1f %9.2f\n", mp, ours,
                1000 * one / mp, 1000 * oneCpu / mp, 1000 * all / mp, dis, 1000 * disSec / mp,
                1000 * disCpu / mp, ours / dis);
  }
}

void Rotation() {
  const int w = 1224, h = 816;
  const double mp = w * h / 1e6;
  std::printf("\nRotational estimate on %d x %d (all threads), angle errors in degrees\n", w, h);
  std::printf("%6s %11s %11s | %11s %11s\n", "angle", "ours err", "ours s", "ECC err", "ECC s");
  const fpbuffer reference = Draw(w, h, [](double&, double&) {});
  matrixarray t;
  t.alignpyramid(reference, 0);
  const std::string tf = Save(reference.plane[0], "t.f32");
  const double cx = (w - 1) * 0.5, cy = (h - 1) * 0.5;
  for (double deg : {2.0, 10.0, 20.0, 30.0, 44.0}) {
    const double th = deg * kPi / 180;
    // The image is the texture turned by th: image(p) = T(R(-th)(p - c) + c).
    const fpbuffer image = Draw(w, h, [&](double& u, double& v) {
      const double x = u - cx, y = v - cy, c = std::cos(th), s = std::sin(th);
      u = cx + c * x + s * y;
      v = cy - s * x + c * y;
    });
    const auto st = std::chrono::steady_clock::now();
    const RotationEstimate r = estimaterotation(image, t, 0.7853982f, 0.008726646f, false, 1);
    const double sec = Since(st);
    double ecc = NAN, eccSec = NAN;
    const std::string imf = Save(image.plane[0], "i.f32");
    for (const std::string& line :
         Peer("rotate " + std::to_string(w) + " " + std::to_string(h) + " " + tf + " " + imf)) {
      double a, b, c2, d;
      if (std::sscanf(line.c_str(), "ecc %lf %lf %lf %lf", &a, &b, &c2, &d) == 4) {
        ecc = std::fabs(std::fabs(a) - th) * 180 / kPi;
        eccSec = d;
      } else if (std::sscanf(line.c_str(), "ecc failed %lf", &d) == 1) {
        eccSec = d;
      }
    }
    // The estimate is the turn that brings the image back onto the template: -th.
    std::printf("%6.0f %11.5f %11.2f | %11.5f %11.2f\n", deg, std::fabs(r.theta + th) * 180 / kPi,
                sec, ecc, eccSec);
  }
  // The six-tap warp of the application beside warpAffine LANCZOS4.
  fpbuffer image(reference);
  const auto st = std::chrono::steady_clock::now();
  ApplyRotation(image, {float(10 * kPi / 180), 0, 0}, 0);
  const double ours = Since(st) / 3;  // three channels
  double peer = NAN;
  for (const std::string& line :
       Peer("warp " + std::to_string(w) + " " + std::to_string(h) + " " + tf))
    std::sscanf(line.c_str(), "warp %lf", &peer);
  std::printf("six-tap warp %.1f ms/MP, warpAffine LANCZOS4 %.1f ms/MP\n", 1000 * ours / mp,
              1000 * peer / mp);
}

void ResizedSearch() {
  const int w = 4000, h = 200;
  const fpbuffer reference = Draw(w, h, [](double&, double&) {});
  matrixarray t;
  t.alignpyramid(reference, 0);
  matrixarray p;
  p.alignpyramid(Draw(w, h, [](double& u, double&) { u -= 3; }), t.n);
  const matrix& c = t[t.n - 1];
  float W = float(w), H = float(h);
  for (int k = 1; k < t.n; ++k) W *= 0.5f, H *= 0.5f;
  auto pairs = [&](float range) {
    const std::vector<float> a = SearchValues(0, range, 1), b = SearchValues(0, range, 1);
    const std::vector<float> a2 = SearchValues(H, range, 1), b2 = SearchValues(W, range, 1);
    const float d = std::sqrt(W * W + H * H);
    double n = 0;
    for (float y1 : a)
      for (float x1 : b)
        for (float y2 : a2)
          for (float x2 : b2) {
            const float q = std::sqrt((x2 - x1) * (x2 - x1) + (y2 - y1) * (y2 - y1)) / d;
            n += q >= 0.9f && q <= 1.5f;
          }
    return n;
  };
  float x1 = 0, y1 = 0, x2 = W, y2 = H;
  const auto st = std::chrono::steady_clock::now();
  TwoPointSearch(p[t.n - 1], c, W, H, x1, y1, x2, y2, 8, 1, 1, 0.9f, 1.5f);
  const double sec = Since(st);
  const float R = float(std::max(c.nx, c.ny) / 2);
  const double few = pairs(8), full = pairs(R);
  std::printf("\nResized search on %d x %d: coarsest level %d x %d, range %.0f\n", w, h, c.nx, c.ny,
              R);
  std::printf(
      "range 8: %.0f pairs scored in %.2f s; the full range scores %.3g pairs: about %.3g s\n", few,
      sec, full, sec * full / few);
}
}  // namespace

int main(int argc, char** argv) {
  std::string only;
  double maxMp = 24.0;
  for (int k = 1; k < argc; ++k) {
    if (std::string(argv[k]) == "--only" && k + 1 < argc) {
      only = argv[++k];
    } else if (std::string(argv[k]) == "--no-peers") {
      peers = false;
    } else {
      maxMp = std::atof(argv[k]);
    }
  }
  auto run = [&](const char* name) { return only.empty() || only == name; };
  dir = std::filesystem::temp_directory_path() / ("zep_bench_align_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::printf("threads: %d\n", AllThreads());
  if (run("translational")) Translational(maxMp);
  if (run("blocks")) Blocks(maxMp);
  if (run("rotation")) Rotation();
  if (run("resized")) ResizedSearch();
  for (const char* name : {"t.f32", "i.f32", "flow.f32"}) std::filesystem::remove(dir / name);
  std::filesystem::remove(dir);
  return 0;
}
