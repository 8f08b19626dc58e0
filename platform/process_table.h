// The running processes: list them, end one. Matching by name is built on top.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace jov {

struct ProcessEntry {
  int pid = 0;
  std::string exe_name;  // the reported executable name (a bare file name or a full path)
  // Further names the process answers to, beside exe_name: on Linux the file-name part of its
  // argv[0] and its whole comm, which name a script, a program started through a symbolic link
  // or a Windows program under a loader as it was started.
  std::vector<std::string> other_names;
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // A fresh snapshot of the running processes; empty when it cannot be taken.
  virtual std::vector<ProcessEntry> Snapshot() = 0;
  // A fresh snapshot of the processes that match the name (ProcessMatches); empty when it
  // cannot be taken. This default filters Snapshot(); a table may read less to answer it.
  virtual std::vector<ProcessEntry> Find(const std::string& name);
  // Asks the system to end the process found by a snapshot (one of its entries); false when it
  // could not (gone, not ours, own process) or when its id now names another program.
  virtual bool Terminate(const ProcessEntry& process) = 0;
};

// True when the reported executable name matches the name looked for: its file-name part
// (after the last "\", "/" or ":"), or the whole of it, equal without regard to ASCII case.
bool ProcessNameMatches(std::string_view reported, std::string_view name);

// True when any of the process's names (exe_name, other_names) matches the name. The one rule
// the launcher and TASKKILL share.
bool ProcessMatches(const ProcessEntry& process, const std::string& name);

// The first of the process's names that matches, for messages; nullptr when none does.
const std::string* MatchingName(const ProcessEntry& process, const std::string& name);

// True when at least one running process matches the name.
bool IsProcessRunning(ProcessTable& table, const std::string& name);

// Asks every matching process to end; failures are skipped silently. Does not wait.
void TerminateProcesses(ProcessTable& table, const std::string& name);

}  // namespace jov
