#include "platform/file_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace jov {

FileText ReadFileText(const std::string& path, std::size_t limit) {
  FileText result;
  // Opened without waiting: a FIFO in the file's place would hold the open until a writer
  // came. Only a regular file is read, in blocking mode again.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    result.error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return result;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    result.error = errno;
    ::close(fd);
    return result;
  }
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.error = errno;
      break;
    }
    if (n == 0) break;
    result.text.append(buffer, static_cast<std::size_t>(n));
    if (result.text.size() > limit) {
      result.too_large = true;
      break;
    }
  }
  ::close(fd);
  return result;
}

}  // namespace jov
