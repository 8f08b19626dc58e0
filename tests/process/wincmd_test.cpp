// The wincmd tools TASKKILL, cmd.exe and net, run as the launcher runs them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/child_process_linux.h"
#include "platform/cp1252.h"
#include "platform/process_table_linux.h"
#include "tests/process/child_helpers.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

const std::string kBin = JOV_PROGRAM_DIR "/bin/";

ChildResult RunTool(std::vector<std::string> argv, std::vector<std::string> environment = {}) {
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 20000;
  options.environment = std::move(environment);
  return RunChild(argv, options);
}

std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < output.size();) {
    const std::size_t end = output.find("\r\n", start);
    lines.push_back(output.substr(start, end - start));
    start = end == std::string::npos ? output.size() : end + 2;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

class TaskkillTest : public ::testing::Test {
 protected:
  int Start(const std::string& name) {
    const std::string path = dir_.path() + "/" + name;
    if (!std::filesystem::exists(path)) CopyExecutable(PROC_SLEEPER, dir_.path(), name);
    return children_.Start({path, "60"});
  }
  TempDir dir_;
  Children children_;
  ProcessTableLinux table_;
};

TEST_F(TaskkillTest, EndsEveryProcessOfTheNameAndSaysSoInPortuguese) {
  const std::string name = UniqueName("JovBpl.exe");
  const int first = Start(name);
  const int second = Start(name);
  const ChildResult result = RunTool({kBin + "TASKKILL", "/F", "/IM", cp1252::UpperAscii(name)});
  EXPECT_EQ(result.exit_code, 0);
  std::vector<std::string> expected;
  for (const int pid : {first, second}) {
    expected.push_back("ÊXITO: o processo \""_w + name + "\" com PID " + std::to_string(pid) +
                       " foi finalizado."_w);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Lines(result.output), expected);
  EXPECT_TRUE(children_.Reap(first));
  EXPECT_TRUE(children_.Reap(second));
}

TEST_F(TaskkillTest, TakesItsOptionsInAnyLetterCase) {
  const std::string name = UniqueName("JovTab.exe");
  const int pid = Start(name);
  const ChildResult result = RunTool({kBin + "TASKKILL", "/f", "/im", name});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_TRUE(children_.Reap(pid));
}

TEST_F(TaskkillTest, ANameThatRunsNowhereIsAnErrorWithCode128) {
  const std::string name = UniqueName("JovBpl.exe");
  const int bystander = Start(name);
  const std::string stem = name.substr(0, name.size() - 4);
  const ChildResult result = RunTool({kBin + "TASKKILL", "/F", "/IM", stem});
  EXPECT_EQ(result.exit_code, 128);
  EXPECT_EQ(result.output, "ERRO: o processo \""_w + stem + "\" não foi encontrado.\r\n"_w);
  EXPECT_TRUE(IsProcessRunning(table_, name));
  EXPECT_NE(ProcessState(bystander), 'Z');
}

TEST_F(TaskkillTest, NeverEndsItself) {
  // A copy of the tool under a name of its own, asked to end that very name.
  const std::string name = UniqueName("wincmd");
  const std::string tool = CopyExecutable(WINCMD, dir_.path(), name);
  const ChildResult result = RunTool({tool, "TASKKILL", "/F", "/IM", name});
  EXPECT_EQ(result.exit_code, 128);
  EXPECT_EQ(result.output, "ERRO: o processo \""_w + name + "\" não foi encontrado.\r\n"_w);
}

TEST_F(TaskkillTest, WrongArgumentsGiveUsageAndFail) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"/F"}, {"/F", "/IM"}, {"/X", "/IM", "JovBpl.exe"}}) {
    std::vector<std::string> argv{kBin + "TASKKILL"};
    argv.insert(argv.end(), args.begin(), args.end());
    const ChildResult result = RunTool(argv);
    EXPECT_NE(result.exit_code, 0);
    EXPECT_NE(result.output.find("uso: TASKKILL"), std::string::npos) << result.output;
  }
}

