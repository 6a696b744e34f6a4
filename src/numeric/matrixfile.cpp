// .mat files: three little-endian 32-bit integers (nx, ny, n = nx*ny) and the n elements as
// 32-bit floats, row 0 first. Scratch planes are parked in them between passes.
#include <bit>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

static_assert(std::endian::native == std::endian::little,
              ".mat files are little-endian and written from memory as they stand");

namespace {
const char* const kWriteProblem = "PROBLEM OPENING FILE FOR WRITING!";
const char* const kReadProblem = "PROBLEM OPENING FILE FOR READING!";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool WriteMat(std::FILE* f, const matrix& m) {
  const int32_t header[3] = {m.nx, m.ny, m.n};
  if (std::fwrite(header, sizeof header, 1, f) != 1) return false;
  if (m.n > 0 && std::fwrite(m.x, sizeof(float), size_t(m.n), f) != size_t(m.n)) return false;
  return true;
}

// Reads and checks a header against the file's length; throws the reading text when the
// header lies or the file is cut short, before anything is allocated.
void ReadHeader(std::FILE* f, const std::filesystem::path& path, int32_t header[3]) {
  if (std::fread(header, sizeof(int32_t), 3, f) != 3) throw TextException(kReadProblem);
  const int64_t count = int64_t(header[0]) * header[1];
  std::error_code ec;
  const auto length = std::filesystem::file_size(path, ec);
  if (ec || header[0] < 0 || header[1] < 0 || header[2] != count ||
      length != uint64_t(12 + 4 * count)) {
    throw TextException(kReadProblem);
  }
}
}  // namespace

matrix& matrix::writefile(const std::string& path) {
  if (!WriteFileReplacing(path, [this](std::FILE* f) { return WriteMat(f, *this); })) {
    throw TextException(kWriteProblem);
  }
  return *this;
}

matrix& matrix::readfile(const std::string& path) {
  File f(OpenRegularFile(path));
  if (!f) throw TextException(kReadProblem);
  int32_t header[3];
  ReadHeader(f.get(), path, header);
  if (header[0] == nx && header[1] == ny) {
    // Same shape: the block (and ip) is reused, so a plane parked in a loop is allocated
    // once. The length was checked, so the read fills the whole block.
    if (n > 0 && std::fread(x, sizeof(float), size_t(n), f.get()) != size_t(n)) {
      throw TextException(kReadProblem);
    }
    return *this;
  }
  // A new shape is read aside and published only when complete: a failure leaves this
  // plane as it was.
  matrix fresh;
  fresh.nx = header[0];
  fresh.ny = header[1];
  fresh.allocate(header[0], header[1], "matrix::read(char*)", "matrix::read(char*)");
  if (fresh.n > 0 &&
      std::fread(fresh.x, sizeof(float), size_t(fresh.n), f.get()) != size_t(fresh.n)) {
    throw TextException(kReadProblem);
  }
  moveassign(fresh);
  return *this;
}

matrix& matrix::write(const std::string& name) { return writefile(ScratchPath(name)); }

matrix& matrix::read(const std::string& name, bool removeAfter) {
  readfile(ScratchPath(name));
  if (removeAfter) remove(name);
  return *this;
}

std::string NumberedName(const std::string& prefix, int number, const std::string& extension) {
  return Format("%s%d.%s", prefix.c_str(), number, extension.c_str());
}

std::string ArrayElementName(const std::string& prefix, int arrayNumber, int element) {
  return Format("%s%d.%d.mat", prefix.c_str(), arrayNumber, element);
}

matrix& matrix::writenumbered(const std::string& prefix, int number, const std::string& extension) {
  return write(NumberedName(prefix, number, extension));
}

matrix& matrix::readnumbered(const std::string& prefix, int number, const std::string& extension,
                             bool removeAfter) {
  return read(NumberedName(prefix, number, extension), removeAfter);
}

matrix& matrix::copyfile(const std::string& source, const std::string& target) {
  const std::filesystem::path from = ScratchPath(source);
  File in(OpenRegularFile(from.string()));
  if (!in) throw TextException(kReadProblem);
  int32_t header[3];
  ReadHeader(in.get(), from, header);
  // Copies row by row through this plane, which ends empty.
  dim(header[0], 1);
  const bool ok = WriteFileReplacing(ScratchPath(target), [&](std::FILE* out) {
    if (std::fwrite(header, sizeof header, 1, out) != 1) return false;
    for (int j = 0; j < header[1] && n > 0; ++j) {
      if (std::fread(x, sizeof(float), size_t(n), in.get()) != size_t(n)) return false;
      if (std::fwrite(x, sizeof(float), size_t(n), out) != size_t(n)) return false;
    }
    return true;
  });
  free();
  if (!ok) throw TextException(kReadProblem);
  return *this;
}

int matrix::remove(const std::string& name) { return std::remove(ScratchPath(name).c_str()); }
