// What the launcher learns when a program it started ends.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

namespace jov {

// How one started program ended. Exactly one of signal and exit_code is set.
struct ProgramEnd {
  std::string program;                  // the file that was run, as started
  std::optional<std::time_t> modified;  // that file's last-write time when it was started
  std::optional<int> signal;            // the signal that ended it
  std::optional<int> exit_code;         // or the status it exited with (0 included)
  std::chrono::milliseconds ran{0};     // from its start to its end
  bool asked = false;  // the launcher had asked for programs of its name to end (TASKKILL)
};

// Told of every end of a program the launcher started. Called on a thread of the watcher's own,
// never the UI thread; it should return soon, since later ends are seen only once it has.
class ProgramEndListener {
 public:
  virtual ~ProgramEndListener() = default;
  virtual void ProgramEnded(const ProgramEnd& end) = 0;
};

}  // namespace jov
