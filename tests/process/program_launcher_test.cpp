// Starting programs for real: detached starts, the bin/ look-up, waiting with a limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/child_process_linux.h"
#include "platform/child_reaper_linux.h"
#include "platform/process_table_linux.h"
#include "platform/program_launcher_linux.h"
#include "tests/process/child_helpers.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

// A program directory with a recorder under a given name; every start appends to one file.
class ProgramLauncherLinuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = dir_.path() + "/record.txt";
    ::setenv("JOV_RECORD_FILE", record_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("JOV_RECORD_FILE"); }

  std::string Recorder(const std::string& relative) {
    const std::filesystem::path path = std::filesystem::path(dir_.path()) / relative;
    return CopyExecutable(PROC_RECORDER, path.parent_path().string(), path.filename().string());
  }
  // Waits (bounded) until the detached programs have written n lines.
  std::vector<std::string> Recorded(std::size_t n) {
    WaitUntil([&] { return ReadLines(record_).size() >= n; });
    return ReadLines(record_);
  }

  TempDir dir_;
  std::string record_;
  ProgramLauncherLinux launcher_{dir_.path()};
};

TEST_F(ProgramLauncherLinuxTest, ShellExecuteSplitsTheParametersOnBlanks) {
  const std::string program = Recorder("JovBpl.exe");
  launcher_.ShellExecute(program, "2_JOV.EXE_  second\tthird ");
  EXPECT_EQ(Recorded(1), std::vector<std::string>{"JovBpl.exe [2_JOV.EXE_][second][third]"});
}

TEST_F(ProgramLauncherLinuxTest, ABareNameIsLookedUpInBinBeforePath) {
  const std::string name = UniqueName("JovProbe");
  Recorder("bin/" + name);
  TempDir elsewhere;
  CopyExecutable(PROC_SLEEPER, elsewhere.path(), name);  // would never record
  const std::string saved_path = std::getenv("PATH");
  ::setenv("PATH", (elsewhere.path() + ":" + saved_path).c_str(), 1);
  launcher_.WinExec(name + " /F /IM JovBpl.exe");
  ::setenv("PATH", saved_path.c_str(), 1);
  EXPECT_EQ(Recorded(1), std::vector<std::string>{name + " [/F][/IM][JovBpl.exe]"});
}

TEST_F(ProgramLauncherLinuxTest, ABareNameMissingFromBinIsTakenFromPath) {
  const std::string name = UniqueName("JovProbe");
  TempDir elsewhere;
  CopyExecutable(PROC_RECORDER, elsewhere.path(), name);
  const std::string saved_path = std::getenv("PATH");
  ::setenv("PATH", (saved_path + ":" + elsewhere.path()).c_str(), 1);
  launcher_.WinExec(name + " x");
  ::setenv("PATH", saved_path.c_str(), 1);
  EXPECT_EQ(Recorded(1), std::vector<std::string>{name + " [x]"});
}

TEST_F(ProgramLauncherLinuxTest, AQuotedProgramPathMayHoldBlanks) {
  Recorder("Program Files/JovTab.exe");
  launcher_.WinExec("\"" + dir_.path() + "/Program Files/JovTab.exe\" 0001 001");
  EXPECT_EQ(Recorded(1), std::vector<std::string>{"JovTab.exe [0001][001]"});
}

TEST_F(ProgramLauncherLinuxTest, AMissingProgramIsSilentlyNotStarted) {
  launcher_.ShellExecute(dir_.path() + "/JovBpl.exe", "1_");
  launcher_.ShellExecute("", "");
  launcher_.WinExec(UniqueName("NaoExiste") + " a b");
  launcher_.WinExec("   ");
  launcher_.WinExec("\"unclosed quote");
  EXPECT_FALSE(launcher_.WinExecAndWait(UniqueName("NaoExiste"), 1000));
  // A file that is there but cannot be run.
  const std::string text = dir_.Write("JovTab.exe", "not a program");
  launcher_.ShellExecute(text, "");
  EXPECT_FALSE(std::filesystem::exists(record_));
  EXPECT_TRUE(OwnZombies().empty());
}

TEST_F(ProgramLauncherLinuxTest, ADetachedProgramRunsInItsOwnSessionOnDevNull) {
  const std::string name = UniqueName("JovBpl.exe");
  const std::string program = CopyExecutable(PROC_SLEEPER, dir_.path(), name);
  launcher_.ShellExecute(program, "60");

  ProcessTableLinux table;
  int pid = 0;
  ASSERT_TRUE(WaitUntil([&] {
    for (const ProcessEntry& e : table.Snapshot()) {
      if (e.exe_name == name) pid = e.pid;
    }
    return pid != 0;
  }));
  EXPECT_NE(ParentOf(pid), ::getpid());  // not our child: it can never be our zombie
  EXPECT_NE(SessionOf(pid), SessionOf(::getpid()));
  for (const char* fd : {"0", "1", "2"}) {
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + fd),
              "/dev/null");
  }
  EXPECT_TRUE(OwnZombies().empty());
  ::kill(pid, SIGKILL);
}

