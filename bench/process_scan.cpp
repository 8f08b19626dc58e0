// One IsProcessRunning call on the /proc scan, beside the least any scanner must do (list
// /proc and read each process's comm), with about 400 processes on the machine. Two more lines
// show the scan's worst case, where every child's comm agrees with the name and each is read
// whole, and the whole listing (Snapshot), which reads every name of every process.
// With --as_nobody (started as root) the scan runs as "nobody" among root's processes, whose
// executable links it cannot read: the scan's slower path, as an unprivileged launcher sees it.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/process_table_linux.h"

namespace {

constexpr int kChildren = 400;

// Lists /proc and reads every process's comm, comparing it with the name.
bool BaselineScan(const char* name) {
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr) return false;
  const int proc_fd = ::dirfd(dir);
  bool found = false;
  char path[32];
  char comm[64];
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    const std::size_t length = std::strlen(entry->d_name);
    if (length > 10) continue;
    std::memcpy(path, entry->d_name, length);
    std::memcpy(path + length, "/comm", 6);
    const int fd = ::openat(proc_fd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t n = ::read(fd, comm, sizeof comm - 1);
    ::close(fd);
    if (n <= 0) continue;
    comm[n - 1] = '\0';  // the trailing newline
    found = found || std::strcmp(comm, name) == 0;
  }
  ::closedir(dir);
  return found;
}

void BM_BaselineCommScan(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BaselineScan("JovBpl.exe"));
}
BENCHMARK(BM_BaselineCommScan)->Unit(benchmark::kMicrosecond);

void BM_IsProcessRunning(benchmark::State& state) {
  jov::ProcessTableLinux table;
  for (auto _ : state) benchmark::DoNotOptimize(jov::IsProcessRunning(table, "JovBpl.exe"));
}
BENCHMARK(BM_IsProcessRunning)->Unit(benchmark::kMicrosecond);

// The children are forks of this program: their comm is its name cut at 15 characters, which
// agrees with the name asked for here, so the scan reads each of them whole.
void BM_IsProcessRunningAllCandidates(benchmark::State& state) {
  jov::ProcessTableLinux table;
  const std::string name = std::string(program_invocation_short_name) + "_absent";
  for (auto _ : state) benchmark::DoNotOptimize(jov::IsProcessRunning(table, name));
}
BENCHMARK(BM_IsProcessRunningAllCandidates)->Unit(benchmark::kMicrosecond);

void BM_Snapshot(benchmark::State& state) {
  jov::ProcessTableLinux table;
  for (auto _ : state) benchmark::DoNotOptimize(table.Snapshot());
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMicrosecond);

int ProcessCount() {
  int count = 0;
  DIR* dir = ::opendir("/proc");
  while (const dirent* entry = ::readdir(dir))
    count += entry->d_name[0] >= '1' && entry->d_name[0] <= '9';
  ::closedir(dir);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  bool as_nobody = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--as_nobody") == 0) {
      as_nobody = true;
      for (int j = i; j < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      break;
    }
  }
  // Sleeping children that end with the benchmark whatever happens: each waits for the end of a
  // pipe that only this process holds open (a parent-death signal would not reach root's
  // children once this process is "nobody").
  int alive[2];
  if (::pipe(alive) != 0) return 1;
  std::vector<pid_t> children;
  for (int i = 0; i < kChildren; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(alive[1]);
      char byte;
      while (::read(alive[0], &byte, 1) != 0) {
      }
      ::_exit(0);
    }
    if (pid > 0) children.push_back(pid);
  }
  ::close(alive[0]);
  if (as_nobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
    std::fprintf(stderr, "--as_nobody needs root\n");
    return 1;  // the children die with this process
  }
  benchmark::AddCustomContext("processes", std::to_string(ProcessCount()));
  benchmark::AddCustomContext("scanning as", as_nobody ? "nobody" : std::to_string(::getuid()));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::close(alive[1]);  // every child ends now
  for (const pid_t pid : children) ::waitpid(pid, nullptr, 0);
  return 0;
}
