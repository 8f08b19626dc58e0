#include "platform/child_process_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/system_text.h"

extern char** environ;

namespace jov {
namespace {

constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";

// Everything the child needs, prepared before fork: after fork only async-signal-safe calls
// are made.
struct ExecPlan {
  std::vector<std::string> argv_storage;
  std::vector<std::string> env_storage;
  std::vector<char*> argv;
  std::vector<char*> envp;  // empty: inherit environ

  ExecPlan(const std::vector<std::string>& args, const std::vector<std::string>& env)
      : argv_storage(args), env_storage(env) {
    for (std::string& a : argv_storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!env_storage.empty()) {
      for (std::string& e : env_storage) envp.push_back(e.data());
      envp.push_back(nullptr);
    }
  }
  char* const* Env() const { return envp.empty() ? environ : envp.data(); }
};

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void WriteErrno(int fd, int error) {
  while (::write(fd, &error, sizeof error) < 0 && errno == EINTR) {
  }
}

// In the child: plain signal state, standard streams, every other descriptor closed on exec,
// then exec. output_fd < 0 puts standard output and error on /dev/null. Never returns.
[[noreturn]] void ExecInChild(const ExecPlan& plan, int status_fd, int output_fd, bool inherit) {
  // A parent started with closed standard streams may have got pipes as 0, 1 or 2: move them
  // above the standard streams before those are set up.
  if (status_fd <= STDERR_FILENO) status_fd = ::fcntl(status_fd, F_DUPFD_CLOEXEC, 3);
  if (output_fd >= 0 && output_fd <= STDERR_FILENO) output_fd = ::fcntl(output_fd, F_DUPFD, 3);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(sig, &action, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and the like
  }
  if (!inherit) {
    const int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd < 0) {
      WriteErrno(status_fd, errno);
      ::_exit(127);
    }
    const int out = output_fd >= 0 ? output_fd : null_fd;
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
  } else if (output_fd >= 0) {
    ::dup2(output_fd, STDOUT_FILENO);
    ::dup2(output_fd, STDERR_FILENO);
  }
  // Descriptors of this process (sockets, files) must not leak into the program.
  ::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */);
  ::execve(plan.argv[0], plan.argv.data(), plan.Env());
  WriteErrno(status_fd, errno);
  ::_exit(127);
}

