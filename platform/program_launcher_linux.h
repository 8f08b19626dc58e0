// ProgramLauncher on Linux: detached children, programs looked up in the program's bin/.
#pragma once

#include <string>

#include "platform/program_launcher.h"

namespace jov {

class ProgramLauncherLinux : public ProgramLauncher {
 public:
  // program_dir: its bin/ is searched first for a program named without a folder.
  explicit ProgramLauncherLinux(std::string program_dir) : program_dir_(std::move(program_dir)) {}
  void ShellExecute(const std::string& program, const std::string& parameters) override;
  void WinExec(const std::string& command_line) override;
  bool WinExecAndWait(const std::string& command_line, int timeout_ms) override;

 private:
  std::string program_dir_;
};

}  // namespace jov
