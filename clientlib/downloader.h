// Fetching updated program files from the server's download source.
#pragma once

#include <string>
#include <vector>

namespace jov {

class Downloader {
 public:
  virtual ~Downloader() = default;
  // Fetches every file of server_lines ("<name>.zip=<stamp>") from source into the working
  // folder under its local name; returns only when all are there, whole. Throws on failure.
  virtual void GetExeFile(const std::vector<std::string>& local_paths,
                          const std::vector<std::string>& server_lines, const std::string& source,
                          bool& flag) = 0;
};

}  // namespace jov
