// Images through the fractal codec: .IFS files, enlargement of float images in memory
// and of bitmaps tile by tile, and the decode of a file into a raw bitmap file.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "image/pixel.h"
#include "image/rgbbuffer.h"
#include "ops/resize/ifs.h"
#include "platform/errors.h"
#include "platform/programdir.h"
#include "platform/progress.h"

namespace {
// The planes B parks in scratch files; removed by name whatever happens.
struct ParkedPlanes {
  ~ParkedPlanes() {
    for (const char* name : kNames) matrix::remove(name);
  }
  static constexpr const char* kNames[3] = {"temp1.mat", "temp2.mat", "temp3.mat"};
};

// Channels first..last (0 luminance less its decoded error, 1 Cb, 2 Cr; zeros for an
// absent plane) of the decoded codec, W x H each, their planes decoded side by side.
void DecodeChannels(std::array<matrix, 3>& channels, const ifscodec& codec, const IfsDecoding& d,
                    int first, int last) {
  const int W = codec.w * d.scale, H = codec.h * d.scale;
  std::array<matrix, 4> decoded;  // Y, Ey, Cb, Cr
  std::vector<IfsPlaneJob> jobs;
  for (int c = first; c <= last; ++c)
    for (int plane : {c == 0 ? 0 : c + 1, c == 0 ? 1 : -1})
      if (plane >= 0 && codec.planes[size_t(plane)].present())
        jobs.push_back({&codec.planes[size_t(plane)], &decoded[size_t(plane)], d.modes[size_t(plane)]});
  IfsDecodeModes(jobs, d.scale, d.iterations);
  for (int c = first; c <= last; ++c) {
    matrix& out = channels[size_t(c)];
    const int plane = c == 0 ? 0 : c + 1;
    if (!codec.planes[size_t(plane)].present()) {
      out.dim(W, H).zero();
      continue;
    }
    out = std::move(decoded[size_t(plane)]);
    if (c == 0 && codec.planes[1].present()) out.sub(decoded[1]);
  }
}

// The total of the codec's decode ticks: n per sample / r of every present plane.
int64_t DecodeTotal(const ifscodec& codec, int n) { return codec.decodeticks(n); }

// Ticks of coding w x h samples: (L + 1) per sample / r of every present plane.
int64_t CodeTotal(const IfsPlaneSet& p, int64_t samples) {
  int64_t total = 0;
  for (const IfsPlaneParams& a : p)
    if (a.rangeBlock > 0) total += (int64_t(a.corrections) + 1) * samples / a.rangeBlock;
  return total;
}

ifscodec& Encode(ifscodec& codec, const fpbuffer& image, const IfsPlaneSet& p, int smoothing) {
  fpbuffer ycc(image);
  ycc.convert(ifscodec::kYCbCrCode);
  return codec.setup(p, ifscodec::kYCbCrCode)
      .encode(ycc.plane[0], ycc.plane[1], ycc.plane[2], smoothing);
}

// The image = the decoded codec in the colour space target.
void DecodeInto(fpbuffer& image, const ifscodec& codec, const IfsDecoding& d, CSpaceCode target) {
  std::array<matrix, 3> channels;
  ParkedPlanes parked;
  if (d.scratch) {
    // One channel at a time, each parked until all are done.
    for (int c = 0; c < 3; ++c) {
      DecodeChannels(channels, codec, d, c, c);
      channels[size_t(c)].write(ParkedPlanes::kNames[c]).free();
    }
    for (int c = 0; c < 3; ++c) channels[size_t(c)].read(ParkedPlanes::kNames[c], true);
  } else {
    DecodeChannels(channels, codec, d, 0, 2);
  }
  image.clear();
  image.setcode(codec.colourCode);
  for (int c = 0; c < 3; ++c) image.plane[c] = std::move(channels[size_t(c)]);
  image.syncviews();
  image.convert(target);
}
}  // namespace

void IfsDecodeImage(fpbuffer& image, const ifscodec& codec, const IfsDecoding& d) {
  DecodeInto(image, codec, d, image.code);
}

void fpbuffer::writeifs(const std::string& path, const IfsPlaneSet& planes, int smoothing) const {
  StartProgress(float(CodeTotal(planes, n)));
  ifscodec codec;
  Encode(codec, *this, planes, smoothing).write(path);
}

