// Every loop that runs on the parallel helper gives the same bytes, the same progress ticks
// and the same cancel behaviour with any number of threads.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "app/paint.h"
#include "fileio/fits.h"
#include "fileio/png.h"
#include "fileio/test_tiff.h"
#include "fileio/tiff.h"
#include "image/fpbuffer.h"
#include "image/rgbbuffer.h"
#include "numeric/align.h"
#include "numeric/matrixarray.h"
#include "numeric/noiseshrink.h"
#include "numeric/pyramid.h"
#include "numeric/resample.h"
#include "numeric/triangulate.h"
#include "numeric/warp.h"
#include "ops/resize/ifs.h"
#include "ops/resize/resize.h"
#include "ops/stacking/align.h"
#include "ops/stacking/edof.h"
#include "ops/stacking/stack.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "platform/progress.h"
#include "support/zep_test.h"

namespace {

// The folder of the running test, for the file rows.
std::filesystem::path work;

// A busy picture: every block sees other values, and no two rows are alike.
float Busy(int c, int x, int y) {
  const uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(c) * 977u;
  return 20.0f + 200.0f * float(h % 1000u) / 1000.0f +
         10.0f * std::sin(0.11f * float(x) + 0.07f * float(y));
}

// Sizes whose heights (and widths) are multiples of no block size, from 1x1 up to one that
// spreads every loop over many blocks.
struct Size {
  int w, h;
};
constexpr Size kSizes[] = {{1, 1}, {1, 263}, {263, 1}, {311, 131}};

fpbuffer MakeImage(Size s, CSpaceCode code = cspace::kDefault) {
  fpbuffer f(s.w, s.h, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < s.h; ++y) {
      for (int x = 0; x < s.w; ++x) f.plane[c].z[y][x] = Busy(c, x, y);
    }
  }
  if (code != cspace::kDefault) f.convert(code);
  return f;
}

std::string Bytes(const fpbuffer& f) {
  std::string b = std::to_string(f.width) + "x" + std::to_string(f.height) + ":";
  for (int c = 0; c < f.channels; ++c) {
    b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.plane[c].n) * sizeof(float));
  }
  return b;
}
std::string Bytes(const matrix& m) {
  return std::to_string(m.nx) + "x" + std::to_string(m.ny) + ":" +
         std::string(reinterpret_cast<const char*>(m.x), size_t(m.n) * sizeof(float));
}
std::string Bytes(const DisplayBitmap& b) {
  return std::to_string(b.width()) + "x" + std::to_string(b.height()) + ":" +
         std::string(reinterpret_cast<const char*>(b.data()), size_t(b.bytes()));
}

DisplayBitmap Rendered(const fpbuffer& f) {
  DisplayBitmap b(f.width, f.height);
  if (f.n) f.todib(b.toprow());
  return b;
}

matrix Kernel1(std::initializer_list<float> v) {
  matrix k(int(v.size()), 1);
  int i = 0;
  for (float x : v) k.x[i++] = x;
  return k;
}

// An operation on an image of a size, giving its result as bytes.
struct Operation {
  const char* name;
  std::function<std::string(Size)> run;
};

std::string OnPlane(Size s, const std::function<void(matrix& out, const matrix& in)>& f) {
  const fpbuffer image = MakeImage(s);
  matrix out;
  f(out, image.plane[1]);
  return Bytes(out);
}