// Started through the reaper, a program is our child but runs as a detached one does, and is
// reaped as soon as it ends (how it ended is checked with the health reports).
TEST_F(ProgramLauncherLinuxTest, AReapedProgramRunsInItsOwnSessionAndIsReapedWhenItEnds) {
  struct : ProgramEndListener {
    void ProgramEnded(const ProgramEnd&) override {}
  } listener;
  ChildReaperLinux reaper(listener);
  ProgramLauncherLinux launcher(dir_.path(), &reaper);
  const std::string name = UniqueName("JovBpl.exe");
  launcher.ShellExecute(CopyExecutable(PROC_SLEEPER, dir_.path(), name), "60");

  ProcessTableLinux table;
  int pid = 0;
  ASSERT_TRUE(WaitUntil([&] {
    for (const ProcessEntry& e : table.Snapshot()) {
      if (e.exe_name == name) pid = e.pid;
    }
    return pid != 0;
  }));
  EXPECT_EQ(ParentOf(pid), ::getpid());
  EXPECT_NE(SessionOf(pid), SessionOf(::getpid()));
  for (const char* fd : {"0", "1", "2"}) {
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + fd),
              "/dev/null");
  }
  ::kill(pid, SIGKILL);
  EXPECT_TRUE(WaitUntil([&] { return OwnZombies().empty() && !IsProcessRunning(table, name); }));
}

TEST_F(ProgramLauncherLinuxTest, AShortProgramLeavesNoZombieBehind) {
  const std::string program = Recorder("JovTab.exe");
  for (int i = 0; i < 3; ++i) launcher_.ShellExecute(program, std::to_string(i));
  EXPECT_EQ(Recorded(3).size(), 3u);
  EXPECT_TRUE(OwnZombies().empty());
}

TEST_F(ProgramLauncherLinuxTest, WinExecAndWaitReportsWhetherTheCommandEnded) {
  Recorder("bin/TASKKILL");
  EXPECT_TRUE(launcher_.WinExecAndWait("TASKKILL /F /IM JovBpl.exe", 5000));
  EXPECT_EQ(ReadLines(record_), std::vector<std::string>{"TASKKILL [/F][/IM][JovBpl.exe]"});

  const std::string name = UniqueName("JovBpl.exe");
  CopyExecutable(PROC_SLEEPER, dir_.path() + "/bin", name);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(launcher_.WinExecAndWait(name + " 60", 200));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ProcessTableLinux table;
  EXPECT_TRUE(WaitUntil([&] { return !IsProcessRunning(table, name); }));  // killed at the limit
  EXPECT_TRUE(OwnZombies().empty());
}

TEST(ChildProcess, RunChildCapturesOutputAndExitCode) {
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 10000;
  const ChildResult result = RunChild({"/bin/sh", "-c", "echo out; echo err >&2; exit 7"}, options);
  EXPECT_TRUE(result.started);
  EXPECT_TRUE(result.ended);
  EXPECT_EQ(result.exit_code, 7);
  EXPECT_EQ(result.output, "out\nerr\n");

  const ChildResult missing = RunChild({"/nonexistent/program"}, options);
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.error.empty());
}

TEST(ChildProcess, CapturesOutputForAParentWithClosedStandardStreams) {
  TempDir dir;
  const std::string report = dir.path() + "/report.txt";
  ChildOptions options;
  options.timeout_ms = 10000;
  ASSERT_EQ(RunChild({PROC_PROBE, "--closed", report}, options).exit_code, 0);
  EXPECT_EQ(TempDir::Read(report), "ok\nexit 0\nmissing started 0\n");
}

TEST(ChildProcess, AChildGetsPlainSignalsAndNoneOfThisProcesssDescriptors) {
  // What this process has set up must not reach the program: ignored and blocked signals,
  // and a descriptor opened without close-on-exec.
  struct sigaction old_pipe {};
  struct sigaction old_int {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old_pipe);
  ::sigaction(SIGINT, &ignore, &old_int);
  sigset_t usr1;
  sigset_t old_mask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ::pthread_sigmask(SIG_BLOCK, &usr1, &old_mask);
  const int leaked = ::open("/dev/null", O_RDONLY);

  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 10000;
  // grep reads its own masks (a shell would clear its blocked mask); the shell lists its own
  // descriptors.
  const ChildResult masks =
      RunChild({"/bin/grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"}, options);
  const ChildResult descriptors =
      RunChild({"/bin/sh", "-c", "ls /proc/$$/fd | tr '\\n' ' '"}, options);

  ::close(leaked);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  ::sigaction(SIGPIPE, &old_pipe, nullptr);
  ::sigaction(SIGINT, &old_int, nullptr);
  // Masks in hexadecimal, signal n at bit n - 1. The C library keeps its own two real-time
  // signals (32 and 33) ignored in a spawned child; the standard signals must be plain.
  const auto mask = [&](const std::string& name) {
    const auto at = masks.output.find(name + ":\t");
    return at == std::string::npos ? ~0ULL
                                   : std::stoull(masks.output.substr(at + 8, 16), nullptr, 16);
  };
  EXPECT_EQ(mask("SigBlk"), 0u) << masks.output;
  EXPECT_EQ(mask("SigIgn") & 0x7fffffffULL, 0u) << masks.output;
  EXPECT_EQ(descriptors.output, "0 1 2 ");
}

TEST(ChildProcess, SplitOnBlanksDropsEmptyWords) {
  EXPECT_EQ(SplitOnBlanks("  TASKKILL  /F\t/IM JovBpl.exe "),
            (std::vector<std::string>{"TASKKILL", "/F", "/IM", "JovBpl.exe"}));
  EXPECT_TRUE(SplitOnBlanks(" \t ").empty());
}

}  // namespace
}  // namespace jov::testing
