#include "platform/process_table_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/cp1252.h"

namespace jov {
namespace {

constexpr std::string_view kDeleted = " (deleted)";
// The kernel keeps at most this many characters of a process's name as its comm.
constexpr std::size_t kCommLength = 15;

std::string_view LastComponent(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// argv[0] may be a Windows path ("C:\Jov\JovTab.exe") as a loader passes it on.
std::string_view FileNamePart(std::string_view argv0) {
  const std::size_t cut = argv0.find_last_of("\\/:");
  return cut == std::string_view::npos ? argv0 : argv0.substr(cut + 1);
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

// The process's comm without its line end, in buffer; false when the process has gone.
bool ReadComm(int proc_fd, const char* pid_text, char (&buffer)[64], std::string_view& comm) {
  char relative[32];
  const ssize_t n =
      ReadProcFile(proc_fd, ProcPath(relative, pid_text, "comm"), buffer, sizeof buffer);
  if (n <= 0) return false;
  comm = std::string_view(buffer, static_cast<std::size_t>(n));
  if (comm.ends_with('\n')) comm.remove_suffix(1);
  return true;
}

// True for a zombie or a process that has gone, from the state letter in /proc/PID/stat.
bool Dead(int proc_fd, const char* pid_text) {
  char relative[32];
  char buffer[512];
  const ssize_t n =
      ReadProcFile(proc_fd, ProcPath(relative, pid_text, "stat"), buffer, sizeof buffer);
  if (n <= 0) return true;
  // "PID (comm) S ...": comm may itself hold ")" and blanks, so take the last ")".
  const std::string_view stat(buffer, static_cast<std::size_t>(n));
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos || close + 2 >= stat.size()) return true;
  const char state = stat[close + 2];
  return state == 'Z' || state == 'X' || state == 'x';
}

void AddName(ProcessEntry& entry, std::string_view name) {
  if (name.empty() || name == entry.exe_name) return;
  for (const std::string& other : entry.other_names) {
    if (other == name) return;
  }
  if (entry.exe_name.empty()) {
    entry.exe_name.assign(name);
  } else {
    entry.other_names.emplace_back(name);
  }
}

// Every name of one process; comm is read here when not given. False for a zombie or a
// process that has gone.
bool ReadProcess(int proc_fd, const char* pid_text, std::string_view comm, ProcessEntry& entry) {
  char relative[32];
  char target[PATH_MAX];
  // The executable link is unreadable for another user's process (unless root), a kernel
  // thread and a zombie.
  const ssize_t n =
      ::readlinkat(proc_fd, ProcPath(relative, pid_text, "exe"), target, sizeof target);
  std::string_view exe;
  if (n > 0) {
    exe = std::string_view(target, static_cast<std::size_t>(n));
    if (exe.ends_with(kDeleted)) exe.remove_suffix(kDeleted.size());
    exe = LastComponent(exe);
  }

  char command[4096];
  const ssize_t m =
      ReadProcFile(proc_fd, ProcPath(relative, pid_text, "cmdline"), command, sizeof command);
  if (m < 0) return false;
  std::string_view argv0(command, ::strnlen(command, static_cast<std::size_t>(m)));
  // An argv[0] that fills the whole buffer without its end is cut: no name.
  if (argv0.size() == sizeof command) argv0 = {};

  char comm_buffer[64];
  if (comm.empty() && !ReadComm(proc_fd, pid_text, comm_buffer, comm)) return false;

  // A zombie has neither an executable link nor a command line; a kernel thread neither, but
  // it is alive.
  if (exe.empty() && argv0.empty() && Dead(proc_fd, pid_text)) return false;

  AddName(entry, exe);
  AddName(entry, FileNamePart(argv0));
  if (comm.size() < kCommLength) AddName(entry, comm);
  return true;
}

// Calls visit(pid_text, pid) for every process directory of /proc; false when /proc cannot be
// listed.
template <class Visit>
bool ForEachProcess(Visit visit) {
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr) return false;
  const int proc_fd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const char* pid_text = entry->d_name;
    if (*pid_text < '1' || *pid_text > '9') continue;
    long pid = 0;  // process ids stay far below 2^31; longer names are not processes
    const char* p = pid_text;
    for (; *p >= '0' && *p <= '9' && p - pid_text < 10; ++p) pid = pid * 10 + (*p - '0');
    if (*p != '\0' || pid > 0x7fffffff) continue;
    visit(proc_fd, pid_text, static_cast<int>(pid));
  }
  ::closedir(dir);
  return true;
}

}  // namespace

std::vector<ProcessEntry> ProcessTableLinux::Snapshot() {
  std::vector<ProcessEntry> entries;
  entries.reserve(512);
  ForEachProcess([&entries](int proc_fd, const char* pid_text, int pid) {
    ProcessEntry entry;
    entry.pid = pid;
    if (ReadProcess(proc_fd, pid_text, {}, entry)) entries.push_back(std::move(entry));
  });
  return entries;
}

std::vector<ProcessEntry> ProcessTableLinux::Find(const std::string& name) {
  std::vector<ProcessEntry> found;
  if (name.empty()) return found;
  const std::string_view start = std::string_view(name).substr(0, kCommLength);
  ForEachProcess([&](int proc_fd, const char* pid_text, int pid) {
    // comm is the cheapest file of a process to read: most processes end here.
    char buffer[64];
    std::string_view comm;
    if (!ReadComm(proc_fd, pid_text, buffer, comm)) return;
    const bool agrees =
        comm.size() < kCommLength
            ? ProcessNameMatches(comm, name)
            : name.size() >= kCommLength && cp1252::EqualsIgnoringAsciiCase(comm, start);
    if (!agrees) return;
    ProcessEntry entry;
    entry.pid = pid;
    if (ReadProcess(proc_fd, pid_text, comm, entry) && ProcessMatches(entry, name)) {
      found.push_back(std::move(entry));
    }
  });
  return found;
}

bool ProcessTableLinux::Terminate(const ProcessEntry& process) {
  const int pid = process.pid;
  // pid 0 and negative ids would signal whole process groups; the launcher never ends itself.
  if (pid <= 0 || pid == ::getpid()) return false;
  // The id came from a scan and may since have passed to another process. A pidfd holds on to
  // the process it was opened for; the names are read again after opening it, so the signal
  // reaches the process found or none.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0 && errno != ENOSYS) return false;
  const int proc_fd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool same = false;
  if (proc_fd >= 0) {
    const std::string pid_text = std::to_string(pid);
    ProcessEntry again;
    same = ReadProcess(proc_fd, pid_text.c_str(), {}, again) &&
           again.exe_name == process.exe_name && again.other_names == process.other_names;
    ::close(proc_fd);
  }
  if (pidfd < 0) {
    // A kernel without pidfds (before 5.3): the check just made is all there is.
    return same && ::kill(pid, SIGKILL) == 0;
  }
  const bool ended = same && ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0;
  ::close(pidfd);
  return ended;
}

}  // namespace jov
