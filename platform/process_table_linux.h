// ProcessTable on Linux: a fresh scan of /proc on every call.
#pragma once

#include "platform/process_table.h"

namespace jov {

// Reports each live process by the last path component of its executable (the
// /proc/PID/exe link less " (deleted)"), else of argv[0], else its comm. Zombies are left out;
// a process that ends during the scan is skipped.
class ProcessTableLinux : public ProcessTable {
 public:
  std::vector<ProcessEntry> Snapshot() override;
  // SIGKILL; refuses this process itself and ids that would name a process group.
  bool Terminate(int pid) override;
};

}  // namespace jov
