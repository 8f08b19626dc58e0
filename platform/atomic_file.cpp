#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/host_path.h"
#include "platform/system_text.h"

namespace jov {

void ReplaceFileThrough(const std::string& path, mode_t mode, const std::function<void(int)>& fill,
                        const std::string& name) {
  const std::string& named = name.empty() ? path : name;
  auto failure = [&](const char* what, int error) {
    return IoError(std::string("Cannot ") + what + " " + named + ": " + SystemErrorText(error));
  };
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw failure("write", errno);
  try {
    fill(fd);
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) throw failure("write", errno);
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) throw failure("write", errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) throw failure("replace", errno);
  } catch (...) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  // The rename itself lasts once the folder is flushed.
  const std::string folder = DirectoryOf(path);
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         const std::string& name) {
  ReplaceFileThrough(
      path, mode,
      [&](int fd) {
        for (std::size_t written = 0; written < bytes.size();) {
          const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            throw IoError("Cannot write " + (name.empty() ? path : name) + ": " +
                          SystemErrorText(errno));
          }
          written += static_cast<std::size_t>(n);
        }
      },
      name);
}

}  // namespace jov
