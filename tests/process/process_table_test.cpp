// The process table: one contract run against the /proc scan with real children and against
// the fake, then what only the real scan can show.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/child_process_linux.h"
#include "platform/cp1252.h"
#include "platform/process_table_linux.h"
#include "tests/fakes/fake_platform.h"
#include "tests/process/child_helpers.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

bool Listed(ProcessTable& table, int pid) {
  const std::vector<ProcessEntry> all = table.Snapshot();
  return std::any_of(all.begin(), all.end(), [pid](const ProcessEntry& e) { return e.pid == pid; });
}

// Passes everything through and records which processes were asked to end.
class RecordingTable : public ProcessTable {
 public:
  explicit RecordingTable(ProcessTable& inner) : inner_(inner) {}
  std::vector<ProcessEntry> Snapshot() override { return inner_.Snapshot(); }
  std::vector<ProcessEntry> Find(const std::string& name) override { return inner_.Find(name); }
  bool Terminate(const ProcessEntry& process) override {
    terminated.push_back(process.pid);
    return inner_.Terminate(process);
  }
  std::vector<int> terminated;

 private:
  ProcessTable& inner_;
};

// Real children: copies of the sleeper under the names asked for.
class LinuxProcesses {
 public:
  ProcessTableLinux table;
  int Start(const std::string& name) {
    const std::string path = dir_.path() + "/" + name;
    if (!std::filesystem::exists(path)) CopyExecutable(PROC_SLEEPER, dir_.path(), name);
    return children_.Start({path, "60"});
  }
  // A process asked to end leaves the table soon, not at once: wait for it (bounded).
  bool Ended(int pid) {
    return WaitUntil([&] { return !Listed(table, pid); });
  }

 private:
  TempDir dir_;
  Children children_;
};

class FakeProcesses {
 public:
  CallLog log;
  FakeProcessTable table{log};
  int Start(const std::string& name) { return table.Add(name); }
  bool Ended(int pid) { return !Listed(table, pid); }
};

template <class World>
class ProcessTableContract : public ::testing::Test {
 protected:
  World world;
};

struct WorldNames {
  template <class T>
  static std::string GetName(int) {
    return std::is_same_v<T, LinuxProcesses> ? "Linux" : "Fake";
  }
};

using Worlds = ::testing::Types<LinuxProcesses, FakeProcesses>;
TYPED_TEST_SUITE(ProcessTableContract, Worlds, WorldNames);

TYPED_TEST(ProcessTableContract, FindsARunningProgramInAnyLetterCase) {
  const std::string name = UniqueName("JovBpl.exe");  // e.g. JovBpl_4711_1.exe
  this->world.Start(name);
  for (const std::string& asked : {name, cp1252::UpperAscii(name), cp1252::LowerAscii(name),
                                   "jOVbPL" + name.substr(6, name.size() - 10) + ".ExE"}) {
    EXPECT_TRUE(IsProcessRunning(this->world.table, asked)) << asked;
  }
}

TYPED_TEST(ProcessTableContract, OneCallEndsEveryInstanceAndNothingElse) {
  const std::string name = UniqueName("JovTab.exe");
  const std::string other = UniqueName("JovSinc.exe");
  const int first = this->world.Start(name);
  const int second = this->world.Start(name);
  const int bystander = this->world.Start(other);
  RecordingTable recorder(this->world.table);

  TerminateProcesses(recorder, cp1252::UpperAscii(name));

  EXPECT_TRUE(this->world.Ended(first));
  EXPECT_TRUE(this->world.Ended(second));
  EXPECT_FALSE(IsProcessRunning(this->world.table, name));
  EXPECT_EQ(recorder.terminated.size(), 2u);
  EXPECT_TRUE(Listed(this->world.table, bystander));
}

TYPED_TEST(ProcessTableContract, PartOfANameMatchesNothing) {
  const std::string name = UniqueName("JovBpl.exe");
  const int pid = this->world.Start(name);
  const std::string stem = name.substr(0, name.size() - 4);  // without ".exe"
  RecordingTable recorder(this->world.table);

  for (const std::string& part : {stem, name.substr(1), name + " ", std::string()}) {
    EXPECT_FALSE(IsProcessRunning(recorder, part)) << "[" << part << "]";
    TerminateProcesses(recorder, part);
  }
  EXPECT_TRUE(recorder.terminated.empty());
  EXPECT_TRUE(Listed(this->world.table, pid));
}

