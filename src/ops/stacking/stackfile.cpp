// Raw float colour files of stacking ("temp<k>.frgb") and the run's scratch guard.
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ops/stacking/stack.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

static_assert(std::endian::native == std::endian::little,
              "raw float colour files are little-endian and written from memory");

namespace fs = std::filesystem;

namespace ops::stacking {
namespace {
constexpr int64_t kHeaderBytes = 8;
// Rows written or read per pass: some 768 KB of triplets, a buffer that stays in the
// cache from pass to pass.
int ChunkRows(int width) {
  return int(std::max<int64_t>(1, (int64_t(1) << 16) / std::max(width, 1)));
}

// writefrgb past its check of the name, saying nothing: the load loop runs it on a thread of
// its own.
bool WriteTriplets(const fpbuffer& image, const std::string& path) {
  const int width = image.width, height = image.height;
  const auto& plane = image.plane;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return true;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    ::unlink(path.c_str());
    return true;
  }
  bool ok = true;
  const int32_t header[2] = {width, height};
  ok = std::fwrite(header, sizeof header, 1, f) == 1;
  const int chunk = ChunkRows(width);
  std::vector<float> buffer(size_t(3) * size_t(width) * size_t(std::min(chunk, height)));
  for (int y0 = 0; ok && y0 < height; y0 += chunk) {
    const int rows = std::min(chunk, height - y0);
    const size_t first = size_t(y0) * size_t(width), count = size_t(rows) * size_t(width);
    const float* p0 = plane[0].x + first;
    const float* p1 = plane[1].x + first;
    const float* p2 = plane[2].x + first;
    float* out = buffer.data();
    for (size_t k = 0; k < count; ++k) {
      out[3 * k] = p0[k];
      out[3 * k + 1] = p1[k];
      out[3 * k + 2] = p2[k];
    }
    ok = std::fwrite(out, sizeof(float), 3 * count, f) == 3 * count;
  }
  ok = std::fflush(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) ::unlink(path.c_str());
  return !ok;
}
}  // namespace

StackScratch::~StackScratch() {
  if (writer_.joinable()) writer_.join();
  std::error_code ec;
  for (const std::string& path : files_) fs::remove(path, ec);
}

std::string StackScratch::RawPath(int k) { return ScratchPath(Format("temp%d.frgb", k)).string(); }

bool StackScratch::WriteRaw(const fpbuffer& image, int k) {
  std::string path = RawPath(k);
  if (image.writefrgb(path)) return true;
  files_.push_back(std::move(path));
  return false;
}

bool StackScratch::Settle(int* failed) {
  if (!writer_.joinable()) return false;
  writer_.join();
  if (!pendingFailed_) return false;
  // writefrgb removed what it had written.
  files_.pop_back();
  *failed = pendingIndex_;
  return true;
}

bool StackScratch::WriteRawBehind(const fpbuffer& image, int k, int* failed) {
  if (Settle(failed)) return true;
  bool copied = ParallelThreads() > 1;
  if (copied) {
    try {
      pending_.copy(image);
    } catch (const std::bad_alloc&) {
      pending_.clear();
      copied = false;
    }
  }
  std::string path = RawPath(k);
  // A name that is not a regular file is refused here, where its message can be shown.
  if (!copied || image.channels < 3 || KindOfFile(path) == FileKind::NotRegular) {
    *failed = k;
    return WriteRaw(image, k);
  }
  // Named before it is made, so that the guard removes it whenever the run ends.
  files_.push_back(path);
  pendingIndex_ = k;
  pendingFailed_ = false;
  try {
    writer_ = std::thread([this, path = std::move(path)] {
      try {
        pendingFailed_ = WriteTriplets(pending_, path);
      } catch (...) {
        pendingFailed_ = true;
      }
    });
  } catch (const std::system_error&) {
    // No thread to be had: written here.
    files_.pop_back();
    *failed = k;
    return WriteRaw(pending_, k);
  }
  return false;
}

namespace {
// Reads bytes from offset on, however many calls the kernel takes; false short of them.
bool ReadAt(int fd, void* out, size_t bytes, int64_t offset) {
  auto* p = static_cast<char*>(out);
  while (bytes > 0) {
    const ssize_t got = ::pread(fd, p, bytes, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    bytes -= size_t(got);
    offset += got;
  }
  return true;
}
}  // namespace

bool FrgbReader::open(const std::string& path, int width, int height) {
  close();
  width_ = width;
  height_ = height;
  // A name that has become a pipe or a device is refused, and its open does not wait for
  // a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  int32_t header[2];
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      uint64_t(st.st_size) != uint64_t(kHeaderBytes + 12 * int64_t(width) * int64_t(height)) ||
      !ReadAt(fd, header, sizeof header, 0) || header[0] != width || header[1] != height) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool FrgbReader::read(int firstRow, int rows, float* out) const {
  if (fd_ < 0 || firstRow < 0 || rows < 0 || firstRow + rows > height_) return false;
  const int64_t rowFloats = 3 * int64_t(width_);
  return ReadAt(fd_, out, size_t(4 * rowFloats * rows), kHeaderBytes + 4 * rowFloats * firstRow);
}

void FrgbReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
}  // namespace ops::stacking

bool fpbuffer::writefrgb(const std::string& path) const {
  if (channels < 3) return true;
  // A raw file is scratch of one run in the process's own folder, read back at once and
  // removed after: it is written in place and not synced to the disk, which would cost
  // more than the writing itself and keep nothing anyone needs after a crash.
  if (KindOfFile(path) == FileKind::NotRegular) {
    ShowMessage(path + " is not a regular file; it was not replaced.");
    return true;
  }
  return ops::stacking::WriteTriplets(*this, path);
}

bool fpbuffer::readfrgb(const std::string& path, CSpaceCode c, int w, int h) {
  ops::stacking::FrgbReader file;
  if (!file.open(path, w, h)) return true;
  if (!MemoryAllows(uint64_t(w) * uint64_t(h) * 4 * 4)) return true;
  // Read aside, so that a short read leaves this image as it was.
  fpbuffer image;
  image.dimunset(w, h, c);
  const int chunk = ops::stacking::ChunkRows(w);
  std::vector<float> buffer(size_t(3) * size_t(w) * size_t(std::min(chunk, h)));
  for (int y0 = 0; y0 < h; y0 += chunk) {
    const int rows = std::min(chunk, h - y0);
    if (!file.read(y0, rows, buffer.data())) return true;
    const size_t first = size_t(y0) * size_t(w), count = size_t(rows) * size_t(w);
    for (size_t k = 0; k < count; ++k) {
      image.plane[0].x[first + k] = buffer[3 * k];
      image.plane[1].x[first + k] = buffer[3 * k + 1];
      image.plane[2].x[first + k] = buffer[3 * k + 2];
    }
  }
  // A four-channel space keeps a fourth plane the file does not hold.
  if (image.channels == 4) std::memset(image.plane[3].x, 0, sizeof(float) * size_t(image.n));
  swapwith(image);
  return false;
}
