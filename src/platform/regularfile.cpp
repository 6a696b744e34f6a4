#include "platform/regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileKind KindOfFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return FileKind::Missing;
  return S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::NotRegular;
}

std::FILE* OpenRegularFile(const std::string& path, FileKind* kind) {
  FileKind found = KindOfFile(path);
  std::FILE* file = nullptr;
  if (found == FileKind::Regular) {
    // The name may have been replaced by a pipe since the check: the open must not wait
    // for a writer, and the open file is checked again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd < 0) {
      found = FileKind::Missing;
    } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      found = FileKind::NotRegular;
      ::close(fd);
    } else {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      file = ::fdopen(fd, "rb");
      if (!file) {
        ::close(fd);
        found = FileKind::Missing;
      }
    }
  }
  if (kind) *kind = found;
  return file;
}
