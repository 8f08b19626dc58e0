#include "platform/process_table.h"

#include <string_view>

namespace jov {
namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Equal when upper-casing only a to z; accented letters must match exactly.
bool EqualUpperAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

bool ProcessNameMatches(const std::string& reported, const std::string& name) {
  const std::string_view whole = reported;
  const std::size_t cut = whole.find_last_of("\\/:");
  const std::string_view file = cut == std::string_view::npos ? whole : whole.substr(cut + 1);
  return EqualUpperAscii(file, name) || EqualUpperAscii(whole, name);
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
