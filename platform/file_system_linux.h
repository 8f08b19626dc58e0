// FileSystem on Linux: POSIX calls, no buffering kept between calls.
#pragma once

#include "platform/file_system.h"

namespace jov {

class FileSystemLinux : public FileSystem {
 public:
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  bool ForceDirectories(const std::string& path) override;
  void AppendToFile(const std::string& path, std::string_view bytes) override;
  bool DeleteFile(const std::string& path) override;
  std::vector<DirEntry> ListDirectory(const std::string& dir) override;
  void MoveReplace(const std::string& from, const std::string& to) override;
  std::optional<DateTime> LastWriteTime(const std::string& path) override;
  void SetLastWriteTime(const std::string& path, const DateTime& last_write) override;
  void ReplaceFile(const std::string& from, const std::string& to,
                   const std::optional<DateTime>& last_write = std::nullopt) override;
};

}  // namespace jov
