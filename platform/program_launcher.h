// Starting other programs: the launcher's stand-ins for ShellExecute and WinExec.
#pragma once

#include <string>

namespace jov {

class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;
  // Starts the program detached with the parameters split on blanks; does not wait and
  // reports nothing (a missing program is silently not started).
  virtual void ShellExecute(const std::string& program, const std::string& parameters) = 0;
  // Starts a command line (program and arguments split on blanks) detached; does not wait.
  virtual void WinExec(const std::string& command_line) = 0;
  // Runs the command line and waits for it to end, at most timeout_ms; true when it ended.
  virtual bool WinExecAndWait(const std::string& command_line, int timeout_ms) = 0;
};

}  // namespace jov
