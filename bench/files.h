#pragma once
// The files the benchmarks leave for their peer scripts: .npy arrays of float32 for numpy
// and PFM pictures for G'MIC. Rows go from the bottom up, as the planes store them.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "image/fpbuffer.h"

// The header of a version 1 .npy file of little-endian floats of the given dimensions,
// padded so that the data starts on 64 bytes.
inline void WriteNpyHeader(std::ostream& out, std::initializer_list<int64_t> dims) {
  std::ostringstream text;
  text << "{'descr': '<f4', 'fortran_order': False, 'shape': (";
  size_t i = 0;
  for (int64_t d : dims) {
    text << d << (++i < dims.size() ? ", " : dims.size() == 1 ? "," : "");
  }
  text << "), }";
  std::string header = text.str();
  while ((10 + header.size() + 1) % 64 != 0) header += ' ';
  header += '\n';
  const uint16_t length = uint16_t(header.size());
  out.write("\x93NUMPY\x01\x00", 8);
  out.write(reinterpret_cast<const char*>(&length), 2);
  out << header;
}

// Channels 0-2 of f, row by row with the three values of a pixel together.
inline void WriteInterleaved(std::ostream& out, const fpbuffer& f) {
  std::vector<float> row(3 * size_t(f.width));
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      for (int c = 0; c < 3; ++c) row[3 * size_t(x) + c] = f.plane[c].z[y][x];
    }
    out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size() * 4));
  }
}

inline void ReportWrite(const std::ostream& out, const std::string& path) {
  if (!out) std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

// A height x width x 3 .npy file of channels 0-2.
inline void WriteNpy(const fpbuffer& f, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  WriteNpyHeader(out, {f.height, f.width, 3});
  WriteInterleaved(out, f);
  ReportWrite(out, path);
}

// A plane as a height x width .npy file, or a row as a one-dimensional one.
inline void WriteNpy(const matrix& m, const std::string& path, bool row = false) {
  std::ofstream out(path, std::ios::binary);
  if (row) {
    WriteNpyHeader(out, {m.n});
  } else {
    WriteNpyHeader(out, {m.ny, m.nx});
  }
  out.write(reinterpret_cast<const char*>(m.x), std::streamsize(sizeof(float) * size_t(m.n)));
  ReportWrite(out, path);
}

// An RGB PFM file of channels 0-2 (PFM's first row is the bottom one, as ours).
inline void WritePfm(const fpbuffer& f, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "PF\n" << f.width << " " << f.height << "\n-1.0\n";
  WriteInterleaved(out, f);
  ReportWrite(out, path);
}
