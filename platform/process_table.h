// The running processes: list them, end one. Matching by name is built on top.
#pragma once

#include <string>
#include <vector>

namespace jov {

struct ProcessEntry {
  int pid = 0;
  std::string exe_name;  // the reported executable name (a bare file name or a full path)
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // A fresh snapshot of the running processes; empty when it cannot be taken.
  virtual std::vector<ProcessEntry> Snapshot() = 0;
  // Asks the system to end the process; false when it could not (gone, not ours, own process).
  virtual bool Terminate(int pid) = 0;
};

// True when the reported executable name matches the name looked for: its file-name part
// (after the last "\", "/" or ":"), or the whole of it, equal without regard to ASCII case.
bool ProcessNameMatches(const std::string& reported, const std::string& name);

// True when at least one process of the snapshot matches the name.
bool IsProcessRunning(ProcessTable& table, const std::string& name);

// Asks every matching process to end; failures are skipped silently. Does not wait.
void TerminateProcesses(ProcessTable& table, const std::string& name);

}  // namespace jov