TYPED_TEST(ProcessTableContract, ANameLongerThanFifteenCharactersIsMatchedWhole) {
  const std::string name = UniqueName("Altera_Permissoes_Calvora.EXE");
  this->world.Start(name);
  EXPECT_TRUE(IsProcessRunning(this->world.table, "altera" + name.substr(6)));
  // What the kernel keeps as comm: the first 15 characters only.
  EXPECT_FALSE(IsProcessRunning(this->world.table, name.substr(0, 15)));
}

TYPED_TEST(ProcessTableContract, AFullPathMatchesNoBareReportedName) {
  const std::string name = UniqueName("JovBpl.exe");
  const int pid = this->world.Start(name);
  RecordingTable recorder(this->world.table);
  EXPECT_FALSE(IsProcessRunning(recorder, "/opt/caixa/" + name));
  TerminateProcesses(recorder, "C:\\caixa\\" + name);
  EXPECT_TRUE(recorder.terminated.empty());
  EXPECT_TRUE(Listed(this->world.table, pid));
}

TYPED_TEST(ProcessTableContract, NoMatchChangesNothing) {
  const int pid = this->world.Start(UniqueName("JovExp.exe"));
  const std::size_t before = this->world.table.Snapshot().size();
  RecordingTable recorder(this->world.table);
  const std::string absent = UniqueName("NaoExiste.exe");
  EXPECT_FALSE(IsProcessRunning(recorder, absent));
  TerminateProcesses(recorder, absent);
  EXPECT_TRUE(recorder.terminated.empty());
  EXPECT_TRUE(Listed(this->world.table, pid));
  if constexpr (std::is_same_v<TypeParam, FakeProcesses>) {
    EXPECT_EQ(this->world.table.Snapshot().size(), before);
  }
}

// The matching rule on reported names that the Linux scan never gives (full Windows paths).
TEST(ProcessNameMatches, TakesTheFileNameAfterTheLastSeparatorOrTheWhole) {
  EXPECT_TRUE(ProcessNameMatches("C:\\Calvora\\JovBpl.exe", "JOVBPL.EXE"));
  EXPECT_TRUE(ProcessNameMatches("C:JovBpl.exe", "jovbpl.exe"));
  EXPECT_TRUE(ProcessNameMatches("/opt/caixa/JovBpl.exe", "JovBpl.exe"));
  EXPECT_TRUE(ProcessNameMatches("C:\\Calvora\\JovBpl.exe", "c:\\calvora\\JOVBPL.exe"));
  EXPECT_FALSE(ProcessNameMatches("C:\\Calvora\\JovBpl.exe", "D:\\Calvora\\JovBpl.exe"));
  EXPECT_FALSE(ProcessNameMatches("C:\\Calvora\\JovBpl.exe", "Calvora\\JovBpl.exe"));
  EXPECT_FALSE(ProcessNameMatches("JovBpl.exe", "JovBpl"));
  // Only a to z change case: accented letters must match exactly.
  EXPECT_TRUE(ProcessNameMatches("Ação.exe"_w, "AçãO.EXE"_w));
  EXPECT_FALSE(ProcessNameMatches("Ação.exe"_w, "AÇÃO.EXE"_w));
}

TEST(ProcessTableLinux, ReportsTheLauncherNamesOfRunningPrograms) {
  // Built copies of the sleeper under the exact names the launcher looks for.
  Children children;
  children.Start({PROC_CHILDREN_DIR "/JovBpl.exe", "60"});
  children.Start({PROC_CHILDREN_DIR "/Altera_Permissoes_Calvora.EXE", "60"});
  ProcessTableLinux table;
  EXPECT_TRUE(IsProcessRunning(table, "JOVBPL.EXE"));
  EXPECT_TRUE(IsProcessRunning(table, "jovbpl.exe"));
  EXPECT_TRUE(IsProcessRunning(table, "Altera_Permissoes_Calvora.EXE"));
  EXPECT_TRUE(IsProcessRunning(table, "altera_permissoes_calvora.exe"));
  EXPECT_FALSE(IsProcessRunning(table, "JovBpl"));
}

