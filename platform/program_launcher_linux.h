// ProgramLauncher on Linux: detached children, programs looked up in the program's bin/.
#pragma once

#include <string>
#include <vector>

#include "platform/program_launcher.h"

namespace jov {

class ChildReaperLinux;

// Programs run from an argv vector, never through a shell. A program named without a folder is
// looked up in program_dir + "/bin/", then in PATH; a missing one is silently not started.
class ProgramLauncherLinux : public ProgramLauncher {
 public:
  // With a reaper, ShellExecute and WinExec start their programs through it, so that their ends
  // are told; without one the programs are detached and never heard of again. reaper must
  // outlive the launcher.
  explicit ProgramLauncherLinux(std::string program_dir, ChildReaperLinux* reaper = nullptr)
      : program_dir_(std::move(program_dir)), reaper_(reaper) {}
  void ShellExecute(const std::string& program, const std::string& parameters) override;
  // The command line's first word (or a leading double-quoted path) is the program.
  void WinExec(const std::string& command_line) override;
  // Output goes to /dev/null; a program still running at the limit is killed with its process
  // group. False also when the program could not be started.
  bool WinExecAndWait(const std::string& command_line, int timeout_ms) override;

 private:
  // argv for the command line, argv[0] the program's path; empty when the program is missing.
  std::vector<std::string> Argv(const std::string& program, const std::string& parameters) const;
  std::vector<std::string> CommandArgv(const std::string& command_line) const;
  void Start(const std::vector<std::string>& argv);
  // A "TASKKILL ... /IM NAME" the launcher runs: the ends it brings are asked for, no failure.
  void NoteEnds(const std::vector<std::string>& argv) const;

  std::string program_dir_;
  ChildReaperLinux* reaper_;
};

}  // namespace jov
