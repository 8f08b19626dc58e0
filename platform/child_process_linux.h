// Starting child programs on Linux from an argv vector: detached, or waited for with a limit.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace jov {

// The words of a command line split on blanks (spaces and tabs); empty words are dropped.
std::vector<std::string> SplitOnBlanks(std::string_view text);

// The file to run for a program name. A name holding "/" is taken as it is; a bare name is
// looked for in each folder of first_dirs, then in the folders of PATH. Returns "" when no
// executable file is found.
std::string FindProgram(const std::string& name, const std::vector<std::string>& first_dirs = {});

// Starts argv[0] (a path, see FindProgram) detached: a session of its own, standard streams on
// /dev/null, not waited for, and never left behind as a zombie of this process. Returns false
// when it could not be started. Does not block beyond the start itself.
bool SpawnDetached(const std::vector<std::string>& argv);

// Starts argv[0] (a path, see FindProgram) in a session of its own with its standard streams on
// /dev/null, as a child of this process that the caller must reap (waitpid or waitid on the
// pid). Returns its pid, or -1 when it could not be started. Does not block beyond the start.
pid_t SpawnChild(const std::vector<std::string>& argv);

struct ChildOptions {
  // Capture standard output and error together into ChildResult::output; otherwise the child's
  // standard streams are inherited (inherit_streams) or on /dev/null.
  bool capture_output = false;
  bool inherit_streams = false;
  // The whole environment as "NAME=value" entries; empty means this process's environment.
  std::vector<std::string> environment;
  // A session and process group of its own (what a time limit kills); otherwise the child
  // stays in this process's group, so that whoever ends this process's group ends it too.
  bool new_session = true;
  // Longest wait in milliseconds; negative waits without limit. When the limit passes, the
  // child's whole process group is killed.
  int timeout_ms = -1;
};

struct ChildResult {
  bool started = false;  // false: nothing ran (see error)
  bool ended = false;    // ended by itself within the limit
  int exit_code = -1;    // its exit status, or 128 + signal number when a signal ended it
  std::string output;    // standard output and error, when captured
  std::string error;     // why it could not be started
};

// Runs argv[0] (a path, see FindProgram) and blocks until it ends or the time limit passes.
// Never throws.
ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options);

// This process's environment with PATH replaced by first_dir followed by the inherited PATH
// (or the system default when none is set).
std::vector<std::string> EnvironmentWithPathFirst(const std::string& first_dir);

}  // namespace jov
