// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

namespace jov::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes bytes to path()/relative, creating folders; returns the full path.
  std::string Write(const std::string& relative, const std::string& bytes) const;
  // The whole content of a file; empty when missing.
  static std::string Read(const std::string& path);

 private:
  std::string path_;
};

}  // namespace jov::testing
