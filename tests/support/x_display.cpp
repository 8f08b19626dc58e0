#include "tests/support/x_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>

#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

// The standard output of a short tool run with DISPLAY set, read to its end within 5 s.
std::string Output(const std::vector<std::string>& argv, const std::string& display) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::string display_env = "DISPLAY=" + display;
  char* env[] = {display_env.data(), nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (spawned == 0 && std::chrono::steady_clock::now() < deadline && out.size() < 65536) {
    pollfd waiting{pipe_fds[0], POLLIN, 0};
    if (::poll(&waiting, 1, 100) <= 0) continue;
    char buffer[512];
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_fds[0]);
  if (spawned == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return out;
}

}  // namespace

XDisplay::XDisplay(const std::string& dir) : dir_(dir) {
  // Tests run side by side and a display's server may still be going down when the next
  // starts: a number is drawn at random, the server says when it accepts clients, a client
  // must get through, and a number that fails is given up for another.
  std::random_device random;
  for (int attempt = 0; attempt < 5 && !up_; ++attempt) {
    const std::string number = std::to_string(200 + random() % 800);
    auto xvfb = std::make_unique<Process>(
        std::vector<std::string>{"/usr/bin/Xvfb", ":" + number, "-displayfd", "1", "-noreset",
                                 "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
        std::vector<std::string>{}, dir + "/xvfb.err");
    name_ = ":" + number;
    if (xvfb->FirstLine(10s) == number && Lines({"/usr/bin/xdpyinfo"}).size() > 0) {
      xvfb_ = std::move(xvfb);
      up_ = true;
    } else {
      xvfb->Stop(5s);
    }
  }
}

XDisplay::~XDisplay() {
  if (xvfb_) xvfb_->Stop(5s);
}

std::vector<std::string> XDisplay::Lines(const std::vector<std::string>& argv) const {
  std::vector<std::string> lines;
  std::istringstream out(Output(argv, name_));
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

std::string XDisplay::Window(const std::string& title) const {
  for (const std::string& id :
       Lines({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "."})) {
    const auto name = Lines({"/usr/bin/xdotool", "getwindowname", id});
    if (!name.empty() && name.front() == title) return id;
  }
  return {};
}

std::string XDisplay::Other(const std::vector<std::string>& known) const {
  for (const std::string& id :
       Lines({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "."})) {
    const auto name = Lines({"/usr/bin/xdotool", "getwindowname", id});
    if (name.empty() || name.front().empty()) continue;
    bool is_known = false;
    for (const std::string& k : known) is_known = is_known || name.front() == k;
    if (!is_known) return id;
  }
  return {};
}

bool XDisplay::Keys(const std::string& window, const std::vector<std::string>& keys) const {
  std::vector<std::string> argv = {"/usr/bin/xdotool", "windowfocus", "--sync", window, "key",
                                   "--delay",          "60"};
  argv.insert(argv.end(), keys.begin(), keys.end());
  Process tool(argv, {"DISPLAY=" + name_}, dir_ + "/xdotool.err");
  return tool.Wait(10s) == std::optional<int>(0);
}

bool XDisplay::Click(const std::string& window, int x, int y) const {
  Process tool({"/usr/bin/xdotool", "mousemove", "--window", window, std::to_string(x),
                std::to_string(y), "click", "1"},
               {"DISPLAY=" + name_}, dir_ + "/xdotool.err");
  return tool.Wait(10s) == std::optional<int>(0);
}

std::string RealWindowSanitizerOptions() {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":detect_leaks=0";
}

}  // namespace jov::testing
