#include "platform/file_system_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock_linux.h"
#include "platform/errors.h"

namespace jov {
namespace {

std::string SystemText(int error) { return std::strerror(error); }

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
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw IoError("Cannot open " + path + ": " + SystemText(errno));
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw IoError("Cannot write " + path + ": " + SystemText(error));
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) throw IoError("Cannot close " + path + ": " + SystemText(errno));
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
  if (DirectoryExists(to)) throw IoError(SystemText(EISDIR));
  if (::rename(from.c_str(), to.c_str()) != 0) throw IoError(SystemText(errno));
}

std::optional<DateTime> FileSystemLinux::LastWriteTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return LocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

}  // namespace jov
