#include "platform/file_system_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/clock_linux.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/host_path.h"
#include "platform/system_text.h"

namespace jov {
namespace {

// Copies all of in to out: in the kernel where it can, else through a buffer.
void CopyAll(int in, int out, const std::string& from, const std::string& to) {
  bool copied_any = false;
  for (;;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
    if (n == 0) return;
    if (n > 0) {
      copied_any = true;
      continue;
    }
    if (errno == EINTR) continue;
    if (copied_any || (errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
                       errno != EOPNOTSUPP && errno != EPERM)) {
      const std::string why = SystemErrorText(errno);
      throw IoError("Cannot copy " + from + " to " + to + ": " + why, Cause::kCannotCopy,
                    {.subject = from, .other = to, .detail = why});
    }
    break;
  }
  std::vector<char> buffer(std::size_t{1} << 18);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n == 0) return;
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string why = SystemErrorText(errno);
      throw IoError("Cannot read " + from + ": " + why, Cause::kCannotRead,
                    {.subject = from, .detail = why});
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        const std::string why = SystemErrorText(errno);
        throw IoError("Cannot write beside " + to + ": " + why, Cause::kCannotWriteBeside,
                      {.subject = to, .detail = why});
      }
      done += w;
    }
  }
}

}  // namespace

bool FileSystemLinux::FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FileSystemLinux::DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileSystemLinux::ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string current;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    current = path.substr(0, pos);
    if (current.empty() || DirectoryExists(current)) continue;
    if (::mkdir(current.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return DirectoryExists(path);
}

void FileSystemLinux::AppendToFile(const std::string& path, std::string_view bytes) {
  const auto failure = [&](const char* what, Cause cause, int error) {
    const std::string why = SystemErrorText(error);
    return IoError(what + path + ": " + why, cause, {.subject = path, .detail = why});
  };
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw failure("Cannot open ", Cause::kCannotOpen, errno);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw failure("Cannot write ", Cause::kCannotWrite, error);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) throw failure("Cannot close ", Cause::kCannotWrite, errno);
}

bool FileSystemLinux::DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::vector<DirEntry> FileSystemLinux::ListDirectory(const std::string& dir) {
  std::vector<DirEntry> entries;
  DIR* handle = ::opendir(dir.c_str());
  if (handle == nullptr) return entries;
  while (const dirent* entry = ::readdir(handle)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool is_dir = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      is_dir = DirectoryExists(dir + "/" + name);
    }
    entries.push_back({name, is_dir});
  }
  ::closedir(handle);
  return entries;
}

void FileSystemLinux::MoveReplace(const std::string& from, const std::string& to) {
  const auto failure = [&](int error) {
    const std::string why = SystemErrorText(error);
    return IoError("Cannot move " + from + " to " + to + ": " + why, Cause::kCannotMove,
                   {.subject = from, .other = to, .detail = why});
  };
  if (DirectoryExists(to)) throw failure(EISDIR);
  if (::rename(from.c_str(), to.c_str()) != 0) throw failure(errno);
}

std::optional<DateTime> FileSystemLinux::LastWriteTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return LocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

void FileSystemLinux::SetLastWriteTime(const std::string& path, const DateTime& last_write) {
  const std::optional<timespec> time = LocalTimeSpec(last_write);
  // The access time stays; only the last-write time is the server's.
  const timespec times[2] = {{0, UTIME_OMIT}, time.value_or(timespec{0, 0})};
  const int error = !time ? EINVAL : ::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0 ? errno : 0;
  if (error != 0) {
    const std::string why = SystemErrorText(error);
    throw IoError("Cannot set the time of " + path + ": " + why, Cause::kCannotSetTime,
                  {.subject = path, .detail = why});
  }
}

void FileSystemLinux::ReplaceFile(const std::string& from, const std::string& to,
                                  const std::optional<DateTime>& last_write) {
  std::optional<timespec> time;
  if (last_write) {
    time = LocalTimeSpec(*last_write);
    if (!time) {
      const std::string why = SystemErrorText(EINVAL);
      throw IoError("Cannot replace " + to + ": " + why, Cause::kCannotReplace,
                    {.subject = to, .detail = why});
    }
  }
  // Non-blocking open: a FIFO under the source's name cannot hold the launcher; only a
  // regular file is copied, and from this one descriptor.
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) {
    const std::string why = SystemErrorText(errno);
    throw IoError("Cannot open " + from + ": " + why, Cause::kCannotOpen,
                  {.subject = from, .detail = why});
  }
  struct stat source {};
  const int error = ::fstat(in, &source) != 0 ? errno
                    : S_ISREG(source.st_mode) ? 0
                    : S_ISDIR(source.st_mode) ? EISDIR
                                              : EINVAL;
  if (error != 0) {
    ::close(in);
    const std::string why = SystemErrorText(error);
    throw IoError("Cannot copy " + from + ": " + why, Cause::kCannotCopy,
                  {.subject = from, .detail = why});
  }
  struct stat old {};
  const mode_t mode = ::stat(to.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0755;
  try {
    ReplaceFileThrough(
        to, mode, [&](int out) { CopyAll(in, out, from, to); }, {}, time);
  } catch (...) {
    ::close(in);
    throw;
  }
  ::close(in);
}

}  // namespace jov
