#include "platform/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"

namespace jov {
namespace {

class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() { ::close(fd_); }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;

 private:
  int fd_;
};

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw IoError("Cannot read " + path + ": " + why);
}

std::string TooLarge(std::size_t limit) {
  return "the file is larger than " + std::to_string(limit) + " bytes";
}

}  // namespace

std::string ReadFileBytes(const std::string& path, std::size_t limit) {
  // Opened without waiting: a FIFO in the file's place would hold the open until a writer came.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) Fail(path, std::strerror(errno));
  const FdGuard guard(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail(path, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Fail(path, "not a regular file");
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Fail(path, std::strerror(errno));
  }
  return ReadFdBytes(fd, limit, path);
}

std::string ReadFdBytes(int fd, std::size_t limit, const std::string& name) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail(name, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Fail(name, "not a regular file");
  if (static_cast<unsigned long long>(st.st_size) > limit) Fail(name, TooLarge(limit));
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  while (true) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(name, std::strerror(errno));
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > limit) Fail(name, TooLarge(limit));
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

}  // namespace jov
