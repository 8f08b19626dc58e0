// Installing staged files: on fakes, and on real files with the real program starts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "Cli_jov00000/startup/update_log.h"
#include "platform/date_time.h"
#include "platform/errors.h"
#include "platform/file_system_linux.h"
#include "platform/program_launcher_linux.h"
#include "tests/process/child_helpers.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/scoped_locale.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using Cli_jov00000::DirCadJovBpl;
using Cli_jov00000::DirJov;

class CopiaArquivosTest : public LauncherTest {
 protected:
  // The form after its creation, with the record of calls and the log emptied, so that each
  // test sees only what its own CopiaArquivos does.
  void SetUp() override {
    LauncherTest::SetUp();
    form_ = NewFormAfterCreation();
  }
  void Stage(const std::string& name, const std::string& bytes = "novo") {
    fake.files.AddFile(DirCadJovBpl + name, bytes);
  }
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form_;
};

TEST_F(CopiaArquivosTest, MovesStagedProgramsAndLibrariesOverTheInstalledOnes) {
  fake.files.AddFile("/caixa/JovSinc.exe", "velho");
  Stage("JovSinc.exe", "novo exe");
  Stage("midas.dll", "nova dll");
  Stage("REV10000.bpl", "novo bpl");

  form_->CopiaArquivos();

  EXPECT_EQ(fake.files.files["/caixa/JovSinc.exe"], "novo exe");
  EXPECT_EQ(fake.files.files["/caixa/midas.dll"], "nova dll");
  EXPECT_EQ(fake.files.files["/caixa/REV10000.bpl"], "novo bpl");
  EXPECT_FALSE(fake.files.FileExists(DirCadJovBpl + "JovSinc.exe"));
  const std::string log = LogText();
  for (const char* name : {"JovSinc.exe", "midas.dll", "REV10000.bpl"}) {
    EXPECT_NE(
        log.find(Line("Arquivo /caixa/Dados/Jov_Bpl/" + std::string(name) + " movido com sucesso")),
        std::string::npos)
        << name;
  }
  EXPECT_TRUE(fake.programs.starts.empty());
}

TEST_F(CopiaArquivosTest, HeldBackFilesStayAndStartTheUpdaterOnce) {
  Stage("Pkg_jov00000.bpl");
  Stage("_dll.bpl");
  Stage("JovTab.exe");

  form_->CopiaArquivos();

  EXPECT_TRUE(fake.files.FileExists(DirCadJovBpl + "Pkg_jov00000.bpl"));
  EXPECT_TRUE(fake.files.FileExists(DirCadJovBpl + "_dll.bpl"));
  EXPECT_TRUE(fake.files.FileExists("/caixa/JovTab.exe"));
  ASSERT_EQ(fake.programs.starts.size(), 1u);
  EXPECT_EQ(fake.programs.starts[0].kind, "ShellExecute");
  EXPECT_EQ(fake.programs.starts[0].program, "/caixa/JovBpl.exe");
  EXPECT_EQ(fake.programs.starts[0].parameters, "2_JOV.EXE_");
  const std::string log = LogText();
  EXPECT_NE(
      log.find(Line("Arquivo /caixa/Dados/Jov_Bpl/Pkg_jov00000.bpl encontrado. boAtu = true")),
      std::string::npos);
  EXPECT_NE(log.find(Line("Arquivo /caixa/Dados/Jov_Bpl/_dll.bpl encontrado. boAtu = true")),
            std::string::npos);
  // The restart lines close the log, after every file.
  const std::string tail = Line("ShellExecute(2_JOV.EXE_") + Line("----- Fim ExecutaJovBpl -----");
  EXPECT_TRUE(log.ends_with(tail)) << log;
}

TEST_F(CopiaArquivosTest, TheRestartCarriesTheHostNameAsStarted) {
  fake.host.path = "/caixa/Trv.Exe";
  form_.reset();
  ResetUnit();
  form_ = NewForm();
  fake.programs.starts.clear();
  Stage("jov.exe");
  form_->CopiaArquivos();
  ASSERT_EQ(fake.programs.starts.size(), 1u);
  EXPECT_EQ(fake.programs.starts[0].parameters, "2_Trv.Exe_");
  EXPECT_TRUE(fake.files.FileExists(DirCadJovBpl + "jov.exe"));
}

