// The start-up order: what form creation and the first activation do, in which order.
#include <gtest/gtest.h>

#include <QLabel>
#include <algorithm>
#include <fstream>
#include <functional>
#include <new>
#include <set>
#include <string>
#include <system_error>

#include "tests/support/launcher_fixture.h"

namespace jov::testing {
namespace {

using Cli_jov00000::boCriaPriVez;
using Cli_jov00000::boServerAtivo;

constexpr const char* kPingAnswered =
    "Pacotes: Enviados = 1, Recebidos = 1, Perdidos = 0 (0% de perda),\r\n";
constexpr const char* kPingLost =
    "Pacotes: Enviados = 1, Recebidos = 0, Perdidos = 1 (100% de perda),\r\n";
constexpr const char* kFolderOk =
    "Processados com \xEAxito 1 arquivos; falha no processamento de 0 arquivos\r\n";
constexpr const char* kFolderShort = "C:\\x BUILTIN\\Usu\xE1rios:(OI)(CI)(M)\r\n";

class StartupTest : public LauncherTest {
 protected:
  // Console answers: the ping first, then one per permission check (the last repeats).
  void Answers(std::initializer_list<const char*> outputs) {
    fake.console.outputs.assign(outputs.begin(), outputs.end());
  }
  // The batch files run, in order, by their file names.
  std::vector<std::string> BatchesRun() const {
    std::vector<std::string> names;
    for (const std::string& line : fake.console.command_lines) {
      std::string name = line.substr(line.find_last_of('/') + 1);
      if (name.ends_with('"')) name.pop_back();
      names.push_back(name);
    }
    return names;
  }
  int Index(const std::string& call) const { return fake.log.IndexOf(call); }
};

TEST_F(StartupTest, CreationWithTheServerReachableRunsEveryStepInOrder) {
  Answers({kPingAnswered, kFolderOk});
  auto form = NewForm();
  EXPECT_TRUE(boServerAtivo);
  EXPECT_TRUE(Cli_jov00000::boAtuExe);
  const int hide = Index("taskbar.Hide");
  const int ping = Index("TestePing.bat");
  const int settings = Index("server.Call GetDadosHttp");
  const int staging = Index("files.ListDirectory /caixa/Dados/Jov_Bpl/");
  ASSERT_GE(hide, 0);
  EXPECT_LT(hide, ping);
  EXPECT_LT(ping, settings);
  EXPECT_LT(settings, staging);
  EXPECT_FALSE(boCriaPriVez) << "activation steps must wait for the form to be shown";
  EXPECT_TRUE(fake.programs.starts.empty());
}

TEST_F(StartupTest, AnUnreachableServerSkipsOnlyTheServerSteps) {
  Answers({kPingLost, kFolderOk});
  auto form = NewForm();
  EXPECT_FALSE(boServerAtivo);
  EXPECT_FALSE(fake.log.Contains("server.Open"));
  EXPECT_TRUE(fake.log.Contains("files.ListDirectory /caixa/Dados/Jov_Bpl/"));

  form->FormActivate(form.get());
  EXPECT_TRUE(boCriaPriVez);
  EXPECT_EQ(BatchesRun(), (std::vector<std::string>{"TestePing.bat", "Permissoes.bat",
                                                    "Permissoes.bat", "Permissoes.bat"}));
  ASSERT_EQ(fake.programs.starts.size(), 2u);
  EXPECT_EQ(fake.programs.starts[0].program, "/caixa/JovTab.exe");
  EXPECT_EQ(fake.programs.starts[0].parameters, "TABELAS_0001_001_NATU_");
  EXPECT_EQ(fake.programs.starts[1].program, "/caixa/JovBpl.exe");
  EXPECT_EQ(fake.programs.starts[1].parameters, "1_");
}

TEST_F(StartupTest, TheScreenPackageUpdaterStartsUnlessTheRegisterOpensByItself) {
  for (const char* rule : {"S", "N", "", "s"}) {
    ResetUnit();
    fake.programs.starts.clear();
    fake.log.calls.clear();
    Answers({kPingLost, kFolderOk});
    fake.database.rows = {{{"IDUTILABERAUTO", rule}, {"IDPERACESSOTER", "N"}}};
    auto form = NewForm();
    form->FormActivate(form.get());
    // One start of the screen-package updater whatever the rule: for a register that opens by
    // itself the table update's, which then enters the system; for any other the activation's.
    const auto bpl = std::count_if(
        fake.programs.starts.begin(), fake.programs.starts.end(), [](const auto& start) {
          return start.program == "/caixa/JovBpl.exe" && start.parameters == "1_";
        });
    EXPECT_EQ(bpl, 1) << "idUtilAberAuto=\"" << rule << "\"";
    EXPECT_EQ(fake.log.Contains("modules.Load REV10000 false"), std::string(rule) == "S")
        << "idUtilAberAuto=\"" << rule << "\"";
    EXPECT_EQ(form->idUtilAberAuto, rule);
  }
}

TEST_F(StartupTest, ASecondActivationDoesNothing) {
  Answers({kPingLost, kFolderOk});
  auto form = NewForm();
  form->FormActivate(form.get());
  const std::size_t calls = fake.log.calls.size();
  form->FormActivate(form.get());
  EXPECT_EQ(fake.log.calls.size(), calls);
}

// Fault: a report that cannot be sent (its thread does not start, memory runs out) skipped
// the rest of the first activation and showed the operator an error box.
TEST_F(StartupTest, NothingTheReportThrowsChangesTheFirstActivation) {
  const std::pair<const char*, std::function<void()>> failures[] = {
      {"no memory", [] { throw std::bad_alloc(); }},
      {"no thread",
       [] {
         throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
       }},
      {"not even an exception", [] { throw 7; }},
  };
  for (const auto& [what, failure] : failures) {
    SCOPED_TRACE(what);
    ResetUnit();
    fake.programs.starts.clear();
    fake.log.calls.clear();
    Answers({kPingAnswered, kFolderShort});
    fake.files.AddFile("/caixa/Altera_Permissoes_Calvora.EXE", "x");
    fake.reports.sent.clear();
    fake.reports.fail = failure;
    auto form = NewForm();
    EXPECT_NO_THROW(form->FormActivate(form.get()));
    EXPECT_EQ(fake.reports.sent.size(), 1u);
    std::vector<std::string> started;
    for (const auto& start : fake.programs.starts) started.push_back(start.program);
    EXPECT_EQ(started,
              (std::vector<std::string>{"/caixa/JovTab.exe", "/caixa/Altera_Permissoes_Calvora.EXE",
                                        "/caixa/JovBpl.exe"}));
    EXPECT_FALSE(fake.log.Contains("dialogs.ShowException"));
  }
}

TEST_F(StartupTest, ANewFormInTheSameLoadedPackageSkipsTheFirstActivationSteps) {
  Answers({kPingLost, kFolderOk});
  auto first = NewForm();
  first->FormActivate(first.get());
  first.reset();
  fake.console.command_lines.clear();
  fake.programs.starts.clear();

  auto second = NewForm();
  second->FormActivate(second.get());
  EXPECT_EQ(BatchesRun(), std::vector<std::string>{"TestePing.bat"});
  EXPECT_TRUE(fake.programs.starts.empty());
  EXPECT_EQ(second->cdFilial, "");
  EXPECT_EQ(second->idUtilAberAuto, "");
}

TEST_F(StartupTest, PermissionCheckStopsAtTheFirstFailingFolder) {
  fake.files.AddFile("/caixa/Altera_Permissoes_Calvora.EXE");
  Answers({kPingLost, kFolderShort});
  auto form = NewForm();
  std::vector<std::string> folders;
  fake.console.on_run = [&](const std::string& line) {
    const std::string bat = line.substr(1, line.size() - 2);
    if (bat.ends_with("Permissoes.bat")) folders.push_back(fake.files.files[bat]);
  };
  form->FormActivate(form.get());
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_NE(folders[0].find("/work"), std::string::npos);
  EXPECT_EQ(folders[0].find("/work/"), std::string::npos) << "the trailing separator is dropped";
  ASSERT_EQ(fake.programs.starts.size(), 3u);
  EXPECT_EQ(fake.programs.starts[0].program, "/caixa/JovTab.exe");
  EXPECT_EQ(fake.programs.starts[1].program, "/caixa/Altera_Permissoes_Calvora.EXE");
  EXPECT_EQ(fake.programs.starts[1].parameters, "");
  EXPECT_EQ(fake.programs.starts[2].program, "/caixa/JovBpl.exe");
}

TEST_F(StartupTest, TheRepairToolStartsOnlyWhenPresentAndNotRunning) {
  struct Case {
    bool present;
    bool running;
    const char* last_folder;  // the answer for the third folder
    bool expect_start;
  };
  const Case cases[] = {{true, false, kFolderShort, true},
                        {true, true, kFolderShort, false},
                        {false, false, kFolderShort, false},
                        {true, false, kFolderOk, false}};
  for (const Case& c : cases) {
    ResetUnit();
    fake.programs.starts.clear();
    fake.files.files.clear();
    AddDataFile("0001", "001");
    fake.processes.running.clear();
    if (c.present) fake.files.AddFile("/caixa/Altera_Permissoes_Calvora.EXE");
    if (c.running) fake.processes.Add("ALTERA_PERMISSOES_CALVORA.exe");
    Answers({kPingLost, kFolderOk, kFolderOk, c.last_folder});
    auto form = NewForm();
    form->FormActivate(form.get());
    bool started = false;
    for (const auto& start : fake.programs.starts) {
      started = started || start.program.ends_with("Altera_Permissoes_Calvora.EXE");
    }
    EXPECT_EQ(started, c.expect_start)
        << "present=" << c.present << " running=" << c.running << " third=" << c.last_folder;
  }
}

TEST_F(StartupTest, TheHostNameChoosesThePictureAndIsKeptInItsOwnCase) {
  fake.host.path = "/caixa/Trv.Exe";
  ResetUnit();
  auto trv = NewForm();
  EXPECT_EQ(trv->nomeExe, "Trv.Exe");
  EXPECT_EQ(trv->img_no_Flash->pixmap().toImage(), trv->imgAberturaTRV->pixmap().toImage());
  EXPECT_TRUE(trv->imgAberturaJov->pixmap().isNull()) << "only the picture shown is decoded";

  fake.host.path = "/caixa/XTRV.EXE";
  ResetUnit();
  auto jov = NewForm();
  EXPECT_EQ(jov->img_no_Flash->pixmap().toImage(), jov->imgAberturaJov->pixmap().toImage());
  EXPECT_TRUE(jov->imgAberturaTRV->pixmap().isNull());
  EXPECT_EQ(jov->lblCodTela->text().toStdString().rfind("JOV00000", 0), 0u);
}

TEST_F(StartupTest, TheScreenLoadsTheJpegImagePluginAndNoOther) {
  fake.host.path = "/caixa/TRV.EXE";  // its picture too
  ResetUnit();
  auto form = NewForm();
  std::ifstream maps("/proc/self/maps");
  std::set<std::string> plugins;
  for (std::string line; std::getline(maps, line);) {
    const auto at = line.find("/imageformats/");
    if (at != std::string::npos) plugins.insert(line.substr(at + 14));
  }
  EXPECT_EQ(plugins, std::set<std::string>{"libqjpeg.so"});
}

}  // namespace
}  // namespace jov::testing
