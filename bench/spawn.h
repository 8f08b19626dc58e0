// Starting the programs that a benchmark runs or measures, from an argv vector.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

// Starts argv[0] (looked for in PATH when it holds no "/") with this process's environment
// and extra_env added; its standard output goes to out, and its standard error to /dev/null
// when quiet. Returns its pid, or -1 when it could not be started. Does not wait for it.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& out = "/dev/null",
                   const std::vector<std::string>& extra_env = {}, bool quiet = false) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// Runs the program to its end (see Spawn); its exit code, or -1.
inline int Run(const std::vector<std::string>& argv, bool quiet = false) {
  const pid_t pid = Spawn(argv, "/dev/null", {}, quiet);
  if (pid < 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// jov-appserver (program) on a free loopback port serving the updates folder, from its
// construction to its destruction; its output goes to out. port() is 0 when it did not say
// where it listens within five seconds.
class AppServer {
 public:
  AppServer(const std::string& program, const std::string& updates, const std::string& out)
      : pid_(Spawn({program, "--bind", "127.0.0.1", "--port", "0", "--updates", updates}, out, {},
                   true)) {
    for (int i = 0; i < 500 && pid_ > 0 && port_ == 0; ++i) {
      std::ifstream in(out);
      std::string line;
      if (std::getline(in, line) && line.find_last_of("0123456789") != std::string::npos) {
        port_ = std::stoi(line.substr(line.find_last_not_of("0123456789") + 1));
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }
  ~AppServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  AppServer(const AppServer&) = delete;
  AppServer& operator=(const AppServer&) = delete;
  int port() const { return port_; }

 private:
  pid_t pid_;
  int port_ = 0;
};

}  // namespace bench
