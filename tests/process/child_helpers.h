// Real child processes for the process tests: start, find, wait for and clean up.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace jov::testing {

using namespace std::chrono_literals;

// A name of this test process's own, shaped like base: "JovBpl.exe" -> "JovBpl_<pid>_<n>.exe".
// Tests that end processes by name use such names, so that they never touch processes of
// other tests running at the same time.
std::string UniqueName(const std::string& base);

// Copies an executable file to dir/name with mode 0755; returns the new path.
std::string CopyExecutable(const std::string& from, const std::string& dir,
                           const std::string& name);

// The lines of a text file, without their line ends; empty when it is missing.
std::vector<std::string> ReadLines(const std::string& path);

// The state letter of /proc/PID/stat ('R', 'S', 'Z', ...), or 0 when there is no such process.
char ProcessState(pid_t pid);
// The parent and session ids of a process, -1 when it is gone.
pid_t ParentOf(pid_t pid);
pid_t SessionOf(pid_t pid);
// The children of this process that are zombies now.
std::vector<pid_t> OwnZombies();

// Children of the test: killed (if still running) and reaped when the set goes out of scope;
// each also dies with the test process.
class Children {
 public:
  Children() = default;
  Children(const Children&) = delete;
  Children& operator=(const Children&) = delete;
  ~Children();
  // Starts argv[0] (a path) and returns once it runs that program.
  pid_t Start(const std::vector<std::string>& argv);
  // Waits (bounded) for the child to end and reaps it; false when it did not end in time.
  bool Reap(pid_t pid);

 private:
  std::vector<pid_t> pids_;
};

}  // namespace jov::testing
