// An archive download cut short, kept in the working folder for the next start to resume.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jov {

// ".<local>.<archive sha256>.jov-part" in the working folder, 0600, opened for appending: the
// name ties the bytes to the release they belong to. The start's temporary sweep leaves it.
class PartialDownload {
 public:
  // Opens, or creates, the partial of the release's archive (sha256, size bytes), removing the
  // partials of local's other releases and dropping the bytes kept when they are more than
  // size. Throws IoError when the file cannot be opened or is not this user's regular file.
  PartialDownload(const std::string& working_dir, const std::string& local,
                  const std::string& sha256, std::int64_t size);
  ~PartialDownload();
  PartialDownload(const PartialDownload&) = delete;
  PartialDownload& operator=(const PartialDownload&) = delete;

  int fd() const { return fd_; }
  // The bytes kept, from which the download resumes.
  std::int64_t Kept() const;
  // Drops the bytes kept: the download starts over. Throws IoError.
  void Restart();
  // Removes the file (it stays open until destroyed). Never fails.
  void Remove();

 private:
  std::string local_;
  std::string path_;
  int fd_ = -1;
};

// Removes every partial of local in the working folder. Never fails.
void RemovePartialDownloads(const std::string& working_dir, const std::string& local);

}  // namespace jov