std::string ScaledForDisplay(Size s, int code, int outW, int outH) {
  const DisplayBitmap source = Rendered(MakeImage(s));
  DisplayBitmap out(outW, outH);
  rgbbuffer from(const_cast<uint8_t*>(source.toprow()), source.width(), source.height());
  rgbbuffer to(out.toprow(), outW, outH);
  ScaleForDisplay(from, to, code, 3, -0.5f);
  return Bytes(out);
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file written from the image and read back into an image of the same space: the
// file's bytes and the image read.
std::string ThroughFile(Size s, CSpaceCode code, const char* name,
                        const std::function<bool(const fpbuffer&, const std::string&)>& write,
                        const std::function<bool(fpbuffer&, const std::string&)>& read) {
  const std::string path = (work / name).string();
  const fpbuffer image = MakeImage(s, code);
  if (!write(image, path)) return "not written";
  fpbuffer back(1, 1, code);
  if (!read(back, path)) return "not read";
  return FileBytes(path) + Bytes(back);
}

// A plane of many sum blocks and a few elements more.
matrix LongPlane(Size s) {
  matrix m(s.w * s.h * 3 + 16387, 1);
  for (int k = 0; k < m.n; ++k) m.x[k] = Busy(k % 3, k, k / 7) - 100.0f;
  return m;
}

std::string Doubles(std::initializer_list<double> v) {
  std::string b;
  for (double d : v) b.append(reinterpret_cast<const char*>(&d), sizeof d);
  return b;
}

std::vector<Operation> Operations() {
  std::vector<Operation> ops;
  ops.push_back({"block sums", [](Size s) {
                   const matrix a = LongPlane(s), b = LongPlane({s.h, s.w + 1});
                   matrix c(b.n, 1);
                   for (int k = 0; k < c.n; ++k) c.x[k] = b.x[b.n - 1 - k];
                   return Doubles({a.sum(), a.sumsq(), matrix::dot(a, c)});
                 }});
  ops.push_back({"whole-pixel geometry with the mask", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.clearmask();
                   for (int k = 0; k < f.n; k += 3) f.mask.setbit(k, true);
                   f.rotate90().vflip().hflip().roll(3, -2).rotate90();
                   return Bytes(f) + std::string(reinterpret_cast<const char*>(f.mask.bits),
                                                 size_t(f.mask.words) * 4);
                 }});
  ops.push_back(
      {"warps with their marks", [](Size s) {
         fpbuffer f = MakeImage(s);
         f.clearmask();
         f.rotate(23, 0.5f, -1.25f, false, 2);
         weighttable6 table;
         table.lanczos3(1000);
         HomographyParams h(8, 1);
         const float values[8] = {1.01f, 0.04f, -2, -0.02f, 0.98f, 1, 1e-3f, -2e-3f};
         std::copy(values, values + 8, h.x);
         matrix p(f.width, f.height), b;
         p.WarpPerspective6Tap(f.plane[0], h, table, &f.mask);
         b.WarpSimilarityBicubic(f.plane[1], RotateShiftTransform(1, 2, 0.3f, 0, 0), &f.mask);
         return Bytes(f) + Bytes(p) + Bytes(b) +
                std::string(reinterpret_cast<const char*>(f.mask.bits), size_t(f.mask.words) * 4);
       }});
  ops.push_back({"conjugate gradients", [](Size s) {
                   const fpbuffer f = MakeImage(s);
                   matrix d1, d2;
                   f.plane[0].diagdiff(d1, d2, false);
                   matrix x(f.plane[1]);
                   x.poissoncg(6, d1, d2);
                   return Bytes(x);
                 }});
  // A file of many deflate pieces and more than one band of rows.
  ops.push_back({"PNG of many pieces", [](Size s) {
                   const std::filesystem::path path = work / "tall.png";
                   const fpbuffer f = MakeImage({s.w, s.h * 64});
                   return WritePng(f, path.string(), 8, 6) == nullptr ? FileBytes(path)
                                                                      : "not written";
                 }});
  for (bool diagonal : {false, true}) {
    ops.push_back({"pyramid conjugate gradients", [diagonal](Size s) {
                     const fpbuffer f = MakeImage(s);
                     matrixarray gauss, g1, g2;
                     f.plane[0].gradpyramid(gauss, g1, g2, 4, diagonal);
                     matrix x(f.plane[1]);
                     x.pyramidcg(6, g1, g2, 4, diagonal);
                     return Bytes(x);
                   }});
    ops.push_back({"multiresolution conjugate gradients", [diagonal](Size s) {
                     const fpbuffer f = MakeImage(s);
                     matrixarray levels, g1, g2;
                     MultiresolutionGradients(f.plane[0], 3, levels, g1, g2, diagonal);
                     matrix x(f.plane[1]);
                     x.multiresolutioncg(6, g1, g2, diagonal);
                     return Bytes(x);
                   }});
  }
  // Planes tall enough for several row bands in the fused solvers' passes.
  for (bool diagonal : {false, true}) {
    ops.push_back({"pyramid solvers over several row bands", [diagonal](Size s) {
                     matrix a(16, 16600 + s.w + s.h), start(a.nx, a.ny);
                     for (int y = 0; y < a.ny; ++y) {
                       for (int x = 0; x < a.nx; ++x) {
                         a.z[y][x] = Busy(0, x, y);
                         start.z[y][x] = Busy(1, x, y);
                       }
                     }
                     matrixarray levels, g1, g2;
                     a.gradpyramid(levels, g1, g2, 4, diagonal);
                     matrix x(start), y(start);
                     x.pyramidcg(4, g1, g2, 4, diagonal);
                     MultiresolutionGradients(a, 3, levels, g1, g2, diagonal);
                     y.multiresolutioncg(4, g1, g2, diagonal);
                     return Bytes(x) + Bytes(y);
                   }});
  }
  // A ragged region over several row bands of the cloning solve's passes.
  ops.push_back({"seamless-cloning solve", [](Size s) {
                   const fpbuffer f = MakeImage(s);
                   bitmask region(s.w, s.h);
                   for (int y = 0; y < s.h; ++y)
                     for (int x = 0; x < s.w; ++x)
                       region.set(x, y, x > 0 && (x + 2 * y) % 9 != 0 && 3 * y < 2 * s.h + 2);
                   cvector<int> outer, ih, iv, bh, bv;
                   region.ringlist(outer, false).pairlists(ih, iv, bh, bv);
                   matrix e, gih, giv, gbh, gbv, x(f.plane[0]);
                   x.listgather(1.0f, outer, e);
                   f.plane[1].listdiffx(ih, gih, 1.0f).listdiffy(iv, giv, 1.0f);
                   f.plane[1].listdiffx(bh, gbh, 1.0f).listdiffy(bv, gbv, 1.0f);
                   x.poissoncg(8, 2.0f, outer, e, ih, gih, iv, giv, 3.0f, bh, gbh, bv, gbv);
                   return Bytes(x);
                 }});
  ops.push_back({"levels match", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.plane[0].matchlevels(f.plane[2], 5.0f, 2.5f);
                   return Bytes(f);
                 }});
  // Planes of several radix-sort blocks with ties and signs: the rank transforms and the
  // disc median of the tone maps' outlier removal.
  ops.push_back({"rank transforms and small disc medians over several blocks", [](Size s) {
                   matrix a(40, 5000 + s.w + s.h), b(a.nx, a.ny);
                   for (int y = 0; y < a.ny; ++y) {
                     for (int x = 0; x < a.nx; ++x) {
                       a.z[y][x] = std::round(Busy(0, x, y) * 0.1f) - 8.0f;
                       b.z[y][x] = Busy(1, x, y);
                     }
                   }
                   matrix levels(a), ranks(a), scaled(b), median(b);
                   levels.matchlevels(b, 5.0f, 2.5f);
                   ranks.rankequalize(0);
                   scaled.rankequalize(3);
                   median.discmedian(3, nullptr, false);
                   return Bytes(levels) + Bytes(ranks) + Bytes(scaled) + Bytes(median);
                 }});
  ops.push_back({"brightness/contrast template", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   matrix levels;
                   float mean = 0, rms = 0;
                   f.plane[2].bctemplate(levels, mean, rms, 0);
                   f.plane[0].bcadjust(levels, mean, rms);
                   return Bytes(f) + Bytes(levels);
                 }});
  ops.push_back({"gamma keeping copies of the channels", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.gammaguarded(2.2, nullptr, false);
                   return Bytes(f);
                 }});
  for (int mode : {1, 2, 3}) {
    ops.push_back({"stack combination", [mode](Size s) {
                     ops::stacking::StackScratch scratch;
                     for (int k = 0; k < 5; ++k) {
                       fpbuffer f = MakeImage(s);
                       for (int c = 0; c < 3; ++c) {
                         for (int i = 0; i < f.n; ++i) f.plane[c].x[i] += float(7 * k * (i % 3));
                       }
                       if (scratch.WriteRaw(f, k)) return std::string("not written");
                     }
                     fpbuffer out = MakeImage(s);
                     // Three rows a block, so tall images take many blocks.
                     ops::stacking::CombineRawFiles(out, scratch.files(), mode, 200,
                                                    12 * uint64_t(s.w) * 5 * 3);
                     return Bytes(out);
                   }});
  }
  for (int mode : {4, 7, 8}) {
    ops.push_back({"focus stacking", [mode](Size s) {
                     StackParams& p = LiveSettings().stack;
                     p.SetDefaults();
                     p.stackLevelParams[0] = 3;
                     p.edof2Tolerance2 = 4;
                     p.edof3PoissonIterations = 4;
                     CImageView v;
                     const ops::stacking::StackSteps steps =
                         ops::stacking::ExtendedDofSteps(v, mode);
                     fpbuffer out = MakeImage(s), other = MakeImage(s);
                     for (int c = 0; c < 3; ++c) {
                       for (int i = 0; i < out.n; ++i)
                         other.plane[c].x[i] = out.plane[c].x[out.n - 1 - i];
                     }
                     steps.first(out);
                     steps.further(other, 1);
                     steps.final(out, 2);
                     return Bytes(out);
                   }});
  }
  for (CSpaceCode code : {cspace::kDefault, cspace::kLAB | 7u, cspace::kCMYK | 15u}) {
    for (int bits : {8, 16}) {
      ops.push_back({"PNG written and read", [code, bits](Size s) {
                       return ThroughFile(
                           s, code, "t.png",
                           [&](const fpbuffer& f, const std::string& p) {
                             return WritePng(f, p, bits, 6) == nullptr;
                           },
                           [](fpbuffer& f, const std::string& p) {
                             ImageFileInfo info;
                             LoadPng(f, p, info);
                             return info.message == nullptr;
                           });
                     }});
    }
    ops.push_back({"FITS written and read", [code](Size s) {
                     return ThroughFile(
                         s, code, "t.fits",
                         [](const fpbuffer& f, const std::string& p) {
                           return WriteFits(f, p, -32, 0) == nullptr;
                         },
                         [](fpbuffer& f, const std::string& p) {
                           ImageFileInfo info;
                           return ReadFits(f, p, info) == nullptr;
                         });
                   }});
    ops.push_back({"TIFF of separate planes read", [code](Size s) {
                     const std::filesystem::path path = work / "planes.tif";
                     if (!WriteTestTiff(path, s.w, s.h, 16, 3, true)) return std::string("no file");
                     fpbuffer f(1, 1, code);
                     return ReadTiffFloat(f, path.string()) == kTiffRead ? Bytes(f) : "not read";
                   }});
  }
  ops.push_back({"alignment reduction, six-tap shifts and field warp", [](Size s) {
                   const fpbuffer f = MakeImage(s);
                   matrix k, half, across, both, dx(s.w, s.h), dy(s.w, s.h), warped;
                   half.downsample(f.plane[1], k.DownscaleKernel(2, 3, 0.0f, 0.0f), 2);
                   bitmask marks;
                   across.shiftx(f.plane[1], 1.3f, &marks);
                   both.shifty(across, -0.7f, &marks);
                   for (int q = 0; q < dx.n; ++q) {
                     dx.x[q] = 2.5f * std::sin(0.05f * float(q));
                     dy.x[q] = -1.5f * std::cos(0.03f * float(q));
                   }
                   weighttable6 table;
                   table.lanczos3(1000);
                   bitmask fieldMarks;
                   warped.warpfield(f.plane[0], dx, dy, table, &fieldMarks);
                   std::string bits;
                   for (int q = 0; q < marks.n; ++q) bits += char('0' + marks.getbit(q) + 2 * fieldMarks.getbit(q));
                   return Bytes(half) + Bytes(both) + Bytes(warped) + bits;
                 }});
  ops.push_back({"block alignment fields", [](Size s) {
                   const fpbuffer f = MakeImage(s), g = MakeImage({s.h, s.w});
                   matrix other(f.plane[2]);
                   for (int q = 0; q < other.n; ++q) other.x[q] = g.plane[0].x[q];
                   const matrix* planes[1] = {&f.plane[0]};
                   const matrix* refs[1] = {&other};
                   const BlockGrid grid(s.w, s.h, 16);
                   BlockFields b;
                   BlockIntegerSearch(planes, refs, 1, 2, grid, b);
                   BlockActivity(refs, 1, grid, b.activity);
                   b.dx.smoothfield(b.activity, 1.0f);
                   BlockRefine(planes, refs, 1, 2, grid, b);
                   return Bytes(b.dx) + Bytes(b.dy) + Bytes(b.cost) + Bytes(b.activity);
                 }});
  ops.push_back({"fast translational estimate", [](Size s) {
                   const fpbuffer f = MakeImage(s), g = MakeImage({s.h, s.w});
                   fpbuffer moved(f);
                   for (int q = 0; q < moved.plane[0].n; ++q) moved.plane[0].x[q] = g.plane[0].x[q % g.plane[0].n];
                   matrixarray t;
                   t.alignpyramid(f, 0);
                   const ops::stacking::ShiftEstimate e = ops::stacking::estimatefast(moved, t, 0.1f);
                   return std::string(reinterpret_cast<const char*>(&e), sizeof e);
                 }});
  ops.push_back({"half- and quarter-pixel shifts", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   shifthalf(f, false);
                   shiftquarter(f);
                   return Bytes(f);
                 }});
  for (int order : {1, -3, 5}) {
    ops.push_back({"data-dependent Lanczos doubling", [order](Size s) {
                     fpbuffer f = MakeImage(s);
                     bytemaps maps;
                     ddl(f, 0, order, 2, true, true, false, false, maps, true);
                     return Bytes(f);
                   }});
  }
  ops.push_back({"Jensen edge model and Jensen-DDL", [](Size s) {
                   fpbuffer f = MakeImage(s), J;
                   bytemaps counts;
                   jensen2x(J, counts, f, 0.45f, 0.04f, 10, 5, 1, true);
                   jddl(f, 1, 0, 3, true, JensenModel{}, false, false);
                   return Bytes(J) + Bytes(f);
                 }});
  ops.push_back({"back-projection", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   BackProjection bp;
                   bp.mode1 = 4;
                   bp.iterations1 = 2;
                   bpddl(f, 0, bp, false, 0, 3, 1, false, nullptr);
                   return Bytes(f);
                 }});
  ops.push_back({"reductions along polyphase lines", [](Size s) {
                   const fpbuffer f = MakeImage(s);
                   std::string bytes;
                   for (int ratio : {2, 4}) {
                     matrix kx, ky, out;
                     BuildReductionKernel(kx, ratio == 2 ? 4 : 0, false, s.w, ratio);
                     BuildReductionKernel(ky, ratio == 2 ? 4 : 0, false, s.h, ratio);
                     bytes += Bytes(ReduceByKernels(out, f.plane[0], kx, ky));
                   }
                   return bytes;
                 }});
  for (bool twelve : {false, true}) {
    ops.push_back({"Jensen-Xin Li and the back-projected Xin Li cores", [twelve](Size s) {
                     XinLiModel xl;
                     xl.twelve = twelve;
                     BackProjection bp;
                     bp.mode1 = 4;
                     bp.iterations1 = 2;
                     fpbuffer f = MakeImage(s), g = f, h = f;
                     jensenxinli(f, 1, 0, xl, true, JensenModel{}, false);
                     bpxl(g, 0, bp, false, 1, xl, 1, nullptr);
                     bpjxl(h, 0, JensenModel{}, bp, false, 0, xl, 1, nullptr);
                     return Bytes(f) + Bytes(g) + Bytes(h);
                   }});
  }
  ops.push_back({"modified B-spline", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   mbs(f, 0, 3, false);
                   return Bytes(f);
                 }});
  ops.push_back({"repeated moving averages", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.plane[1].boxblur(5, 3);
                   return Bytes(f.plane[1]);
                 }});
  ops.push_back({"pseudo-inverse with Super Rez", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.pseudoinverseenlarge(2, 3, 5, 0, 0, 0, {6, 2, 0.2f, 20, 0.1f, 2});
                   return Bytes(f);
                 }});
  ops.push_back({"New DDL with back-projection", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.newddl(1, 3, 5, 3, 1, 0, 0, 1, {6, 2, 0.2f, 20, 0.1f, 2}, true);
                   return Bytes(f);
                 }});
  ops.push_back({"Windowless Xin Li with back-projection", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.windowless(0.2f, 1, 0.1f, 20, 6, true, 1, 1, true, true, 1, 3, 7, 0, 0,
                                {6, 2, 0.1f, 20, 0, 2});
                   return Bytes(f);
                 }});
  for (double scale : {0.43, 2.3}) {
    ops.push_back({"lanczos3", [scale](Size s) {
                     fpbuffer f = MakeImage(s);
                     resizelanczos(f, 3, scale, 1 / scale, 0.25, 0, false, true, true);
                     return Bytes(f);
                   }});
    ops.push_back({"bicubic", [scale](Size s) {
                     fpbuffer f = MakeImage(s);
                     resizebicubic(f, -0.5f, scale, scale, 0, 0, false, true);
                     return Bytes(f);
                   }});
    ops.push_back({"bilinear", [scale](Size s) {
                     fpbuffer f = MakeImage(s);
                     resizebilinear(f, scale, 1 / scale, 0, 0, false, true);
                     return Bytes(f);
                   }});
    ops.push_back({"separable subtracting", [scale](Size s) {
                     const fpbuffer f = MakeImage(s);
                     matrix kx, ky, out;
                     BuildLanczosKernelForScale(kx, 3, s.w, scale, 0, true);
                     BuildBicubicKernelForScale(ky, -0.5, s.h, scale, 0, true);
                     out.dim(kx.ny, ky.ny).fill(7.0f);
                     ResampleSeparable(out, f.plane[0], kx, ky, true);
                     return Bytes(out);
                   }});
    ops.push_back({"stair", [scale](Size s) {
                     fpbuffer f = MakeImage(s);
                     stair(f, 3, scale, scale, 0, 0, false, 1.2, -0.5f, true, true);
                     return Bytes(f);
                   }});
    ops.push_back({"triangulation", [scale](Size s) {
                     fpbuffer f = MakeImage(s);
                     triangulate(f, 0.5f, 2, scale, 1 / scale, 0.1, 0, false);
                     return Bytes(f);
                   }});
    ops.push_back({"bitmap resample", [scale](Size s) {
                     const DisplayBitmap source = Rendered(MakeImage(s));
                     matrix kx, ky;
                     BuildLanczosKernelForScale(kx, 3, s.w, scale, 0, true);
                     BuildLanczosKernelForScale(ky, 3, s.h, 1 / scale, 0, true);
                     DisplayBitmap out(kx.ny, ky.ny);
                     rgbbuffer from(const_cast<uint8_t*>(source.toprow()), s.w, s.h);
                     rgbbuffer to(out.toprow(), kx.ny, ky.ny);
                     to.resample(from, kx, ky, true, true);
                     return Bytes(out);
                   }});
    ops.push_back({"bitmap triangulation", [scale](Size s) {
                     const DisplayBitmap source = Rendered(MakeImage(s));
                     const int w = ResizedLength(s.w, scale), h = ResizedLength(s.h, scale);
                     DisplayBitmap out(w, h);
                     rgbbuffer from(const_cast<uint8_t*>(source.toprow()), s.w, s.h);
                     rgbbuffer to(out.toprow(), w, h);
                     to.triangulate(from, 0.0, 0.0, true);
                     return Bytes(out);
                   }});
    for (int code = kFitAreaAverage; code <= kFitNearest; ++code) {
      ops.push_back({"fitted display", [scale, code](Size s) {
                       return ScaledForDisplay(s, code, ResizedLength(s.w, scale),
                                               ResizedLength(s.h, scale));
                     }});
    }
  }
  const matrix k5 = Kernel1({0.1f, 0.2f, 0.4f, 0.2f, 0.1f}), k3 = Kernel1({-1, 2, -1});
  ops.push_back({"correlatex", [=](Size s) {
                   return OnPlane(s, [&](matrix& o, const matrix& i) { o.correlatex(k5, i); });
                 }});
  ops.push_back({"correlatey", [=](Size s) {
                   return OnPlane(s, [&](matrix& o, const matrix& i) { o.correlatey(k5, i); });
                 }});
  ops.push_back({"correlatexy", [=](Size s) {
                   return OnPlane(s, [&](matrix& o, const matrix& i) { o.correlatexy(k5, k3, i); });
                 }});
  ops.push_back({"setscatterxy", [=](Size s) {
                   return OnPlane(s,
                                  [&](matrix& o, const matrix& i) { o.setscatterxy(k5, k3, i); });
                 }});
  ops.push_back({"correlate 2-D", [](Size s) {
                   matrix k(3, 3);
                   for (int j = 0; j < 9; ++j) k.x[j] = 0.05f * float(j + 1);
                   return OnPlane(s, [&](matrix& o, const matrix& i) { o.correlate(k, i); });
                 }});
  ops.push_back({"atrous", [](Size s) {
                   return OnPlane(s, [](matrix& o, const matrix& i) { o.atrous(i, 2); });
                 }});
  ops.push_back({"atrous shrinkage", [](Size s) {
                   std::string bytes;
                   for (int mode : {0, 1}) {
                     bytes += OnPlane(s, [mode](matrix& o, const matrix& i) {
                       matrix factors(3, 1);
                       factors.x[0] = 6.0f, factors.x[1] = 2.0f, factors.x[2] = 0.5f;
                       o = i;
                       matrixarray work;
                       AtrousShrink(o, factors, mode, work);
                     });
                   }
                   return bytes;
                 }});
  ops.push_back({"gaussian blur", [](Size s) {
                   return OnPlane(s, [](matrix& o, const matrix& i) {
                     o = i;
                     o.gaussblurx(2.5f, 0).gaussblury(1.5f, 0);
                   });
                 }});
  ops.push_back({"unsharp gaussian", [](Size s) {
                   return OnPlane(s, [](matrix& o, const matrix& i) {
                     o = i;
                     o.unsharp(UnsharpSmoother(0), 2, UnsharpResponse, 1, 0, 0, 255, nullptr);
                   });
                 }});
  ops.push_back({"correlatexadj", [=](Size s) {
                   return OnPlane(s, [&](matrix& o, const matrix& i) { o.correlatexadj(k5, i); });
                 }});
  ops.push_back({"isophote smoothing", [](Size s) {
                   return OnPlane(s, [](matrix& o, const matrix& i) {
                     o = i;
                     o.isophotesmooth(3, 0.2f, 0, 0, 0, nullptr);
                   });
                 }});
  ops.push_back({"shock step", [](Size s) {
                   return OnPlane(s, [](matrix& o, const matrix& i) {
                     matrix field;
                     field.tensordirections(i, 1, 1.5f);
                     o.shockstep(i, field, 0.2f, 0.3f, 0.1f, 0.1f);
                   });
                 }});
  for (bool selected : {false, true}) {
    ops.push_back({"shock filter", [selected](Size s) {
                     fpbuffer f = MakeImage(s);
                     bitmask selection;
                     selection.dim(s.w, s.h);
                     for (int k = 0; k < f.n; k += 3) selection.setbit(k, true);
                     f.shockfilter(2, 1.5f, 0.1f, 0.2f, selected ? &selection : nullptr, false);
                     return Bytes(f);
                   }});
  }
  for (int mode : {1, 2}) {
    ops.push_back({"tschumperle regularization", [mode](Size s) {
                     // Mode 2 on every third pixel.
                     fpbuffer f = MakeImage(s);
                     bitmask selection;
                     selection.dim(s.w, s.h);
                     for (int k = 0; k < f.n; k += 3) selection.setbit(k, true);
                     f.tschumperle(3, 2, 0.5f, 0.5f, 1, 1, mode, 2,
                                   mode == 2 ? &selection : nullptr);
                     return Bytes(f);
                   }});
  }
  ops.push_back({"plane triangulation", [](Size s) {
                   return OnPlane(s, [](matrix& o, const matrix& i) {
                     bitmask d;
                     ChooseTriangleDiagonals(d, i);
                     ResampleTriangulation(o, i, d, 1.7, 0.6, 0, 0.2);
                   });
                 }});
  for (CSpaceCode code :
       {cspace::kHSV | 7u, cspace::kLAB | 7u, cspace::kCMYK | 15u, cspace::kYCbCrX | 7u}) {
    ops.push_back({"colour conversion", [code](Size s) {
                     fpbuffer f = MakeImage(s, code);
                     std::string b = Bytes(f);
                     f.convert(cspace::kHSL | 7u);
                     return b + Bytes(f);
                   }});
    ops.push_back({"render to bitmap", [code](Size s) {
                     const fpbuffer f = MakeImage(s, code);
                     DisplayBitmap b = Rendered(f);
                     fpbuffer back(s.w, s.h, code);
                     if (b.width()) back.fromdib(b.toprow());
                     return Bytes(b) + Bytes(back);
                   }});
  }
  for (int type : {0, 3, 10}) {
    ops.push_back({"seam energy and carving", [type](Size s) {
                     fpbuffer f = MakeImage(s);
                     matrix e;
                     f.seamenergy(e, type % 6);
                     f.seamcarve(nullptr, std::max(1, s.w * 3 / 4), s.h + 1, 1e16f, -1000.0f, type,
                                 true, 0, false, 0.0f);
                     return Bytes(e) + Bytes(f);
                   }});
  }
  ops.push_back({"IFS coding and decoding", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   const IfsPlaneParams y{3, 1, 2, 0.1f, 0.05f, 2}, c{2, 0, 3, 0.2f, 0.1f, 1.3f};
                   f.ifsenlarge({y, y, c, c}, 1, IfsDecoding{2, 3, {1, 0, 1, 0}, false});
                   return Bytes(f);
                 }});
  ops.push_back({"Xin Li classic", [](Size s) {
                   fpbuffer f = MakeImage(s);
                   f.xinlipasses(1, 8, 0.5f, 3, 0, 1, false);
                   return Bytes(f);
                 }});
  for (bool incremental : {true, false}) {
    ops.push_back({"Xin Li twelve-coefficient", [incremental](Size s) {
                     fpbuffer f = MakeImage(s);
                     f.XinLiEnlarge(1, 4, 0, 0, 0, 1, false, 1.5f, incremental);
                     return Bytes(f);
                   }});
  }
  return ops;
}

class ThreadCountTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    work = home;
  }
  void TearDown() override {
    SetParallelThreads(0);
    ZepTest::TearDown();
  }
};
}  // namespace

TEST_F(ThreadCountTest, EveryParallelOperationGivesTheSameBytesWithAnyThreadCount) {
  for (const Operation& op : Operations()) {
    for (const Size s : kSizes) {
      SetParallelThreads(1);
      StartProgress(100);
      const std::string one = op.run(s);
      for (int threads : {2, 3, 8}) {
        SetParallelThreads(threads);
        StartProgress(100);
        EXPECT_TRUE(op.run(s) == one)
            << op.name << " on " << s.w << "x" << s.h << " with " << threads << " threads";
      }
    }
  }
}

// The resize commands through the dispatcher: the float image and the bitmap, the ticks
// counted by the scripted Ui, and a cancel at the first tick that keeps the image.
TEST_F(ThreadCountTest, ResizeCommandsTickAlikeAndKeepTheImageOnCancel) {
  for (bool hasFloat : {true, false}) {
    for (CommandId id :
         {CommandId::BoxNearestNeighbor, CommandId::Bilinear, CommandId::Bicubic,
          CommandId::Lanczos, CommandId::StairInterpolation, CommandId::Triangulation}) {
      if (id == CommandId::StairInterpolation && !hasFloat) continue;
      SCOPED_TRACE(testing::Message()
                   << "command " << CommandIdName(int(id)) << " float " << hasFloat);
      LiveSettings().resize.precedence = 6;
      LiveSettings().resize.horizontalScaleFactor = 1.9;
      LiveSettings().resize.verticalScaleFactor = 0.55;
      FakeHost host;
      auto make = [&](CImageView& v) {
        v.currentLayer() = MakeImage({211, 131});
        v.currentBitmap() = Rendered(v.currentLayer());
        if (!hasFloat) v.currentLayer().clear(true);
      };
      std::string result[2];
      size_t drawn[2] = {};
      int ticks[2] = {};
      for (int k = 0; k < 2; ++k) {
        SetParallelThreads(k == 0 ? 1 : 8);
        CImageView v(&host);
        make(v);
        ui.progressDrawn.clear();
        v.Dispatch(id);
        result[k] = Bytes(v.currentBitmap()) + (hasFloat ? Bytes(v.currentLayer()) : "");
        drawn[k] = ui.progressDrawn.size();
        ticks[k] = Progress().count;
      }
      EXPECT_NE(ticks[0], 0);
      EXPECT_EQ(ticks[1], ticks[0]);
      EXPECT_EQ(drawn[1], drawn[0]);
      EXPECT_TRUE(result[1] == result[0]);

      SetParallelThreads(8);
      CImageView v(&host);
      make(v);
      const std::string before = Bytes(v.currentBitmap()) + Bytes(v.currentLayer());
      platform.CancelAtPoll(1);
      v.Dispatch(id);
      platform.CancelAtPoll(0);
      EXPECT_TRUE(Bytes(v.currentBitmap()) + Bytes(v.currentLayer()) == before);
      EXPECT_EQ(v.HasFloat(), hasFloat);
    }
  }
}
