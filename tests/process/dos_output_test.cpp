// Console capture of batch files: output, PATH, the time limit, and paths taken literally.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "clientlib/jov_requisicaohttp.h"
#include "platform/errors.h"
#include "platform/host_path_linux.h"
#include "platform/process_table_linux.h"
#include "tests/process/child_helpers.h"
#include "tests/support/temp_dir.h"

namespace Jov_requisicaohttp {
// The same with a time limit of the caller's choice (the library itself uses 30 s).
std::string GetDosOutput(const std::string& program_dir, const std::string& command_line,
                         const std::string& drive, std::chrono::milliseconds limit);
}  // namespace Jov_requisicaohttp

namespace jov::testing {
namespace {

// This test program's folder stands for the program directory: its bin/ holds the tools.
std::string ProgramDirectory() { return DirectoryOf(HostPathLinux().ExecutablePath()); }

std::string GetDosOutput(const std::string& command_line, const std::string& drive) {
  return Jov_requisicaohttp::GetDosOutput(ProgramDirectory(), command_line, drive);
}
std::string GetDosOutput(const std::string& command_line, const std::string& drive,
                         std::chrono::milliseconds limit) {
  return Jov_requisicaohttp::GetDosOutput(ProgramDirectory(), command_line, drive, limit);
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

TEST(GetDosOutput, ReturnsStandardOutputAndErrorTogether) {
  TempDir dir;
  const std::string batch =
      dir.Write("TestePing.bat", "echo Pacotes: Enviados = 1\necho falhou >&2\necho fim\n");
  EXPECT_EQ(GetDosOutput(Quoted(batch), "C:"), "Pacotes: Enviados = 1\nfalhou\nfim\n");
}

TEST(GetDosOutput, PutsTheProgramDirectorysBinFirstInPath) {
  // bin/ beside this test program holds a recording stand-in named "ping".
  TempDir dir;
  const std::string record = dir.path() + "/record.txt";
  const std::string batch =
      dir.Write("TestePing.bat",
                "echo \"$PATH\"\nJOV_RECORD_FILE='" + record + "' ping 10.0.0.1 -n 1 -w 1000\n");
  const std::string output = GetDosOutput(Quoted(batch), "C:");
  EXPECT_EQ(output, ProgramDirectory() + "/bin:" + std::getenv("PATH") + "\n");
  EXPECT_EQ(ReadLines(record), std::vector<std::string>{"ping [10.0.0.1][-n][1][-w][1000]"});
}

TEST(GetDosOutput, TakesThePathLiterally) {
  TempDir dir;
  const std::string batch = dir.Write("a b;$(touch x)'\"/TestePing.bat", "echo ok\n");
  EXPECT_EQ(GetDosOutput(Quoted(batch), "C:"), "ok\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/x"));
}

TEST(GetDosOutput, TheTimeLimitEndsAHungToolAndWhatItStarted) {
  TempDir dir;
  const std::string name = UniqueName("ping");
  const std::string tool = CopyExecutable(PROC_SLEEPER, dir.path(), name);
  const std::string batch =
      dir.Write("TestePing.bat", "echo antes\n'" + tool + "' 60\necho depois\n");
  const auto start = std::chrono::steady_clock::now();
  const std::string output = GetDosOutput(Quoted(batch), "C:", std::chrono::milliseconds(300));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(output, "antes\n");
  ProcessTableLinux table;
  EXPECT_TRUE(WaitUntil([&] { return !IsProcessRunning(table, name); }));
}

TEST(GetDosOutput, AMissingBatchFileRaisesAnErrorNamingIt) {
  const std::string command = "\"/nonexistent/TestePing.bat\"";
  try {
    GetDosOutput(command, "C:");
    FAIL() << "no error raised";
  } catch (const jov::Error& error) {
    EXPECT_NE(std::string(error.what()).find(command), std::string::npos) << error.what();
  }
  EXPECT_THROW(GetDosOutput("", "C:"), jov::Error);
}

}  // namespace
}  // namespace jov::testing