fpbuffer& fpbuffer::readifs(const std::string& path, const IfsDecoding& decoding) {
  ifscodec codec;
  if (const char* text = codec.read(path, decoding.scale)) throw TextException(text);
  StartProgress(float(DecodeTotal(codec, decoding.iterations)));
  IfsDecodeImage(*this, codec, decoding);
  return *this;
}

fpbuffer& fpbuffer::ifsenlarge(const IfsPlaneSet& planes, int smoothing,
                               const IfsDecoding& decoding) {
  const CSpaceCode kept = code;
  ifscodec codec;
  Encode(codec, *this, planes, smoothing);
  DecodeInto(*this, codec, decoding, kept);
  return *this;
}

std::vector<IfsTile> IfsTiles(int width, int height, int tileWidth, int tileHeight) {
  const int tw = std::max(1, std::min(tileWidth, width));
  const int th = std::max(1, std::min(tileHeight, height));
  std::vector<IfsTile> tiles;
  for (int y = 0; y < height; y += th)
    for (int x = 0; x < width; x += tw) tiles.push_back({x, y, tw, th});
  return tiles;
}

void IfsEnlarge(rgbbuffer& output, const rgbbuffer& input, const IfsPlaneSet& p, int smoothing,
                const IfsDecoding& d, int tileWidth, int tileHeight) {
  const std::vector<IfsTile> tiles = IfsTiles(input.width, input.height, tileWidth, tileHeight);
  if (tiles.empty()) return;
  // Every tile is coded with a margin of one range block on each side, which is dropped.
  const int m = p[0].rangeBlock, s = d.scale;
  const int tw = tiles[0].width, th = tiles[0].height;
  const int64_t area = int64_t(tw + 2 * m) * (th + 2 * m);
  int64_t decodeShare = 0;
  for (const IfsPlaneParams& a : p)
    if (a.rangeBlock > 0) decodeShare += area / a.rangeBlock;
  StartProgress(float(int64_t(tiles.size()) * (CodeTotal(p, area) + d.iterations * decodeShare)));
  for (const IfsTile& t : tiles) {
    fpbuffer tile(tw + 2 * m, th + 2 * m, ifscodec::kYCbCrCode);
    tile.gettilergb(input, t.x - m, t.y - m);
    tile.ifsenlarge(p, smoothing, d);
    output.puttile(s * t.x, s * t.y, tile, nullptr, s * m, s * m, s * m, s * m);
  }
}

void DecodeIfsToBgrFile(const std::string& path, const std::string& name, int& width,
                        int& height, const IfsDecoding& d) {
  ifscodec codec;
  if (const char* text = codec.read(path, d.scale)) throw TextException(text);
  width = codec.w * d.scale;
  height = codec.h * d.scale;
  StartProgress(float(DecodeTotal(codec, d.iterations)));
  ParkedPlanes parked;
  for (int c = 0; c < 3; ++c) {
    std::array<matrix, 3> channels;
    DecodeChannels(channels, codec, d, c, c);
    channels[size_t(c)].write(ParkedPlanes::kNames[c]);
  }
  // Row by row from the three files: no float image is ever held whole.
  const ColourSpace* space = FindColourSpace(codec.colourCode);
  rgbbuffer out(width, height);
  std::array<std::unique_ptr<std::FILE, int (*)(std::FILE*)>, 3> files{
      {{nullptr, &std::fclose}, {nullptr, &std::fclose}, {nullptr, &std::fclose}}};
  for (int c = 0; c < 3; ++c) {
    files[size_t(c)].reset(std::fopen(ScratchPath(ParkedPlanes::kNames[c]).c_str(), "rb"));
    if (!files[size_t(c)] || std::fseek(files[size_t(c)].get(), 12, SEEK_SET) != 0) {
      throw TextException("PROBLEM OPENING FILE FOR READING!");
    }
  }
  std::array<std::vector<float>, 3> rows;
  for (auto& r : rows) r.resize(size_t(width));
  for (int y = 0; y < height; ++y) {
    for (int c = 0; c < 3; ++c) {
      if (std::fread(rows[size_t(c)].data(), sizeof(float), size_t(width),
                     files[size_t(c)].get()) != size_t(width)) {
        throw TextException("PROBLEM OPENING FILE FOR READING!");
      }
    }
    for (int x = 0; x < width; ++x) {
      out.at(x, y) = bytepixel::fromfpixel(
          space->torgb(fpixel(rows[0][size_t(x)], rows[1][size_t(x)], rows[2][size_t(x)])));
    }
  }
  out.write(name);
}
