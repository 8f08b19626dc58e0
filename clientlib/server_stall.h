// Remembers, for the rest of a start, that the application server stopped answering.
#pragma once

#include <mutex>
#include <string>

namespace jov {

// Once a connect, a call or a download that shares this state has run out of time, the later
// ones fail at once instead of waiting again, so that one stalled server delays start-up once.
// A start holds one; whatever must not hold the start back (the update report) holds its own.
// Safe to use from any thread; never blocks for long.
class ServerStall {
 public:
  // True once Note was called.
  bool Stalled() const;
  // Records that talking to the server timed out; why says what timed out, for later messages,
  // and reason the same in Portuguese for the log. The first cause is kept.
  void Note(const std::string& why, const std::string& reason = {});
  // The cause given to the first Note, empty when the server has not stalled.
  std::string Cause() const;
  // Its reason in Portuguese (Windows-1252), empty when none was given.
  std::string Reason() const;

 private:
  mutable std::mutex mutex_;
  bool stalled_ = false;
  std::string cause_;
  std::string reason_;
};

}  // namespace jov
