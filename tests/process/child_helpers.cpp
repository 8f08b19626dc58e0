#include "tests/process/child_helpers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jov::testing {
namespace {

// Fields after "(comm)" in /proc/PID/stat: state, ppid, pgrp, session; none when the process
// is gone. Read with read(2): a process that ends between the open and the read fails the read
// with ESRCH, which std::filebuf throws as an exception.
std::vector<std::string> StatFields(pid_t pid) {
  const int fd = ::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[1024];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return {};
  const std::string stat(buffer, static_cast<std::size_t>(n));
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream rest(stat.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string field; fields.size() < 4 && rest >> field;) fields.push_back(field);
  return fields;
}

}  // namespace

std::string UniqueName(const std::string& base) {
  static std::atomic<int> counter{0};
  const std::string tag = "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  const std::size_t dot = base.find_last_of('.');
  return dot == std::string::npos ? base + tag : base.substr(0, dot) + tag + base.substr(dot);
}

std::string CopyExecutable(const std::string& from, const std::string& dir,
                           const std::string& name) {
  const std::filesystem::path to = std::filesystem::path(dir) / name;
  std::filesystem::create_directories(to.parent_path());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms(0755));
  return to.string();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

char ProcessState(pid_t pid) {
  const std::vector<std::string> fields = StatFields(pid);
  return fields.empty() ? 0 : fields[0][0];
}

pid_t ParentOf(pid_t pid) {
  const std::vector<std::string> fields = StatFields(pid);
  return fields.size() < 2 ? -1 : std::stoi(fields[1]);
}

pid_t SessionOf(pid_t pid) {
  const std::vector<std::string> fields = StatFields(pid);
  return fields.size() < 4 ? -1 : std::stoi(fields[3]);
}

std::vector<pid_t> OwnZombies() {
  std::vector<pid_t> zombies;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    const pid_t pid = std::stoi(name);
    const std::vector<std::string> fields = StatFields(pid);
    if (fields.size() >= 2 && fields[0] == "Z" && std::stoi(fields[1]) == ::getpid()) {
      zombies.push_back(pid);
    }
  }
  return zombies;
}

Children::~Children() {
  for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
  for (const pid_t pid : std::vector<pid_t>(pids_)) Reap(pid);
}

pid_t Children::Start(const std::vector<std::string>& argv) {
  std::vector<std::string> storage = argv;
  std::vector<char*> args;
  for (std::string& arg : storage) args.push_back(arg.data());
  args.push_back(nullptr);
  int status[2];
  if (::pipe2(status, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);
    ::execv(args[0], args.data());
    const char failed = 1;
    [[maybe_unused]] auto ignored = ::write(status[1], &failed, 1);
    ::_exit(127);
  }
  ::close(status[1]);
  char failed = 0;
  const ssize_t n = ::read(status[0], &failed, 1);  // returns at exec: the pipe closes
  ::close(status[0]);
  pids_.push_back(pid);
  if (n > 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

bool Children::Reap(pid_t pid) {
  const bool ended = WaitUntil([pid] { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
  if (ended) std::erase(pids_, pid);
  return ended;
}

}  // namespace jov::testing
