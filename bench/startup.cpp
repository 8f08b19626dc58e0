// The time from starting JOV.EXE to its screen being shown, and its peak resident memory,
// beside a bare Qt Widgets program that shows an 800x600 window, both on one virtual display
// (Xvfb). The launcher runs in a register of its own: the application server on loopback with
// nothing to update, "Mercato.cds" present, no opening rules. A screen counts as shown when
// its window is seen on the display; the peak memory is taken once its first activation has
// started the screen-package updater (a stand-in that logs its call).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& out = "/dev/null") {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> all;
  for (char** e = environ; *e != nullptr; ++e) all.emplace_back(*e);
  all.insert(all.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (const std::string& e : all) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits (at most 30 s) until the file holds text; false when it never did.
bool WaitFor(const std::string& path, const std::string& text) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    if (Read(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// SIGTERM, then the child's peak resident memory in MiB (its own, not its children's).
double StopAndMeasure(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

struct Setup {
  std::string root;
  std::string display;
  pid_t xvfb = -1;
  pid_t server = -1;

  Setup() {
    char pattern[] = "/tmp/jov-startup-XXXXXX";
    root = ::mkdtemp(pattern);
    const std::string program = root + "/caixa";
    fs::copy(JOV_PROGRAM_DIR, program,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const char* sibling : {"JovTab.exe", "JovBpl.exe"}) {
      fs::copy_file(JOV_STANDIN, program + "/" + sibling);
    }
    fs::create_directories(root + "/updates");
    Write(program + "/Mercato.cds",
          "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA>"
          "<FIELDS>\n<FIELD attrname=\"CDFILIAL\" fieldtype=\"string\" WIDTH=\"4\"/>\n<FIELD "
          "attrname=\"CDCAIXA\" fieldtype=\"string\" WIDTH=\"3\"/>\n</FIELDS><PARAMS/></METADATA>"
          "<ROWDATA>\n<ROW CDFILIAL=\"0001\" CDCAIXA=\"001\"/>\n</ROWDATA></DATAPACKET>\n");
    const pid_t sqlite =
        Spawn({"/usr/bin/sqlite3", root + "/caixa.db",
               "CREATE TABLE CAIXA (CDFILIAL VARCHAR(4), CDCAIXA VARCHAR(3), "
               "IDAUTOIMPTAB CHAR(1), IDUTILABERAUTO CHAR(1), IDPERACESSOTER CHAR(1))"},
              {});
    ::waitpid(sqlite, nullptr, 0);
    server = Spawn({JOV_BIN_DIR "/jov-appserver", "--bind", "127.0.0.1", "--port", "0", "--updates",
                    root + "/updates"},
                   {}, root + "/server.out");
    WaitFor(root + "/server.out", "\n");
    const std::string line = Read(root + "/server.out");
    const std::string port = line.substr(line.find_last_not_of("0123456789\n") + 1);
    Write(program + "/clientlib.ini", "[Server]\nHost=127.0.0.1\nPort=" + port +
                                          "[Paths]\nWorkingDirectory=" + root +
                                          "/work/\nDriveC=" + root +
                                          "/c/\n[Database]\nConnectionString=Provider="
                                          "QSQLITE;Data Source=" +
                                          root + "/caixa.db\n");
    for (int n = 300 + getpid() % 300;; ++n) {
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n))) continue;
      display = ":" + std::to_string(n);
      break;
    }
    xvfb = Spawn(
        {"/usr/bin/Xvfb", display, "-noreset", "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
        {});
    const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
    for (int i = 0; i < 1000 && !fs::exists(socket); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Setup() {
    for (pid_t pid : {xvfb, server}) {
      if (pid > 0) StopAndMeasure(pid);
    }
    fs::remove_all(root);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// Waits (at most 30 s) until a window named title is shown on the display, looking the way
// a person's tool would (xdotool, every couple of milliseconds); false when none came.
bool WaitForWindow(const std::string& display, const std::string& title) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    const pid_t pid =
        Spawn({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"},
              {"DISPLAY=" + display});
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// One start: spawn, wait for its window to show (the time measured), then for the marker (the
// start's own work done, so that the peak memory is the whole start's), stop.
void Measure(benchmark::State& state, const std::vector<std::string>& argv,
             const std::string& title, const std::string& marker, const std::string& shown,
             const std::vector<std::string>& env) {
  Setup& setup = Shared();
  double peak = 0;
  for (auto _ : state) {
    fs::remove(marker);
    std::vector<std::string> all = {"DISPLAY=" + setup.display, "QT_QPA_PLATFORM=xcb"};
    all.insert(all.end(), env.begin(), env.end());
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, all);
    if (pid < 0 || !WaitForWindow(setup.display, title)) {
      state.SkipWithError("the program did not show its screen within 30 s");
      if (pid > 0) StopAndMeasure(pid);
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    if (!WaitFor(marker, shown)) {
      state.SkipWithError("the program did not finish its start within 30 s");
      StopAndMeasure(pid);
      break;
    }
    peak = std::max(peak, StopAndMeasure(pid));
  }
  state.counters["peak_MiB"] = peak;
}

void BM_LauncherToScreen(benchmark::State& state) {
  Setup& setup = Shared();
  const std::string marker = setup.root + "/standins.log";
  Measure(state, {setup.root + "/caixa/JOV.EXE"}, "frmEscolheSistema", marker, "JovBpl.exe [1_]",
          {"JOV_HKLM=" + setup.root + "/HKLM.reg", "JOV_STANDIN_LOG=" + marker,
           "JOV_STANDIN_SECONDS=1"});
}
BENCHMARK(BM_LauncherToScreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_BareWindowToScreen(benchmark::State& state) {
  const std::string marker = Shared().root + "/bare.shown";
  Measure(state, {JOV_BARE_WINDOW, marker}, "bare-window", marker, "shown", {});
}
BENCHMARK(BM_BareWindowToScreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
