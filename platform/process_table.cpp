#include "platform/process_table.h"

#include "platform/cp1252.h"

namespace jov {

bool ProcessNameMatches(const std::string& reported, const std::string& name) {
  const auto cut = reported.find_last_of("\\/:");
  const std::string file = cut == std::string::npos ? reported : reported.substr(cut + 1);
  const std::string wanted = cp1252::UpperAscii(name);
  return cp1252::UpperAscii(file) == wanted || cp1252::UpperAscii(reported) == wanted;
}

bool IsProcessRunning(ProcessTable& table, const std::string& name) {
  bool found = false;
  for (const ProcessEntry& entry : table.Snapshot())
    found = found || ProcessNameMatches(entry.exe_name, name);
  return found;
}

void TerminateProcesses(ProcessTable& table, const std::string& name) {
  for (const ProcessEntry& entry : table.Snapshot()) {
    if (ProcessNameMatches(entry.exe_name, name)) table.Terminate(entry.pid);
  }
}

}  // namespace jov