TEST_F(CopiaArquivosTest, OnlyLowerCaseExtensionsAreCandidates) {
  for (const char* name : {"_DLL.BPL", "JOV.EXE", "JovSinc.EXE", "midas.Dll", "notas.txt",
                           "JovSinc.exe.old", "semextensao"}) {
    Stage(name);
  }
  fake.files.directories.insert(DirCadJovBpl + "pasta.exe");

  form_->CopiaArquivos();

  EXPECT_TRUE(fake.programs.starts.empty());
  EXPECT_EQ(LogText(), "");
  EXPECT_FALSE(fake.files.FileExists("/caixa/_DLL.BPL"));
  EXPECT_FALSE(fake.files.FileExists("/caixa/notas.txt"));
  EXPECT_FALSE(fake.files.DirectoryExists("/caixa/pasta.exe"));
}

TEST_F(CopiaArquivosTest, AFailedMoveIsLoggedAndTheLoopGoesOn) {
  Stage("JovImp.exe");
  Stage("JovAut.exe");
  fake.files.move_errors[DirCadJovBpl + "JovImp.exe"] =
      "The process cannot access the file because it is being used by another process.";

  form_->CopiaArquivos();

  EXPECT_TRUE(fake.files.FileExists(DirCadJovBpl + "JovImp.exe"));
  EXPECT_TRUE(fake.files.FileExists("/caixa/JovAut.exe"));
  const std::string log = LogText();
  EXPECT_NE(log.find(Line("Falha ao mover arquivo /caixa/Dados/Jov_Bpl/JovImp.exe: The process "
                          "cannot access the file because it is being used by another process.")),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(Line("Arquivo /caixa/Dados/Jov_Bpl/JovAut.exe movido com sucesso")),
            std::string::npos);
}

TEST_F(CopiaArquivosTest, AMissingStagingFolderDoesNothing) {
  form_->CopiaArquivos();
  EXPECT_EQ(LogText(), "");
  EXPECT_TRUE(fake.programs.starts.empty());
}

TEST_F(CopiaArquivosTest, AFailingLogGoesOnToTheCaller) {
  Stage("JovSinc.exe");
  fake.files.read_only.insert(LogPath());
  EXPECT_THROW(form_->CopiaArquivos(), IoError);
  EXPECT_TRUE(fake.files.FileExists("/caixa/JovSinc.exe"));  // the move itself happened
}

// Counts the starts and passes them on to the real launcher.
class CountingLauncher : public ProgramLauncher {
 public:
  explicit CountingLauncher(ProgramLauncher& inner) : inner_(inner) {}
  void ShellExecute(const std::string& program, const std::string& parameters) override {
    ++starts;
    inner_.ShellExecute(program, parameters);
  }
  void WinExec(const std::string& command_line) override {
    ++starts;
    inner_.WinExec(command_line);
  }
  bool WinExecAndWait(const std::string& command_line, int timeout_ms) override {
    ++starts;
    return inner_.WinExecAndWait(command_line, timeout_ms);
  }
  int starts = 0;

 private:
  ProgramLauncher& inner_;
};

// A real program directory in a temporary folder: real files, real program starts, a
// recording "JovBpl.exe"; every other service stays a fake.
class CopiaArquivosOnDiskTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    fake.host.path = dir_.path() + "/JOV.EXE";
    ResetUnit();
    CopyExecutable(PROC_RECORDER, dir_.path(), "JovBpl.exe");
    ::setenv("JOV_RECORD_FILE", record_.c_str(), 1);
    form_ = std::make_unique<Cli_jov00000::TfrmEscolheSistema>(services_);
    std::filesystem::remove(LogPath());
  }
  void TearDown() override {
    ::unsetenv("JOV_RECORD_FILE");
    LauncherTest::TearDown();
  }
  std::string Stage(const std::string& name, const std::string& bytes = "novo") {
    return dir_.Write("Dados/Jov_Bpl/" + name, bytes);
  }

  TempDir dir_;
  std::string record_ = dir_.path() + "/record.txt";
  FileSystemLinux files_;
  ProgramLauncherLinux real_programs_{dir_.path()};
  CountingLauncher programs_{real_programs_};
  Services services_ = fake.Wire({.programs = &programs_, .files = &files_});
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form_;
};

