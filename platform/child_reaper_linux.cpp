#include "platform/child_reaper_linux.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/child_process_linux.h"
#include "platform/cp1252.h"

namespace jov {
namespace {

void Wake(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

}  // namespace

ChildReaperLinux::ChildReaperLinux(ProgramEndListener& listener) : listener_(listener) {
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) return;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    ::close(wake_);
    wake_ = -1;
  }
}

ChildReaperLinux::~ChildReaperLinux() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  Wake(wake_);
  thread_.join();
  for (Child& child : children_) ::close(child.pidfd);
  ::close(wake_);
}

bool ChildReaperLinux::Start(const std::vector<std::string>& argv) {
  if (!thread_.joinable()) return SpawnDetached(argv);
  if (argv.empty() || argv[0].empty()) return false;
  Child child;
  child.program = argv[0];
  struct stat st {};
  if (::stat(child.program.c_str(), &st) == 0) child.modified = st.st_mtim.tv_sec;
  child.started = std::chrono::steady_clock::now();
  child.pid = SpawnChild(argv);
  if (child.pid < 0) return false;
  // The child cannot have been reaped yet: the pidfd names it even when it has already ended.
  child.pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child.pid, 0));
  if (child.pidfd < 0) {
    // Nothing to watch it with: reaped below by a look every 100 ms instead.
    child.pidfd = -1;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    children_.push_back(std::move(child));
  }
  Wake(wake_);
  return true;
}

void ChildReaperLinux::AskedToEnd(const std::string& name) {
  const std::string upper = cp1252::UpperAscii(name);
  const std::lock_guard<std::mutex> lock(mutex_);
  for (Child& child : children_) {
    const std::string file = child.program.substr(child.program.rfind('/') + 1);
    if (cp1252::UpperAscii(file) == upper) child.asked = true;
  }
}

void ChildReaperLinux::Run() {
  std::vector<pollfd> fds;
  for (;;) {
    bool look_often = false;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      fds.assign(1, pollfd{wake_, POLLIN, 0});
      for (const Child& child : children_) {
        if (child.pidfd >= 0) {
          fds.push_back({child.pidfd, POLLIN, 0});
        } else {
          look_often = true;
        }
      }
    }
    const int ready = ::poll(fds.data(), fds.size(), look_often ? 100 : -1);
    if (ready < 0 && errno != EINTR) return;
    std::uint64_t count = 0;
    while (::read(wake_, &count, sizeof count) > 0) {
    }
    ReapEnded();
  }
}

void ChildReaperLinux::ReapEnded() {
  std::vector<ProgramEnd> ended;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = children_.begin(); it != children_.end();) {
      siginfo_t info{};
      const int result = ::waitid(P_PID, static_cast<id_t>(it->pid), &info, WEXITED | WNOHANG);
      if (result == 0 && info.si_pid == 0) {
        ++it;  // still running
        continue;
      }
      if (result == 0) {
        ProgramEnd end;
        end.program = it->program;
        end.modified = it->modified;
        end.asked = it->asked;
        if (info.si_code == CLD_EXITED) {
          end.exit_code = info.si_status;
        } else {
          end.signal = info.si_status;
        }
        end.ran = std::chrono::duration_cast<std::chrono::milliseconds>(now - it->started);
        ended.push_back(std::move(end));
      } else if (errno == EINTR) {
        continue;
      }
      // Reaped, or reaped by someone else (SIGCHLD ignored): how it ended is unknown.
      if (it->pidfd >= 0) ::close(it->pidfd);
      it = children_.erase(it);
    }
  }
  for (const ProgramEnd& end : ended) listener_.ProgramEnded(end);
}

}  // namespace jov
