// Starting programs as children of the launcher and reaping them on a thread of their own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/program_ends.h"

namespace jov {

// Each program is watched through a pidfd by one thread that polls them all and reaps each
// with waitid as soon as it has ended, so that no started program stays a zombie (which the
// process list would still show as running) and no thread that starts programs ever waits for
// one. Each end goes to the listener on that thread, with the time it ran measured there.
//
// Without the thread (it could not be started) or a pidfd (an old kernel), Start falls back to
// SpawnDetached: the program runs unwatched and no end is told. Children still running when the
// reaper is destroyed are no longer watched; init takes them when this process ends.
class ChildReaperLinux {
 public:
  // listener must outlive the reaper. Never throws.
  explicit ChildReaperLinux(ProgramEndListener& listener);
  ~ChildReaperLinux();
  ChildReaperLinux(const ChildReaperLinux&) = delete;
  ChildReaperLinux& operator=(const ChildReaperLinux&) = delete;

  // Starts argv (argv[0] a path, see FindProgram) in a session of its own with its standard
  // streams on /dev/null and watches it. False when it could not be started. Blocks only for
  // the start itself; thread-safe.
  bool Start(const std::vector<std::string>& argv);
  // Notes that the launcher asks every program of this executable name (letter case aside) to
  // end: the ends of those watched now are told as asked for. Thread-safe; does not block.
  void AskedToEnd(const std::string& name);

 private:
  struct Child {
    pid_t pid = -1;
    int pidfd = -1;
    std::string program;
    std::optional<std::time_t> modified;
    std::chrono::steady_clock::time_point started;
    bool asked = false;
  };

  void Run();
  // Reaps the children that have ended; called on the reaper's thread.
  void ReapEnded();

  ProgramEndListener& listener_;
  int wake_ = -1;  // an eventfd that Start and the destructor write to
  std::mutex mutex_;
  bool stop_ = false;
  std::vector<Child> children_;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace jov
