#include "platform/process_table_linux.h"

namespace jov {

std::vector<ProcessEntry> ProcessTableLinux::Snapshot() { return {}; }
bool ProcessTableLinux::Terminate(int) { return false; }

}  // namespace jov
