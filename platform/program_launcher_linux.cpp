#include "platform/program_launcher_linux.h"

#include "platform/child_process_linux.h"
#include "platform/child_reaper_linux.h"
#include "platform/cp1252.h"

namespace jov {

std::vector<std::string> ProgramLauncherLinux::Argv(const std::string& program,
                                                    const std::string& parameters) const {
  const std::string path = FindProgram(program, {program_dir_ + "/bin"});
  if (path.empty()) return {};
  std::vector<std::string> argv{path};
  for (std::string& word : SplitOnBlanks(parameters)) argv.push_back(std::move(word));
  return argv;
}

std::vector<std::string> ProgramLauncherLinux::CommandArgv(const std::string& command_line) const {
  const std::size_t start = command_line.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  if (command_line[start] == '"') {
    const std::size_t close = command_line.find('"', start + 1);
    if (close == std::string::npos) return {};
    return Argv(command_line.substr(start + 1, close - start - 1), command_line.substr(close + 1));
  }
  std::size_t end = command_line.find_first_of(" \t", start);
  if (end == std::string::npos) end = command_line.size();
  return Argv(command_line.substr(start, end - start), command_line.substr(end));
}

void ProgramLauncherLinux::NoteEnds(const std::vector<std::string>& argv) const {
  if (reaper_ == nullptr) return;
  const std::string tool = cp1252::UpperAscii(argv[0].substr(argv[0].rfind('/') + 1));
  if (tool != "TASKKILL") return;
  for (std::size_t i = 1; i + 1 < argv.size(); ++i) {
    if (cp1252::UpperAscii(argv[i]) == "/IM") reaper_->AskedToEnd(argv[i + 1]);
  }
}

void ProgramLauncherLinux::Start(const std::vector<std::string>& argv) {
  if (argv.empty()) return;
  NoteEnds(argv);
  if (reaper_ != nullptr) {
    reaper_->Start(argv);
  } else {
    SpawnDetached(argv);
  }
}

void ProgramLauncherLinux::ShellExecute(const std::string& program, const std::string& parameters) {
  Start(Argv(program, parameters));
}

void ProgramLauncherLinux::WinExec(const std::string& command_line) {
  Start(CommandArgv(command_line));
}

bool ProgramLauncherLinux::WinExecAndWait(const std::string& command_line, int timeout_ms) {
  const std::vector<std::string> argv = CommandArgv(command_line);
  if (argv.empty()) return false;
  NoteEnds(argv);
  ChildOptions options;
  options.timeout_ms = timeout_ms < 0 ? 0 : timeout_ms;
  return RunChild(argv, options).ended;
}

}  // namespace jov
