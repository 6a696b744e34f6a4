// Seam carving to 75% of the width, one thread, beside ImageMagick's -liquid-rescale (its
// seam-carving delegate) on two photographs that Debian's python3-skimage ships: the
// astronaut (512 x 512) and the retina (1411 x 1411, 2 megapixels). ImageMagick runs with
// one thread on PPM files; its time for reading and writing them alone (the same command
// without the rescale) is taken off. Ours carves the float image with the default energy
// (type 0), once without and once with energy updates (which the delegate always makes).
// The ratio is ours / theirs: below 1 we are faster. Each job is timed by the wall clock
// and by CPU time (ours the process's, theirs the child processes'); on a busy machine
// the CPU time is the steadier figure.
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/fpbuffer.h"
#include "peerline.h"
#include "platform/parallel.h"

namespace fs = std::filesystem;

namespace {
const fs::path kWork = fs::temp_directory_path() / "zep-bench-seam";

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

double Milliseconds(const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) * 1e-3; }

// The CPU time of this process's finished child processes.
double ChildrenCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return Milliseconds(u.ru_utime) + Milliseconds(u.ru_stime);
}

// A binary PPM of 8-bit samples into an RGB float image (row 0 at the bottom).
bool ReadPpm(const fs::path& path, fpbuffer& image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  in >> magic >> w >> h >> maxval;
  in.get();
  if (!in || magic != "P6" || w <= 0 || h <= 0 || maxval != 255) return false;
  std::string bytes(size_t(w) * size_t(h) * 3, '\0');
  if (!in.read(bytes.data(), std::streamsize(bytes.size()))) return false;
  image.dim(w, h, 0x17);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t k = (size_t(h - 1 - y) * size_t(w) + size_t(x)) * 3;
      for (int c = 0; c < 3; ++c) image.plane[c].z[y][x] = float(uint8_t(bytes[k + size_t(c)]));
    }
  }
  return true;
}

void Bench(const char* name, const fs::path& source) {
  const fs::path ppm = kWork / (std::string(name) + ".ppm");
  const fs::path out = kWork / "out.ppm";
  if (!Run("convert '" + source.string() + "' -strip -depth 8 '" + ppm.string() + "'")) {
    std::printf("%s: cannot convert %s\n", name, source.c_str());
    return;
  }
  fpbuffer picture;
  if (!ReadPpm(ppm, picture)) {
    std::printf("%s: cannot read %s\n", name, ppm.c_str());
    return;
  }
  const int w = picture.width * 3 / 4, h = picture.height;
  const std::string io = "convert '" + ppm.string() + "' '" + out.string() + "'";
  const std::string carve =
      "convert '" + ppm.string() + "' -liquid-rescale 75x100% '" + out.string() + "'";
  const auto none = [] {};
  const Times theirsIo = BestTimes(
      3, none, [&] { Run(io); }, ChildrenCpu);
  bool delegate = true;
  const Times theirsAll = BestTimes(
      2, none, [&] { delegate = delegate && Run(carve); }, ChildrenCpu);
  const Times theirs{delegate ? theirsAll.wall - theirsIo.wall : 0.0,
                     delegate ? theirsAll.cpu - theirsIo.cpu : 0.0};
  if (!delegate) std::printf("%s: this ImageMagick has no -liquid-rescale delegate\n", name);
  for (bool update : {false, true}) {
    fpbuffer image;
    const Times ours = BestTimes(
        3, [&] { image = picture; },
        [&] { image.seamcarve(nullptr, w, h, 1e16f, -1000.0f, 0, update, 0, false, 0.0f); },
        ProcessMs);
    const std::string label = std::string(name) + (update ? " 75% updated" : " 75%");
    Line(label.c_str(), 1, ours.wall, "convert -liquid-rescale", theirs.wall);
    Line((label + " CPU").c_str(), 1, ours.cpu, "convert -liquid-rescale", theirs.cpu);
  }
}
}  // namespace

int main() {
  SetParallelThreads(1);
  setenv("MAGICK_THREAD_LIMIT", "1", 1);
  fs::create_directories(kWork);
  const fs::path data = ZEP_SKIMAGE_DATA;
  Bench("astronaut", data / "astronaut.png");
  Bench("retina 2 MP", data / "retina.jpg");
  fs::remove_all(kWork);
  return 0;
}
