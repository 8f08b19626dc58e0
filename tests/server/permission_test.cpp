// The folder permission check: its decision on icacls outputs, its batch file, folders built
// to break out of the command line, and the real icacls tool on real folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "clientlib/library_services.h"
#include "platform/child_process_linux.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/file_system_linux.h"
#include "platform/host_path_linux.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

const std::string kBatch = "/caixa/Permissoes.bat";

class VerificaPermissaoTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    form = NewForm();
    fake.console.on_run = [this](const std::string&) {
      const auto it = fake.files.files.find(kBatch);
      batch_when_run = it == fake.files.files.end() ? "<no file>" : it->second;
    };
  }

  bool Check(const std::string& output, const std::string& folder = "/var/lib/jov/work") {
    fake.console.outputs = {output};
    return form->VerificaPermissao(folder);
  }

  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form;
  std::string batch_when_run;
};

TEST_F(VerificaPermissaoTest, DecidesOnTheOutput) {
  const std::string acl = "C:\\Calvora BUILTIN\\Administradores:(OI)(CI)(F)\r\n           ";
  const std::vector<std::pair<std::string, bool>> cases = {
      {"Processados com êxito 1 arquivos; falha no processamento de 0 arquivos"_w, true},
      {acl + "Todos:(OI)(CI)(R)\r\n\r\nProcessados com êxito 10 arquivos"_w, true},
      {"FALHA NO PROCESSAMENTO DE 0 ARQUIVOS", true},
      {acl + "Todos:(OI)(CI)(RX)\r\n", true},
      {acl + "Todos:(OI)(CI)(F)\r\n", true},
      {acl + "TODOS:(OI)(CI)(F)\n", true},
      {acl + "Todos:(OI)(CI)(M)\r\n", false},
      {acl + "Todos:(OI)(CI)(R)\r\n", false},
      {acl + "Todos:(oi)(ci)(f)\r\n", false},
      {acl + "Todos:(OI)(CI)(R)\r\n    Todos:(OI)(CI)(F)\r\n", false},
      {acl + "Todos:(OI)(CI)(F)", false},
      {"C:\\Calvora Todos:(OI)(CI)(R)\r\n CREATOR OWNER:(F)\r\n", false},
      {"C:\\Calvora Everyone:(OI)(CI)(F)\r\n\r\nSuccessfully processed 1 files; Failed "
       "processing 0 files\r\n",
       false},
      {"", false},
  };
  for (const auto& [output, passes] : cases) {
    EXPECT_EQ(Check(output), passes) << output;
    EXPECT_EQ(fake.files.files.count(kBatch), 0u) << "the batch file is deleted after the check";
  }
}

TEST_F(VerificaPermissaoTest, RunsIcaclsOnTheFolderAsOneLiteralWord) {
  Check("0 arquivos");
  EXPECT_EQ(batch_when_run, "icacls '/var/lib/jov/work'\n");
  EXPECT_EQ(fake.console.command_lines.back(), "\"" + kBatch + "\"");
  EXPECT_TRUE(fake.log.Contains("console.GetDosOutput \"" + kBatch + "\" C:"));
  Check("0 arquivos", "/c/Program Files (x86)/it's \"$HOME\" `id` $(id);\nx");
  EXPECT_EQ(batch_when_run, "icacls '/c/Program Files (x86)/it'\\''s \"$HOME\" `id` $(id);\nx'\n");
}

TEST_F(VerificaPermissaoTest, AStaleBatchFileThatCannotBeDeletedGetsTheLineAppended) {
  fake.files.AddFile(kBatch, "echo antigo\n");
  fake.files.undeletable.insert(kBatch);
  EXPECT_TRUE(Check("0 arquivos", "/w"));
  EXPECT_EQ(batch_when_run, "echo antigo\nicacls '/w'\n");
}

TEST_F(VerificaPermissaoTest, FailuresGoToTheCaller) {
  fake.console.fail = true;
  EXPECT_THROW(Check("0 arquivos"), Error);
  fake.console.fail = false;
  fake.files.files.erase(kBatch);
  fake.files.read_only.insert(kBatch);
  EXPECT_THROW(Check("0 arquivos"), IoError);
}

