// The screen-package update command, and the form's process checks it builds on.
#include <gtest/gtest.h>

#include "Cli_jov00000/startup/update_log.h"
#include "platform/date_time.h"
#include "platform/errors.h"
#include "platform/program_launcher_linux.h"
#include "tests/process/child_helpers.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using Cli_jov00000::DirCadJovBpl;

class AtualizaBplTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    form_ = NewFormAfterCreation();
  }
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form_;
};

TEST_F(AtualizaBplTest, WithNoUpdaterRunningStartsOneWithTheHostName) {
  form_->sbtJovBplClick(nullptr);
  ASSERT_EQ(fake.programs.starts.size(), 1u);
  EXPECT_EQ(fake.programs.starts[0].kind, "ShellExecute");
  EXPECT_EQ(fake.programs.starts[0].program, "/caixa/JovBpl.exe");
  EXPECT_EQ(fake.programs.starts[0].parameters, "1_JOV.EXE_");
  EXPECT_EQ(LogText(), Line("ShellExecute(1_JOV.EXE_") + Line("----- Fim ExecutaJovBpl -----"));
  EXPECT_TRUE(form_->boAtuBpl);
}

TEST_F(AtualizaBplTest, ARunningUpdaterIsEndedAndWaitedForBeforeTheNewOneStarts) {
  fake.processes.Add("jovbpl.EXE");
  fake.processes.Add("JovBpl.exe");
  // What TASKKILL does: end every "JovBpl.exe" there is at that moment.
  fake.programs.on_start = [this](const FakeProgramLauncher::Start& start) {
    if (start.program == "TASKKILL /F /IM JovBpl.exe") {
      TerminateProcesses(fake.processes, "JovBpl.exe");
    }
  };

  form_->sbtJovBplClick(nullptr);

  ASSERT_EQ(fake.programs.starts.size(), 2u);
  EXPECT_EQ(fake.programs.starts[0].kind, "WinExecAndWait");
  EXPECT_EQ(fake.programs.starts[0].program, "TASKKILL /F /IM JovBpl.exe");
  EXPECT_TRUE(fake.log.Contains("programs.WinExecAndWait TASKKILL /F /IM JovBpl.exe 5000"));
  EXPECT_EQ(fake.programs.starts[1].kind, "ShellExecute");
  EXPECT_EQ(fake.programs.starts[1].parameters, "1_JOV.EXE_");
  EXPECT_EQ(fake.processes.terminated.size(), 2u);
  EXPECT_TRUE(form_->boAtuBpl);
}

TEST_F(AtualizaBplTest, AnUpdaterThatWillNotEndStillGetsItsSuccessor) {
  fake.processes.Add("JovBpl.exe");
  fake.programs.wait_result = false;  // TASKKILL did not end within 5 s
  form_->sbtJovBplClick(nullptr);
  ASSERT_EQ(fake.programs.starts.size(), 2u);
  EXPECT_EQ(fake.programs.starts[1].parameters, "1_JOV.EXE_");
  EXPECT_EQ(LogText(), Line("ShellExecute(1_JOV.EXE_") + Line("----- Fim ExecutaJovBpl -----"));
}

TEST_F(AtualizaBplTest, AnErrorIsLoggedAndLeavesTheFlagAsItWas) {
  fake.programs.on_start = [](const FakeProgramLauncher::Start&) {
    throw Error("Cannot start JovBpl.exe: out of memory");
  };
  form_->sbtJovBplClick(nullptr);
  EXPECT_FALSE(form_->boAtuBpl);
  EXPECT_EQ(LogText(), Line("ShellExecute(1_JOV.EXE_") +
                           Line("Except: Cannot start JovBpl.exe: out of memory"));

  fake.programs.on_start = nullptr;
  form_->sbtJovBplClick(nullptr);
  EXPECT_TRUE(form_->boAtuBpl);
  fake.programs.on_start = [](const FakeProgramLauncher::Start&) { throw Error("again"); };
  form_->sbtJovBplClick(nullptr);
  EXPECT_TRUE(form_->boAtuBpl);  // once set, it stays set
}

TEST_F(AtualizaBplTest, TheFormsProcessChecksMatchTheWayTheLauncherNamesPrograms) {
  const int first = fake.processes.Add("C:\\Calvora\\JovTab.exe");
  const int second = fake.processes.Add("JOVTAB.EXE");
  fake.processes.Add("JovTabela.exe");
  EXPECT_TRUE(form_->ProcessoRodando("jovtab.exe"));
  EXPECT_FALSE(form_->ProcessoRodando("JovTab"));
  form_->FinalizaProcesso("JovTab.exe");
  EXPECT_EQ(fake.processes.terminated, (std::vector<int>{first, second}));
  EXPECT_FALSE(form_->ProcessoRodando("JovTab.exe"));
  EXPECT_TRUE(form_->ProcessoRodando("JovTabela.exe"));
}

// The click with the real program starts: "TASKKILL" and "JovBpl.exe" are recording
// stand-ins in a temporary program directory, so no real process is ended.
TEST_F(AtualizaBplTest, RealStartsRunTaskkillToTheEndBeforeTheNewUpdater) {
  TempDir dir;
  fake.host.path = dir.path() + "/JOV.EXE";
  ResetUnit();
  ProgramLauncherLinux programs(dir.path());
  Services services = fake.Wire({.programs = &programs});
  CopyExecutable(PROC_RECORDER, dir.path() + "/bin", "TASKKILL");
  CopyExecutable(PROC_RECORDER, dir.path(), "JovBpl.exe");
  const std::string record = dir.path() + "/record.txt";
  ::setenv("JOV_RECORD_FILE", record.c_str(), 1);
  Cli_jov00000::TfrmEscolheSistema form(services);
  fake.processes.Add("JovBpl.exe");

  form.sbtJovBplClick(nullptr);
  ::unsetenv("JOV_RECORD_FILE");

  ASSERT_TRUE(WaitUntil([&] { return ReadLines(record).size() >= 2; }));
  EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"TASKKILL [/F][/IM][JovBpl.exe]",
                                                         "JovBpl.exe [1_JOV.EXE_]"}));
  EXPECT_TRUE(form.boAtuBpl);
}

}  // namespace
}  // namespace jov::testing
