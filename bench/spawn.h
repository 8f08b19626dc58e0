// Starting the programs that a benchmark runs or measures, from an argv vector.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
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

}  // namespace bench
