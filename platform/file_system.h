// Files and folders, as the launcher's log, staging and update steps use them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date_time.h"

namespace jov {

struct DirEntry {
  std::string name;  // bare name, as stored
  bool is_directory = false;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  // Creates the folder and any missing parents; returns false when it could not.
  virtual bool ForceDirectories(const std::string& path) = 0;
  // Opens the file for appending (creating it when missing), writes the bytes and closes it.
  // Throws IoError naming the file and the system's reason.
  virtual void AppendToFile(const std::string& path, std::string_view bytes) = 0;
  // Returns false when the file could not be deleted (or did not exist).
  virtual bool DeleteFile(const std::string& path) = 0;
  // Every entry of the folder but "." and "..", in the order the file system gives them;
  // empty when the folder is missing or unreadable.
  virtual std::vector<DirEntry> ListDirectory(const std::string& dir) = 0;
  // Renames the file over an existing one, within one file system. Throws IoError
  // Cause::kCannotMove whose context's detail is the system's text for the error.
  virtual void MoveReplace(const std::string& from, const std::string& to) = 0;
  // The file's last-write time in local time, or nothing when it does not exist.
  virtual std::optional<DateTime> LastWriteTime(const std::string& path) = 0;
  // Installs a copy of from as to: the bytes go to a temporary name beside to, are flushed
  // to disk and renamed over to, so to is at every moment the old file or the whole new one.
  // The result keeps the permission bits of the file it replaces; a new file gets 0755; it
  // takes last_write (local time) as its last-write time when given. from is opened once and
  // copied from that descriptor; only a regular file is copied. Blocks for the copy. Throws
  // IoError naming the file and the system's reason; then to is as it was and no temporary
  // is left.
  virtual void ReplaceFile(const std::string& from, const std::string& to,
                           const std::optional<DateTime>& last_write = std::nullopt) = 0;
  // Gives the existing file last_write (local time) as its last-write time, as ReplaceFile
  // would, leaving its bytes alone. Throws IoError naming the file and the system's reason.
  virtual void SetLastWriteTime(const std::string& path, const DateTime& last_write) = 0;
};

}  // namespace jov
