#include "platform/process_table_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace jov {
namespace {

constexpr std::string_view kDeleted = " (deleted)";

std::string_view LastComponent(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// "PID/leaf" relative to /proc, in a fixed buffer; pid_text holds at most 10 digits.
const char* ProcPath(char (&out)[32], const char* pid_text, std::string_view leaf) {
  const std::size_t length = std::strlen(pid_text);
  std::memcpy(out, pid_text, length);
  out[length] = '/';
  std::memcpy(out + length + 1, leaf.data(), leaf.size());
  out[length + 1 + leaf.size()] = '\0';
  return out;
}

// Reads a small /proc file into buffer; returns the byte count, or -1 when it cannot be read
// (the process has gone).
ssize_t ReadProcFile(int proc_fd, const char* relative, char* buffer, std::size_t size) {
  const int fd = ::openat(proc_fd, relative, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n;
}

// The name of a process whose executable link cannot be read (another user's process, a
// kernel thread, a zombie): argv[0], else comm. Returns false for a zombie or a vanished one.
bool NameWithoutExeLink(int proc_fd, const char* pid_text, std::string& name) {
  char relative[32];
  char buffer[4096];
  // A zombie has no command line left, so one that is there also means a live process.
  const ssize_t m =
      ReadProcFile(proc_fd, ProcPath(relative, pid_text, "cmdline"), buffer, sizeof buffer);
  if (m < 0) return false;
  const std::string_view argv0(buffer, ::strnlen(buffer, static_cast<std::size_t>(m)));
  if (const std::string_view file = LastComponent(argv0); !file.empty()) {
    name.assign(file);
    return true;
  }

  const ssize_t n =
      ReadProcFile(proc_fd, ProcPath(relative, pid_text, "stat"), buffer, sizeof buffer);
  if (n <= 0) return false;
  // "PID (comm) S ...": comm may itself hold ")" and blanks, so take the last ")".
  const std::string_view stat(buffer, static_cast<std::size_t>(n));
  const std::size_t open = stat.find('(');
  const std::size_t close = stat.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
      close + 2 >= stat.size()) {
    return false;
  }
  const char state = stat[close + 2];
  if (state == 'Z' || state == 'X' || state == 'x') return false;
  name.assign(stat.substr(open + 1, close - open - 1));
  return true;
}

}  // namespace

std::vector<ProcessEntry> ProcessTableLinux::Snapshot() {
  std::vector<ProcessEntry> entries;
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr) return entries;
  const int proc_fd = ::dirfd(dir);
  entries.reserve(512);
  char relative[32];
  char target[PATH_MAX];
  while (const dirent* entry = ::readdir(dir)) {
    const char* pid_text = entry->d_name;
    if (*pid_text < '1' || *pid_text > '9') continue;
    long pid = 0;  // process ids stay far below 2^31; longer names are not processes
    const char* p = pid_text;
    for (; *p >= '0' && *p <= '9' && p - pid_text < 10; ++p) pid = pid * 10 + (*p - '0');
    if (*p != '\0' || pid > 0x7fffffff) continue;

    // The executable link is the cheapest source and gives the whole name (comm is cut at 15
    // characters). A zombie has none, so a readable link also means a live process.
    const ssize_t n =
        ::readlinkat(proc_fd, ProcPath(relative, pid_text, "exe"), target, sizeof target);
    if (n > 0) {
      std::string_view path(target, static_cast<std::size_t>(n));
      if (path.ends_with(kDeleted)) path.remove_suffix(kDeleted.size());
      entries.push_back({static_cast<int>(pid), std::string(LastComponent(path))});
      continue;
    }
    std::string name;
    if (NameWithoutExeLink(proc_fd, pid_text, name)) {
      entries.push_back({static_cast<int>(pid), std::move(name)});
    }
  }
  ::closedir(dir);
  return entries;
}

bool ProcessTableLinux::Terminate(int pid) {
  // pid 0 and negative ids would signal whole process groups; the launcher never ends itself.
  if (pid <= 0 || pid == ::getpid()) return false;
  return ::kill(pid, SIGKILL) == 0;
}

}  // namespace jov
