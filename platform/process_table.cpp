#include "platform/process_table.h"

#include <string_view>

#include "platform/cp1252.h"

namespace jov {

bool ProcessNameMatches(const std::string& reported, const std::string& name) {
  const std::string_view whole = reported;
  const std::size_t cut = whole.find_last_of("\\/:");
  const std::string_view file = cut == std::string_view::npos ? whole : whole.substr(cut + 1);
  return cp1252::EqualsIgnoringAsciiCase(file, name) ||
         cp1252::EqualsIgnoringAsciiCase(whole, name);
}

bool IsProcessRunning(ProcessTable& table, const std::string& name) {
  bool found = false;
  for (const ProcessEntry& entry : table.Snapshot()) {
    found = found || ProcessNameMatches(entry.exe_name, name);
  }
  return found;
}

void TerminateProcesses(ProcessTable& table, const std::string& name) {
  for (const ProcessEntry& entry : table.Snapshot()) {
    if (ProcessNameMatches(entry.exe_name, name)) table.Terminate(entry.pid);
  }
}

}  // namespace jov
