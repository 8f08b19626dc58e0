#include "clientlib/partial_download.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/system_text.h"

namespace jov {
namespace {

constexpr std::string_view kSuffix = ".jov-part";

std::string Folder(const std::string& dir) { return dir.ends_with('/') ? dir : dir + "/"; }

// Removes local's partials but the one named keep.
void RemoveOthers(const std::string& working_dir, const std::string& local,
                  const std::string& keep) {
  DIR* dir = ::opendir(working_dir.c_str());
  if (dir == nullptr) return;
  const std::string prefix = "." + local + ".";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    // "." local "." 64 hex digits ".jov-part"
    if (name != keep && name.size() == prefix.size() + 64 + kSuffix.size() &&
        name.starts_with(prefix) && name.ends_with(kSuffix)) {
      ::unlink((Folder(working_dir) + name).c_str());
    }
  }
  ::closedir(dir);
}

[[noreturn]] void Fail(const std::string& local, const std::string& path, int error) {
  throw IoError("Cannot keep the download in " + path + ": " + SystemErrorText(error),
                Cause::kPartialNotKept, {.detail = SystemErrorText(error), .file = local});
}

}  // namespace

PartialDownload::PartialDownload(const std::string& working_dir, const std::string& local,
                                 const std::string& sha256, std::int64_t size) {
  local_ = local;
  const std::string name = "." + local + "." + sha256 + std::string(kSuffix);
  path_ = Folder(working_dir) + name;
  RemoveOthers(working_dir, local, name);
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) Fail(local, path_, errno);
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd_);
    fd_ = -1;
    Fail(local, path_, EPERM);
  }
  ::fchmod(fd_, 0600);
  if (st.st_size > size) Restart();
}

PartialDownload::~PartialDownload() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t PartialDownload::Kept() const {
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? st.st_size : 0;
}

void PartialDownload::Restart() {
  if (::ftruncate(fd_, 0) != 0) Fail(local_, path_, errno);
}

void PartialDownload::Remove() { ::unlink(path_.c_str()); }

void RemovePartialDownloads(const std::string& working_dir, const std::string& local) {
  RemoveOthers(working_dir, local, {});
}

}  // namespace jov