TEST(CmdExe, RunsTheCommandAndReturnsItsExitCode) {
  const ChildResult result = RunTool({kBin + "cmd.exe", "/C", "sh", "-c", "echo ok; exit 7"});
  EXPECT_EQ(result.exit_code, 7);
  EXPECT_EQ(result.output, "ok\n");
  EXPECT_EQ(RunTool({kBin + "cmd.exe", "/c", "true"}).exit_code, 0);
}

TEST(CmdExe, LooksForTheProgramBesideItselfFirst) {
  TempDir dir;
  const std::string cmd = CopyExecutable(WINCMD, dir.path(), "cmd.exe");
  const std::string name = UniqueName("JovProbe");
  CopyExecutable(PROC_RECORDER, dir.path(), name);
  const std::string record = dir.path() + "/record.txt";
  const ChildResult result = RunTool({cmd, "/C", name + " start JovService"},
                                     {"PATH=/usr/bin:/bin", "JOV_RECORD_FILE=" + record});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(ReadLines(record), std::vector<std::string>{name + " [start][JovService]"});
}

TEST(CmdExe, AnUnknownCommandOrNoCommandFails) {
  const std::string name = UniqueName("NaoExiste");
  const ChildResult missing = RunTool({kBin + "cmd.exe", "/C", name});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.output, "'" + name +
                                "' não é reconhecido como um comando interno\r\n"
                                "ou externo, um programa operável ou um arquivo em lotes.\r\n"_w);
  EXPECT_NE(RunTool({kBin + "cmd.exe"}).exit_code, 0);
  EXPECT_NE(RunTool({kBin + "cmd.exe", "/K", "true"}).exit_code, 0);
}

class NetTest : public ::testing::Test {
 protected:
  ChildResult Net(std::vector<std::string> args, const std::string& exit_code = "0") {
    args.insert(args.begin(), kBin + "net");
    return RunTool(args, {"PATH=" + dir_.path(), "JOV_RECORD_FILE=" + record_,
                          "JOV_RECORD_EXIT=" + exit_code});
  }
  TempDir dir_;
  std::string record_ = dir_.path() + "/record.txt";
};

TEST_F(NetTest, StartsTheServiceThroughSystemctl) {
  CopyExecutable(PROC_RECORDER, dir_.path(), "systemctl");
  const ChildResult result = Net({"start", "JovService"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(ReadLines(record_), std::vector<std::string>{"systemctl [start][JovService]"});
  EXPECT_EQ(result.output,
            "O serviço de JovService está sendo iniciado.\r\n"
            "O serviço de JovService foi iniciado com êxito.\r\n\r\n"_w);
}

TEST_F(NetTest, FallsBackToServiceWhenSystemctlFails) {
  CopyExecutable(PROC_RECORDER, dir_.path(), "systemctl");
  CopyExecutable(PROC_RECORDER, dir_.path(), "service");
  const ChildResult result = Net({"START", "JovService"}, "1");
  EXPECT_EQ(ReadLines(record_), (std::vector<std::string>{"systemctl [start][JovService]",
                                                          "service [JovService][start]"}));
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(result.output,
            "O serviço de JovService não pôde ser iniciado.\r\n\r\n"
            "Obtenha mais ajuda digitando NET HELPMSG 3521.\r\n\r\n"_w);
}

TEST_F(NetTest, WithoutAServiceManagerTheNameIsInvalid) {
  const ChildResult result = Net({"start", "JovService"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_EQ(result.output,
            "O nome de serviço é inválido.\r\n\r\n"
            "Obtenha mais ajuda digitando NET HELPMSG 2185.\r\n\r\n"_w);
}

TEST_F(NetTest, AnOptionIsNeverPassedOnAsAServiceName) {
  CopyExecutable(PROC_RECORDER, dir_.path(), "systemctl");
  EXPECT_EQ(Net({"start", "--now"}).exit_code, 2);
  EXPECT_TRUE(ReadLines(record_).empty());
}

TEST_F(NetTest, WrongArgumentsGiveUsageAndFail) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"start"}, {"stop", "JovService"}}) {
    const ChildResult result = Net(args);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.output.find("uso: net start"), std::string::npos);
  }
}

}  // namespace
}  // namespace jov::testing
