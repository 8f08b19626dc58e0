// ProcessTable on Linux: a scan of /proc.
#pragma once

#include "platform/process_table.h"

namespace jov {

class ProcessTableLinux : public ProcessTable {
 public:
  std::vector<ProcessEntry> Snapshot() override;
  bool Terminate(int pid) override;
};

}  // namespace jov
