// Siblings that do not run as a plain executable of their own name: a shell script, a symbolic
// link to another program, a Windows program under a loader. Each must be found and ended by
// the name Windows would show, by the launcher and by TASKKILL alike.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "platform/child_process_linux.h"
#include "platform/cp1252.h"
#include "platform/process_table_linux.h"
#include "tests/process/child_helpers.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

// A name of this test process's own within 14 characters, so that the kernel's comm holds it
// whole: "Jt<pid><letter>.exe". A script is known by nothing else.
std::string ShortUniqueName() {
  static std::atomic<int> counter{0};
  return "Jt" + std::to_string(::getpid()) + static_cast<char>('a' + counter++ % 26) + ".exe";
}

struct Disguise {
  const char* how;
  bool long_name;  // beyond comm's 15 characters
  // Starts one process to be known as dir/name's file name; returns its pid.
  std::function<pid_t(Children&, const TempDir& dir, const std::string& name)> start;
};

// Each start may be repeated with the same name: the file is made once. The script waits in a
// shell builtin, opening a pipe no one writes to, so that it never forks: a forked shell is
// named as the script until it runs the next program.
pid_t StartScript(Children& children, const TempDir& dir, const std::string& name) {
  const std::string path = dir.path() + "/" + name;
  const std::string fifo = dir.path() + "/never-written";
  if (!std::filesystem::exists(path)) {
    dir.Write(name, "#!/bin/sh\nread line < \"$1\"\n");
    std::filesystem::permissions(path, std::filesystem::perms(0755));
    if (::mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  }
  return children.Start({path, fifo});
}

pid_t StartLink(Children& children, const TempDir& dir, const std::string& name) {
  const std::string path = dir.path() + "/" + name;
  if (!std::filesystem::is_symlink(path)) std::filesystem::create_symlink(PROC_SLEEPER, path);
  return children.Start({path, "60"});
}

pid_t StartUnderLoader(Children& children, const TempDir&, const std::string& name) {
  return children.Start({PROC_WINE_LIKE, "C:\\Jov\\" + name, name, "60"});
}

const Disguise kDisguises[] = {
    {"a shell script", false, StartScript},
    {"a symbolic link to another program", false, StartLink},
    {"a symbolic link to another program", true, StartLink},
    {"a Windows program under a loader", false, StartUnderLoader},
    {"a Windows program under a loader", true, StartUnderLoader},
};

bool Listed(ProcessTable& table, pid_t pid, const std::string& name) {
  const std::vector<ProcessEntry> all = table.Snapshot();
  return std::any_of(all.begin(), all.end(), [&](const ProcessEntry& e) {
    return e.pid == pid && ProcessMatches(e, name);
  });
}

std::vector<int> Ended(const std::function<void(ProcessTable&)>& action) {
  struct Recorder : ProcessTable {
    ProcessTableLinux inner;
    std::vector<int> pids;
    std::vector<ProcessEntry> Snapshot() override { return inner.Snapshot(); }
    std::vector<ProcessEntry> Find(const std::string& name) override { return inner.Find(name); }
    bool Terminate(const ProcessEntry& process) override {
      pids.push_back(process.pid);
      return inner.Terminate(process);
    }
  } recorder;
  action(recorder);
  return recorder.pids;
}

void PrintTo(const Disguise& disguise, std::ostream* out) {
  *out << disguise.how << (disguise.long_name ? ", long name" : "");
}

class ProcessNames : public ::testing::TestWithParam<Disguise> {};

TEST_P(ProcessNames, IsFoundAndEndedByTheNameItWasStartedAs) {
  const Disguise& disguise = GetParam();
  const std::string name =
      disguise.long_name ? UniqueName("Altera_Permissoes_Calvora.EXE") : ShortUniqueName();
  TempDir dir;
  Children children;
  const pid_t pid = disguise.start(children, dir, name);
  ProcessTableLinux table;

  // A loader names itself only once it runs.
  ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning(table, cp1252::LowerAscii(name)); }));
  EXPECT_TRUE(IsProcessRunning(table, cp1252::UpperAscii(name)));
  EXPECT_TRUE(Listed(table, pid, name)) << "the whole listing agrees with the search";
  const std::string stem = name.substr(0, name.size() - 4);
  // Part of the name, a full path, and for a long name the 15 characters comm keeps of it.
  std::vector<std::string> others{stem, "C:\\Jov\\" + name};
  if (disguise.long_name) others.push_back(name.substr(0, 15));
  for (const std::string& other : others) {
    EXPECT_FALSE(IsProcessRunning(table, other)) << other;
  }

  if (::geteuid() == 0) {  // seen by an unprivileged launcher, to whom the link is closed
    ChildOptions options;
    options.capture_output = true;
    options.timeout_ms = 10000;
    const ChildResult probe = RunChild({PROC_PROBE, name}, options);
    EXPECT_EQ(probe.output, std::to_string(pid) + " " + name + "\n");
  }

  EXPECT_EQ(Ended([&](ProcessTable& t) { TerminateProcesses(t, name); }), std::vector<int>{pid});
  EXPECT_TRUE(children.Reap(pid));

  // TASKKILL ends another one by the same rule and names it as it was started.
  const pid_t again = disguise.start(children, dir, name);
  ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning(table, name); }));
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 20000;
  const ChildResult taskkill =
      RunChild({JOV_PROGRAM_DIR "/bin/TASKKILL", "/F", "/IM", cp1252::UpperAscii(name)}, options);
  EXPECT_EQ(taskkill.exit_code, 0);
  EXPECT_EQ(taskkill.output, "ÊXITO: o processo \""_w + name + "\" com PID " +
                                 std::to_string(again) + " foi finalizado.\r\n"_w);
  EXPECT_TRUE(children.Reap(again));
}

INSTANTIATE_TEST_SUITE_P(Disguises, ProcessNames, ::testing::ValuesIn(kDisguises),
                         [](const ::testing::TestParamInfo<Disguise>& info) {
                           return std::to_string(info.index);
                         });

}  // namespace
}  // namespace jov::testing
