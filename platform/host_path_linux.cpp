#include "platform/host_path_linux.h"

#include <unistd.h>

#include <string>

namespace jov {

std::string HostPathLinux::ExecutablePath() {
  std::string buffer(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<std::size_t>(n));
  // The kernel marks an executable that was replaced on disk after it started.
  constexpr std::string_view kDeleted = " (deleted)";
  if (buffer.ends_with(kDeleted)) buffer.resize(buffer.size() - kDeleted.size());
  return buffer;
}

}  // namespace jov
