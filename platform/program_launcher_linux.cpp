#include "platform/program_launcher_linux.h"

namespace jov {

void ProgramLauncherLinux::ShellExecute(const std::string&, const std::string&) {}
void ProgramLauncherLinux::WinExec(const std::string&) {}
bool ProgramLauncherLinux::WinExecAndWait(const std::string&, int) { return true; }

}  // namespace jov
