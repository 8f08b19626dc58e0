// Child programs for tests: start from an argv vector, read the first line, wait, end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace jov::testing {

using namespace std::chrono_literals;

// A child process with extra environment entries (replacing inherited ones of the same name),
// standard output on a pipe and standard error in a file. Killed and reaped if still running
// when it goes out of scope.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& stderr_path);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The first line of standard output, without its line end; nothing when none came in time.
  std::optional<std::string> FirstLine(std::chrono::milliseconds limit);
  // The exit code (128 + signal when a signal ended it) once it ended within the limit.
  std::optional<int> Wait(std::chrono::milliseconds limit);
  // SIGTERM, then SIGKILL when it has not ended within the limit; returns the exit code.
  int Stop(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  std::optional<int> status_;
};

}  // namespace jov::testing
