// Told how the program-file downloads go, so that people see which file is coming.
#pragma once

#include <cstdint>
#include <string>

namespace jov {

// The downloader calls these on its own (the UI) thread, between reads; they must not block
// and must not run the operator's input. Each download is Begin, any number of Advance, End.
class DownloadProgress {
 public:
  virtual ~DownloadProgress() = default;
  // A new file begins; total is its size in bytes, or -1 when the server does not say.
  virtual void Begin(const std::string& file_name, std::int64_t total) = 0;
  // received bytes of the current file have arrived so far.
  virtual void Advance(std::int64_t received) = 0;
  // The current file has ended, whole or not.
  virtual void End() = 0;
};

}  // namespace jov
