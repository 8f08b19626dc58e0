#include "platform/file_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace jov {

FileText ReadFileText(const std::string& path, std::size_t limit) {
  FileText result;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
