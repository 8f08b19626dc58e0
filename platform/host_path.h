// Where the running host executable lives: the root of every path the launcher derives.
#pragma once

#include <string>

namespace jov {

class HostPath {
 public:
  virtual ~HostPath() = default;
  // The full path of the running process's executable file, as the file is named.
  virtual std::string ExecutablePath() = 0;
};

// The folder part of a path, without a trailing separator.
std::string DirectoryOf(const std::string& path);
// The file-name part of a path.
std::string FileNameOf(const std::string& path);

}  // namespace jov
