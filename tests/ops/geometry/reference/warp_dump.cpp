// Prints the transform records of point pairs and rotates pictures, for the comparison
// with OpenCV in cv2_check.py.
//   warp_dump records            reads lines "s x1 y1 x2 y2 u1 v1 u2 v2" (a similarity
//                                taking output points to source points) or "h" with four
//                                source points and four output points; prints the record
//   warp_dump rotate W H ANGLE ITERATIONS IN OUT
//                                rotates a W x H float32 picture (rows top first, the
//                                three channels alike) and writes the first channel
#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "image/fpbuffer.h"
#include "numeric/warp.h"
#include "platform/errors.h"

namespace {
int Records() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    matrix r;
    if (kind == "s") {
      float p[8];
      for (float& x : p) in >> x;
      r = SimilarityFromTwoPoints(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
    } else {
      std::array<float, 8> source, output;
      for (float& x : source) in >> x;
      for (float& x : output) in >> x;
      try {
        r = HomographyFromFourPoints(source, output);
      } catch (const TextException& e) {
        std::cout << e.text() << "\n";
        continue;
      }
    }
    for (int i = 0; i < r.n; ++i) std::printf("%.9g%c", double(r.x[i]), i + 1 < r.n ? ' ' : '\n');
  }
  return 0;
}

int Rotate(int w, int h, float angle, int iterations, const char* inPath, const char* outPath) {
  std::vector<float> data(size_t(w) * size_t(h));
  std::ifstream in(inPath, std::ios::binary);
  in.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size() * sizeof(float)));
  if (!in) return 1;
  fpbuffer f(w, h, 0x17);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        f.plane[c].z[h - 1 - y][x] = data[size_t(y) * size_t(w) + size_t(x)];
  f.rotate(angle, 0, 0, false, iterations);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      data[size_t(y) * size_t(w) + size_t(x)] = f.plane[0].z[h - 1 - y][x];
  std::ofstream out(outPath, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()),
            std::streamsize(data.size() * sizeof(float)));
  return out ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "records") return Records();
  if (mode == "rotate" && argc == 8) {
    return Rotate(std::stoi(argv[2]), std::stoi(argv[3]), std::stof(argv[4]), std::stoi(argv[5]),
                  argv[6], argv[7]);
  }
  std::cerr << "usage: warp_dump records | rotate W H ANGLE ITERATIONS IN OUT\n";
  return 2;
}
