// ProcessTable on Linux: a fresh scan of /proc on every call.
#pragma once

#include "platform/process_table.h"

namespace jov {

// Reports each live process by the last path component of its executable (the /proc/PID/exe
// link less " (deleted)"), else the file-name part of argv[0] (after the last "/", "\" or
// ":"), else its comm; other_names holds argv[0]'s file-name part and comm beside it. A comm
// of 15 characters may be cut by the kernel and is never used as a name. Zombies are left out;
// a process that ends during the scan is skipped.
class ProcessTableLinux : public ProcessTable {
 public:
  std::vector<ProcessEntry> Snapshot() override;
  // Reads only each process's comm, and the rest only where comm agrees with the name: equal
  // to it, or, at 15 characters, to its first 15. The kernel sets comm from the file name a
  // program was started under, so this passes over only a process that renamed itself or was
  // started through a link of another name. Same entries as Snapshot otherwise.
  std::vector<ProcessEntry> Find(const std::string& name) override;
  // SIGKILL through a pidfd, sent only when the process under that id still has the names it
  // was found with; refuses this process itself and ids that would name a process group.
  bool Terminate(const ProcessEntry& process) override;
};

}  // namespace jov