// The real tool: what it prints for folders whose mode the test sets.
std::string Icacls(const std::string& folder) {
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 10000;
  return cp1252::ToUtf8(RunChild({JOV_PROGRAM_DIR "/bin/icacls", folder}, options).output);
}

std::string Folder(const TempDir& dir, const std::string& name, mode_t mode) {
  const std::string path = dir.path() + "/" + name;
  std::filesystem::create_directory(path);
  ::chmod(path.c_str(), mode);
  return path;
}

TEST(RealIcacls, PrintsTheAccessListOfTheModeBits) {
  TempDir dir;
  const std::string open = Folder(dir, "aberta", 0755);
  const std::string indent(open.size() + 1, ' ');
  EXPECT_EQ(Icacls(open), open + " root:(OI)(CI)(F)\r\n" + indent + "root:(OI)(CI)(RX)\r\n" +
                              indent + "Todos:(OI)(CI)(RX)\r\n\r\n" +
                              "Processados com êxito 1 arquivos; falha no processamento de 0 "
                              "arquivos\r\n");
  EXPECT_NE(Icacls(Folder(dir, "total", 0777)).find(" Todos:(OI)(CI)(F)\r\n"), std::string::npos);
  const std::string shared = Icacls(Folder(dir, "grupo", 0764));
  EXPECT_NE(shared.find(" root:(OI)(CI)(M)\r\n"), std::string::npos) << shared;
  EXPECT_NE(shared.find(" Todos:(OI)(CI)(R)\r\n"), std::string::npos) << shared;
  EXPECT_EQ(Icacls(Folder(dir, "fechada", 0770)).find("Todos"), std::string::npos);
  EXPECT_EQ(Icacls(dir.path() + "/nao existe"),
            dir.path() +
                "/nao existe: O sistema não pode encontrar o arquivo especificado.\r\n"
                "Processados com êxito 0 arquivos; falha no processamento de 1 arquivos\r\n");
}

// The console capture that the launcher uses, keeping the last output for the test to read.
class KeptOutput : public ConsoleRunner {
 public:
  std::string GetDosOutput(const std::string& command_line, const std::string& drive) override {
    last = real.GetDosOutput(command_line, drive);
    return last;
  }
  std::string last;
  ConsoleRunnerReal real{DirectoryOf(HostPathLinux().ExecutablePath())};
};

class RealPermissionTest : public LauncherTest {
 protected:
  void SetUp() override {
    fake.host.path = dir.path() + "/JOV.EXE";
    fake.library.web_url = "loja.saas.calvora";  // no ping while the form is created
    LauncherTest::SetUp();
    form = std::make_unique<Cli_jov00000::TfrmEscolheSistema>(services);
  }
  void TearDown() override {
    form.reset();
    LauncherTest::TearDown();
  }

  TempDir dir;
  FileSystemLinux files;
  KeptOutput console;
  Services services = fake.Wire({.files = &files, .console = &console});
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form;
};

TEST_F(RealPermissionTest, AFolderBuiltToBreakOutOfTheCommandLineReachesIcaclsWhole) {
  const std::string mark = dir.path() + "/executado";
  const std::string folder = dir.path() + "/it's \"q\" $(touch " + mark + "1) `touch " + mark +
                             "2` ; touch " + mark + "3 '; touch " + mark + "4 ' \\\n&& x";
  EXPECT_TRUE(form->VerificaPermissao(folder)) << "\"0 arquivos\" is in every summary";
  EXPECT_EQ(console.last, cp1252::FromUtf8(folder) +
                              ": O sistema não pode encontrar o arquivo especificado.\r\n"
                              "Processados com êxito 0 arquivos; falha no processamento de 1 "
                              "arquivos\r\n"_w);
  for (int i = 1; i <= 4; ++i) {
    EXPECT_FALSE(std::filesystem::exists(mark + std::to_string(i))) << "the shell ran " << i;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/Permissoes.bat"));
}

TEST_F(RealPermissionTest, ChecksARealFolder) {
  const std::string folder = Folder(dir, "Calvora Web", 0755);
  EXPECT_TRUE(form->VerificaPermissao(folder));
  EXPECT_NE(console.last.find("Todos:(OI)(CI)(RX)\r\n"), std::string::npos) << console.last;
}

}  // namespace
}  // namespace jov::testing