TEST_F(CopiaArquivosOnDiskTest, MovesFilesAndRestartsTheUpdaterForHeldBackOnes) {
  dir_.Write("JovSinc.exe", "velho");
  const std::string staged_exe = Stage("JovSinc.exe", "novo exe");
  Stage("midas.dll", "nova dll");
  const std::string held = Stage("Pkg_jov00000.bpl");
  const std::string also_held = Stage("jov.exe");
  const std::string upper = Stage("_DLL.BPL");

  form_->CopiaArquivos();

  EXPECT_EQ(TempDir::Read(dir_.path() + "/JovSinc.exe"), "novo exe");
  EXPECT_EQ(TempDir::Read(dir_.path() + "/midas.dll"), "nova dll");
  EXPECT_FALSE(std::filesystem::exists(staged_exe));
  for (const std::string& kept : {held, also_held, upper}) {
    EXPECT_TRUE(std::filesystem::exists(kept)) << kept;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/_DLL.BPL"));
  EXPECT_TRUE(std::filesystem::exists(LogPath()));  // the log itself stays where it is

  EXPECT_EQ(programs_.starts, 1);
  ASSERT_TRUE(WaitUntil([&] { return !ReadLines(record_).empty(); }));
  EXPECT_EQ(ReadLines(record_), std::vector<std::string>{"JovBpl.exe [2_JOV.EXE_]"});

  const std::string log = TempDir::Read(LogPath());
  EXPECT_NE(log.find(Line("Arquivo " + DirCadJovBpl + "JovSinc.exe movido com sucesso")),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(Line("Arquivo " + DirCadJovBpl + "midas.dll movido com sucesso")),
            std::string::npos);
  EXPECT_NE(log.find(Line("Arquivo " + DirCadJovBpl + "Pkg_jov00000.bpl encontrado. boAtu = true")),
            std::string::npos);
  EXPECT_TRUE(
      log.ends_with(Line("ShellExecute(2_JOV.EXE_") + Line("----- Fim ExecutaJovBpl -----")));
}

TEST_F(CopiaArquivosOnDiskTest, AFailedMoveIsLoggedWithTheSystemsTextAndStaysStaged) {
  // A folder with content where the file should go: no rename can replace it, root or not.
  dir_.Write("JovImp.exe/conteudo.txt", "x");
  const std::string staged = Stage("JovImp.exe");

  form_->CopiaArquivos();

  EXPECT_TRUE(std::filesystem::exists(staged));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path() + "/JovImp.exe"));
  EXPECT_EQ(TempDir::Read(LogPath()),
            Line("Falha ao mover arquivo " + staged + ": " + std::strerror(EISDIR)));
  EXPECT_EQ(programs_.starts, 0);
}

// Under a translated UTF-8 locale the system's text reaches the Windows-1252 log in the log's
// code page, not as UTF-8.
TEST_F(CopiaArquivosOnDiskTest, TheSystemsTextOfATranslatedLocaleIsLoggedInWindows1252) {
  ScopedLocale locale("pt_BR.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "the pt_BR.UTF-8 locale is not installed";
  dir_.Write("JovImp.exe/conteudo.txt", "x");
  const std::string staged = Stage("JovImp.exe");

  form_->CopiaArquivos();

  EXPECT_EQ(TempDir::Read(LogPath()),
            Line("Falha ao mover arquivo " + staged + ": \xC9 um diret\xF3rio"));
}

TEST_F(CopiaArquivosOnDiskTest, TheLogAndOtherFilesAreNeverMoved) {
  Stage("leiame.txt");
  std::filesystem::create_directories(DirCadJovBpl + "antigos.exe");
  dir_.Write("Dados/Jov_Bpl/" + std::filesystem::path(LogPath()).filename().string(), "log\r\n");

  form_->CopiaArquivos();

  EXPECT_EQ(TempDir::Read(LogPath()), "log\r\n");
  EXPECT_TRUE(std::filesystem::exists(DirCadJovBpl + "leiame.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(DirCadJovBpl + "antigos.exe"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/antigos.exe"));
  EXPECT_EQ(programs_.starts, 0);
}

}  // namespace
}  // namespace jov::testing