TEST(ProcessTableLinux, ListsItsOwnProcessButNeverEndsIt) {
  ProcessTableLinux table;
  const std::string own = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  const std::vector<ProcessEntry> all = table.Snapshot();
  const auto self = std::find_if(all.begin(), all.end(),
                                 [](const ProcessEntry& e) { return e.pid == ::getpid(); });
  ASSERT_NE(self, all.end());
  EXPECT_EQ(self->exe_name, own);
  EXPECT_FALSE(table.Terminate(*self));
  // 0 and negative ids would name process groups, -1 every process.
  for (const int pid : {0, -1, -::getpgrp()}) {
    ProcessEntry group = *self;
    group.pid = pid;
    EXPECT_FALSE(table.Terminate(group)) << pid;
  }
}

TEST(ProcessTableLinux, LeavesOutZombies) {
  TempDir dir;
  const std::string name = UniqueName("JovBpl.exe");
  Children children;
  const pid_t pid = children.Start({CopyExecutable(PROC_SLEEPER, dir.path(), name), "60"});
  ProcessTableLinux table;
  ASSERT_TRUE(IsProcessRunning(table, name));
  ::kill(pid, SIGKILL);  // not reaped yet: it stays a zombie of this process
  ASSERT_TRUE(WaitUntil([pid] { return ProcessState(pid) == 'Z'; }));
  EXPECT_FALSE(IsProcessRunning(table, name));
  EXPECT_FALSE(Listed(table, pid));
  EXPECT_TRUE(children.Reap(pid));
}

TEST(ProcessTableLinux, NamesAProgramWhoseFileWasReplacedByItsName) {
  TempDir dir;
  const std::string name = UniqueName("JovSinc.exe");
  const std::string path = CopyExecutable(PROC_SLEEPER, dir.path(), name);
  Children children;
  children.Start({path, "60"});
  std::filesystem::remove(path);  // the kernel now shows ".../name (deleted)"
  ProcessTableLinux table;
  EXPECT_TRUE(IsProcessRunning(table, name));
}

TEST(ProcessTableLinux, FallsBackToArgv0WhenTheExecutableLinkIsClosed) {
  // Run as "nobody", the scan cannot read a root process's executable link; argv[0] (not the
  // 15-character comm) still gives the whole name.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to start the scan as another user";
  TempDir dir;
  const std::string name = UniqueName("Altera_Permissoes_Calvora.EXE");
  Children children;
  const pid_t pid = children.Start({CopyExecutable(PROC_SLEEPER, dir.path(), name), "60"});
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 10000;
  const ChildResult probe = RunChild({PROC_PROBE, name}, options);
  ASSERT_TRUE(probe.ended);
  ASSERT_EQ(probe.exit_code, 0) << probe.output;
  EXPECT_EQ(probe.output, std::to_string(pid) + " " + name + "\n");
}

TEST(ProcessTableLinux, AProcessEndedByAnotherIsNoLongerRunning) {
  TempDir dir;
  const std::string name = UniqueName("JovBpl.exe");
  Children children;
  const pid_t pid = children.Start({CopyExecutable(PROC_SLEEPER, dir.path(), name), "60"});
  ProcessTableLinux table;
  const std::vector<ProcessEntry> found = table.Find(name);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(table.Terminate(found[0]));
  EXPECT_TRUE(children.Reap(pid));
  EXPECT_FALSE(IsProcessRunning(table, name));
  EXPECT_FALSE(table.Terminate(found[0]));  // gone: reported, not thrown
}

// Fault: a process was ended by the id a scan had found, which by then could name another
// program; the one found by other names is never ended.
TEST(ProcessTableLinux, AnIdNowCarriedByAnotherProgramIsNotEnded) {
  TempDir dir;
  const std::string name = UniqueName("JovBpl.exe");
  Children children;
  const pid_t pid = children.Start({CopyExecutable(PROC_SLEEPER, dir.path(), name), "60"});
  ProcessTableLinux table;
  const std::vector<ProcessEntry> found = table.Find(name);
  ASSERT_EQ(found.size(), 1u);
  ProcessEntry before = found[0];  // what a scan found under that id before it was reused
  before.exe_name = "JovTab.exe";
  before.other_names = {"JovTab.exe"};
  EXPECT_FALSE(table.Terminate(before));
  EXPECT_TRUE(IsProcessRunning(table, name));
  EXPECT_TRUE(table.Terminate(found[0]));
  EXPECT_TRUE(children.Reap(pid));
}

}  // namespace
}  // namespace jov::testing