// Blocks until the exec status pipe closes; returns the child's errno, or 0 when exec worked.
int ReadExecStatus(int fd) {
  int error = 0;
  ssize_t n;
  do {
    n = ::read(fd, &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// Reaps the child; returns its exit code (128 + signal when killed), -1 when unknown.
int Reap(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Reads what is available without blocking; returns false at end of file or on error.
bool DrainAvailable(int fd, std::string& output) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

// A close-on-exec pipe whose write end is above the standard streams, so that the child's
// own standard streams can be set up without closing it (a parent started with closed
// standard streams gets 0, 1 or 2 for new pipes). False with errno set when it failed.
bool OpenOutputPipe(int (&fds)[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  if (fds[1] > STDERR_FILENO) return true;
  const int moved = ::fcntl(fds[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  ::close(fds[1]);
  fds[1] = moved;
  if (moved >= 0) return true;
  CloseFd(fds[0]);
  errno = error;
  return false;
}

// Starts the plan with posix_spawn: plain signal state, standard input on /dev/null unless
// inherited, standard output and error on output_fd (or /dev/null, or inherited), every other
// descriptor closed. The child shares this process's memory until it execs, so a start costs
// the same however large this process is; a fork would copy the page tables of the whole Qt
// process and have both sides fault on every page they write. Returns 0 and sets pid, or the
// errno of what failed (the exec's own included).
int Spawn(const ExecPlan& plan, int output_fd, const ChildOptions& options, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (const int error = ::posix_spawn_file_actions_init(&actions); error != 0) return error;
  if (const int error = ::posix_spawnattr_init(&attributes); error != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  int error = 0;
  auto step = [&error](int result) {
    if (error == 0) error = result;
  };
  if (!options.inherit_streams) {
    step(::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDWR, 0));
  }
  if (output_fd >= 0 || !options.inherit_streams) {
    const int out = output_fd >= 0 ? output_fd : STDIN_FILENO;
    step(::posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO));
    step(::posix_spawn_file_actions_adddup2(&actions, out, STDERR_FILENO));
  }
  // Descriptors of this process (sockets, files) must not leak into the program.
  step(::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1));
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  step(::posix_spawnattr_setsigdefault(&attributes, &all));
  step(::posix_spawnattr_setsigmask(&attributes, &none));
  // A session of its own is what a time limit kills; otherwise it stays in this group.
  const short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                      (options.new_session ? POSIX_SPAWN_SETSID : 0);
  step(::posix_spawnattr_setflags(&attributes, flags));
  if (error == 0) {
    error = ::posix_spawn(&pid, plan.argv[0], &actions, &attributes, plan.argv.data(),
                          const_cast<char* const*>(plan.Env()));
  }
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  return error;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> SplitOnBlanks(std::string_view text) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t", pos);
    if (start == std::string_view::npos) break;
    std::size_t end = text.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = text.size();
    words.emplace_back(text.substr(start, end - start));
    pos = end;
  }
  return words;
}

std::string FindProgram(const std::string& name, const std::vector<std::string>& first_dirs) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  std::vector<std::string> dirs = first_dirs;
  const char* path = std::getenv("PATH");
  for (std::string_view rest = path != nullptr ? path : kDefaultPath; !rest.empty();) {
    const std::size_t colon = rest.find(':');
    dirs.emplace_back(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  for (std::string dir : dirs) {
    if (dir.empty()) continue;  // an empty PATH entry would mean the current folder
    if (dir.back() != '/') dir += '/';
    if (IsExecutableFile(dir + name)) return dir + name;
  }
  return {};
}

std::vector<std::string> EnvironmentWithPathFirst(const std::string& first_dir) {
  std::vector<std::string> env;
  std::string inherited = kDefaultPath;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "PATH=", 5) == 0) {
      inherited = *entry + 5;
    } else {
      env.emplace_back(*entry);
    }
  }
  env.push_back("PATH=" + first_dir + (inherited.empty() ? "" : ":" + inherited));
  return env;
}

bool SpawnDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  const ExecPlan plan(argv, {});
  int status[2];
  if (::pipe2(status, O_CLOEXEC) != 0) return false;
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(status[0]);
    ::close(status[1]);
    return false;
  }
  if (pid == 0) {
    // The intermediate child leaves at once, so the program is adopted by init (or the
    // nearest subreaper) and never stays a zombie of ours.
    ::close(status[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild < 0) {
      WriteErrno(status[1], errno);
      ::_exit(1);
    }
    if (grandchild > 0) ::_exit(0);
    ExecInChild(plan, status[1], -1, false);
  }
  ::close(status[1]);
  Reap(pid);
  const int error = ReadExecStatus(status[0]);
  ::close(status[0]);
  return error == 0;
}

pid_t SpawnChild(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return -1;
  const ExecPlan plan(argv, {});
  pid_t pid = -1;
  return Spawn(plan, -1, ChildOptions{}, pid) == 0 ? pid : -1;
}

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildResult result;
  if (argv.empty() || argv[0].empty()) {
    result.error = "no program given";
    return result;
  }
  const ExecPlan plan(argv, options.environment);
  int output[2] = {-1, -1};
  if (options.capture_output && !OpenOutputPipe(output)) {
    result.error = SystemErrorText(errno);
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int spawn_error = Spawn(plan, output[1], options, pid);
  CloseFd(output[1]);
  if (spawn_error != 0) {
    CloseFd(output[0]);
    result.error = SystemErrorText(spawn_error);
    return result;
  }
  result.started = true;
  if (output[0] >= 0) ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);

  // Wait on the child's pidfd and the output pipe together; without pidfd, look every 10 ms.
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  bool exited = false;
  while (!exited) {
    int wait_ms = -1;
    if (options.timeout_ms >= 0) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
      if (elapsed >= options.timeout_ms) break;
      wait_ms = static_cast<int>(options.timeout_ms - elapsed);
    }
    if (pidfd < 0) wait_ms = wait_ms < 0 ? 10 : std::min(wait_ms, 10);
    pollfd fds[2];
    nfds_t count = 0;
    if (pidfd >= 0) fds[count++] = {pidfd, POLLIN, 0};
    const nfds_t output_slot = count;
    if (output[0] >= 0) fds[count++] = {output[0], POLLIN, 0};
    const int ready = ::poll(fds, count, wait_ms);
    if (ready < 0 && errno != EINTR) break;
    if (output[0] >= 0 && ready > 0 && fds[output_slot].revents != 0 &&
        !DrainAvailable(output[0], result.output)) {
      CloseFd(output[0]);
    }
    if (pidfd >= 0) {
      exited = ready > 0 && fds[0].revents != 0;
    } else {
      int st = 0;
      const pid_t r = ::waitpid(pid, &st, WNOHANG | __WNOTHREAD);
      if (r == pid) {
        result.ended = true;
        result.exit_code =
            WIFEXITED(st) ? WEXITSTATUS(st) : (WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1);
        exited = true;
      } else if (r < 0 && errno == ECHILD) {
        result.ended = true;  // reaped elsewhere (SIGCHLD ignored): it ended, code unknown
        exited = true;
      }
    }
  }
  CloseFd(pidfd);
  if (exited) {
    if (!result.ended) {
      result.ended = true;
      result.exit_code = Reap(pid);
    }
  } else {
    if (options.new_session) ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    Reap(pid);
  }
  // What the child wrote before it ended is in the pipe; descendants that keep the pipe open
  // are not waited for.
  if (output[0] >= 0) DrainAvailable(output[0], result.output);
  CloseFd(output[0]);
  return result;
}

}  // namespace jov
