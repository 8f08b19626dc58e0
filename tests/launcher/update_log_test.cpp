// The monthly update log: file naming, line forms, folders and failures, on fakes and on disk.
#include "Cli_jov00000/startup/update_log.h"

#include <gtest/gtest.h>

#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/file_system_linux.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using Cli_jov00000::AppendUpdateLog;
using Cli_jov00000::DirCadJovBpl;

class UpdateLogTest : public LauncherTest {};

TEST_F(UpdateLogTest, FirstCallOfAMonthCreatesItsFileAndLaterCallsAppend) {
  fake.clock.now = {2026, 12, 8, 10, 30, 15};
  auto form = NewForm();
  fake.files.files.clear();
  form->Log("primeira");
  form->Log("segunda");
  EXPECT_EQ(fake.files.files.at("/caixa/Dados/Jov_Bpl/Log_Baixa1226.txt"),
            "08/12/2026 10:30:15 - primeira\r\n08/12/2026 10:30:15 - segunda\r\n");

  fake.clock.now = {2027, 1, 2, 7, 5, 9};
  form->Log("janeiro");
  EXPECT_EQ(fake.files.files.at("/caixa/Dados/Jov_Bpl/Log_Baixa0127.txt"),
            "02/01/2027 07:05:09 - janeiro\r\n");
  EXPECT_EQ(fake.files.files.size(), 2u);
}

TEST_F(UpdateLogTest, OnlyASingleBlankIsWrittenBare) {
  AppendUpdateLog(fake.files, fake.clock, DirCadJovBpl, " ");
  AppendUpdateLog(fake.files, fake.clock, DirCadJovBpl, "  ");
  AppendUpdateLog(fake.files, fake.clock, DirCadJovBpl, "");
  EXPECT_EQ(LogText(), " \r\n08/12/2026 10:30:15 -   \r\n08/12/2026 10:30:15 - \r\n");
}

TEST_F(UpdateLogTest, MidnightWritesTheDateAlone) {
  fake.clock.now = {2026, 12, 31, 0, 0, 0};
  AppendUpdateLog(fake.files, fake.clock, DirCadJovBpl, "virada");
  fake.clock.now = {2026, 12, 31, 0, 0, 1};
  AppendUpdateLog(fake.files, fake.clock, DirCadJovBpl, "depois");
  EXPECT_EQ(LogText(), "31/12/2026 - virada\r\n31/12/2026 00:00:01 - depois\r\n");
}

TEST_F(UpdateLogTest, TextIsWrittenAsWindows1252Bytes) {
  AppendUpdateLog(fake.files, fake.clock, DirCadJovBpl, "Conexão Lum - Criação"_w);
  EXPECT_EQ(LogText(), "08/12/2026 10:30:15 - Conex\xE3o Lum - Cria\xE7\xE3o\r\n");
}

TEST_F(UpdateLogTest, AFileThatCannotBeWrittenRaisesAndLosesTheLine) {
  const std::string name = LogPath();
  fake.files.AddFile(name, "antes\r\n");
  fake.files.read_only.insert(name);
  EXPECT_THROW(AppendUpdateLog(fake.files, fake.clock, DirCadJovBpl, "x"), IoError);
  EXPECT_EQ(LogText(), "antes\r\n");
}

TEST(UpdateLogOnDisk, CreatesMissingFoldersAndAppendsCrLfLines) {
  TempDir dir;
  FileSystemLinux files;
  CallLog log;
  FakeClock clock(log);
  const std::string staging = dir.path() + "/Dados/Jov_Bpl/";
  AppendUpdateLog(files, clock, staging, "um");
  AppendUpdateLog(files, clock, staging, " ");
  EXPECT_EQ(TempDir::Read(staging + "Log_Baixa1226.txt"), "08/12/2026 10:30:15 - um\r\n \r\n");
}

TEST(UpdateLogOnDisk, AnUnwritableLogPathRaisesInputOutputError) {
  TempDir dir;
  FileSystemLinux files;
  CallLog log;
  FakeClock clock(log);
  const std::string staging = dir.path() + "/Dados/Jov_Bpl/";
  // A folder standing where the file should be fails for every user, root included.
  ASSERT_TRUE(files.ForceDirectories(staging + "Log_Baixa1226.txt"));
  try {
    AppendUpdateLog(files, clock, staging, "x");
    FAIL() << "expected an input/output error";
  } catch (const IoError& error) {
    EXPECT_NE(std::string(error.what()).find("Log_Baixa1226.txt"), std::string::npos);
  }
}

}  // namespace
}  // namespace jov::testing
