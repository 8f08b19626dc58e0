#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/host_path.h"
#include "platform/system_text.h"

namespace jov {
namespace {

constexpr std::string_view kTemporaryMark = ".jov-tmp-";
constexpr std::size_t kRandomChars = 6;

IoError Failure(const char* what, const std::string& name, int error) {
  const std::string why = SystemErrorText(error);
  const Cause cause =
      std::string_view(what) == "replace" ? Cause::kCannotReplace : Cause::kCannotWrite;
  return IoError(std::string("Cannot ") + what + " " + name + ": " + why, cause,
                 {.subject = name, .detail = why});
}

}  // namespace

PendingFile::PendingFile(const std::string& temp_prefix, std::string name)
    : name_(std::move(name)), path_(temp_prefix + "XXXXXX") {
  fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    const int error = errno;
    path_.clear();
    throw Failure("write", name_, error);
  }
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty()) ::unlink(path_.c_str());
}

void PendingFile::Write(std::string_view bytes) {
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Failure("write", name_, n < 0 ? errno : EIO);
    written += static_cast<std::size_t>(n);
  }
}

void PendingFile::Commit(const std::string& target, mode_t mode,
                         const std::optional<timespec>& last_write) {
  if (::fchmod(fd_, mode) != 0) throw Failure("write", name_, errno);
  if (last_write) {
    const timespec times[2] = {{0, UTIME_OMIT}, *last_write};
    if (::futimens(fd_, times) != 0) throw Failure("write", name_, errno);
  }
  if (::fsync(fd_) != 0) throw Failure("write", name_, errno);
  const int closing = fd_;
  fd_ = -1;
  if (::close(closing) != 0) throw Failure("write", name_, errno);
  if (::rename(path_.c_str(), target.c_str()) != 0) throw Failure("replace", name_, errno);
  path_.clear();
  // The rename itself lasts once the folder is flushed.
  const std::string folder = DirectoryOf(target);
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void ReplaceFileThrough(const std::string& path, mode_t mode, const std::function<void(int)>& fill,
                        const std::string& name, const std::optional<timespec>& last_write) {
  PendingFile file(TemporaryPrefix(path), name.empty() ? path : name);
  fill(file.fd());
  file.Commit(path, mode, last_write);
}

void WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                         const std::string& name) {
  PendingFile file(TemporaryPrefix(path), name.empty() ? path : name);
  file.Write(bytes);
  file.Commit(path, mode);
}

std::string TemporaryPrefix(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, base) + "." + path.substr(base) + std::string(kTemporaryMark);
}

bool IsOwnTemporary(std::string_view file_name) {
  // "." + at least one character of the name + the mark + the random characters.
  if (!file_name.starts_with('.') || file_name.size() < 2 + kTemporaryMark.size() + kRandomChars) {
    return false;
  }
  const std::size_t mark = file_name.size() - kRandomChars - kTemporaryMark.size();
  return file_name.substr(mark, kTemporaryMark.size()) == kTemporaryMark;
}

}  // namespace jov
