#include "platform/process_table.h"

#include <string_view>

#include "platform/cp1252.h"

namespace jov {

std::vector<ProcessEntry> ProcessTable::Find(const std::string& name) {
  std::vector<ProcessEntry> found = Snapshot();
  std::erase_if(found, [&name](const ProcessEntry& e) { return !ProcessMatches(e, name); });
  return found;
}

bool ProcessNameMatches(std::string_view reported, std::string_view name) {
  if (name.empty()) return false;           // no process is named by nothing, whatever it reports
  const std::string_view whole = reported;  // the whole reported name
  const std::size_t cut = whole.find_last_of("\\/:");
  const std::string_view file = cut == std::string_view::npos ? whole : whole.substr(cut + 1);
  return cp1252::EqualsIgnoringAsciiCase(file, name) ||
         cp1252::EqualsIgnoringAsciiCase(whole, name);
}

const std::string* MatchingName(const ProcessEntry& process, const std::string& name) {
  if (ProcessNameMatches(process.exe_name, name)) return &process.exe_name;
  for (const std::string& other : process.other_names) {
    if (ProcessNameMatches(other, name)) return &other;
  }
  return nullptr;
}

bool ProcessMatches(const ProcessEntry& process, const std::string& name) {
  return MatchingName(process, name) != nullptr;
}

// Both check each entry Find returns again: whatever a table reports, a process that does not
// match is never counted nor ended.
bool IsProcessRunning(ProcessTable& table, const std::string& name) {
  bool found = false;
  for (const ProcessEntry& entry : table.Find(name)) found = found || ProcessMatches(entry, name);
  return found;
}

void TerminateProcesses(ProcessTable& table, const std::string& name) {
  for (const ProcessEntry& entry : table.Find(name)) {
    if (ProcessMatches(entry, name)) table.Terminate(entry);
  }
}

}  // namespace jov
