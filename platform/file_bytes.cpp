#include "platform/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/system_text.h"

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

// The message keeps the C library's English; the reason takes the system's text.
[[noreturn]] void Fail(const std::string& path, Cause cause, int error) {
  throw IoError("Cannot read " + path + ": " + std::strerror(error), cause,
                {.subject = path, .detail = SystemErrorText(error)});
}

[[noreturn]] void FailNotRegular(const std::string& path) {
  throw IoError("Cannot read " + path + ": not a regular file", Cause::kNotRegular,
                {.subject = path});
}

[[noreturn]] void FailTooLarge(const std::string& path, std::size_t limit) {
  throw IoError(
      "Cannot read " + path + ": the file is larger than " + std::to_string(limit) + " bytes",
      Cause::kTooLarge, {.subject = path, .number = static_cast<std::int64_t>(limit)});
}

}  // namespace

std::string ReadFileBytes(const std::string& path, std::size_t limit) {
  // Opened without waiting: a FIFO in the file's place would hold the open until a writer came.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) Fail(path, Cause::kCannotOpen, errno);
  const FdGuard guard(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail(path, Cause::kCannotRead, errno);
  if (!S_ISREG(st.st_mode)) FailNotRegular(path);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Fail(path, Cause::kCannotRead, errno);
  }
  return ReadFdBytes(fd, limit, path);
}

std::string ReadFdBytes(int fd, std::size_t limit, const std::string& name) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) Fail(name, Cause::kCannotRead, errno);
  if (!S_ISREG(st.st_mode)) FailNotRegular(name);
  if (static_cast<unsigned long long>(st.st_size) > limit) FailTooLarge(name, limit);
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  while (true) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(name, Cause::kCannotRead, errno);
    if (n == 0) break;
    if (bytes.size() + static_cast<std::size_t>(n) > limit) FailTooLarge(name, limit);
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

}  // namespace jov
