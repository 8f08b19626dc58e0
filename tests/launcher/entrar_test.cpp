// Entering the point-of-sale system and the local table update, on fakes.
#include "Cli_jov00000/startup/entrar.h"

#include <gtest/gtest.h>

#include "Cli_jov00000/update/executa_jovtab.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "tests/support/launcher_fixture.h"

namespace jov::testing {
namespace {

using Cli_jov00000::EntradaEstado;
using Cli_jov00000::EntradaServicos;

// A catalogue with short texts, so that a recorded message names its key.
TMessages Catalogo() {
  TMessages messages;
  messages.Messages = {"Msg_JovBpl|bpl?",  "JovTab|tab?",     "Tab_Bloq|bloq",
                       "Msg_JovTab|aviso", "Reiniciar|reini", "Aguardar_Atualizacao|aguarde"};
  return messages;
}

// Mensagem as a recorder: every argument goes into the shared record of calls, and questions
// take the fake dialogs' scripted answers.
Mensagemjov::TMensagem Gravador(FakeServices& fake) {
  return [&fake](const std::string& text, const std::string& title, const std::string& flag,
                 const std::string& ask, Mensagemjov::TTipoMsg kind, const std::string& extra1,
                 const std::string& extra2, int number, void* dataset) {
    fake.log.Add("Mensagem " + text + "|" + title + "|" + flag + "|" + ask + "|" +
                 std::to_string(kind) + "|" + extra1 + "|" + extra2 + "|" + std::to_string(number) +
                 "|" + (dataset == nullptr ? "nil" : "set"));
    if (kind != Mensagemjov::tmPergunta) return true;
    if (fake.dialogs.answers.empty()) return false;
    const bool answer = fake.dialogs.answers.front();
    fake.dialogs.answers.pop_front();
    return answer;
  };
}

// The recorded calls that show what an operation did to the world (snapshots left out).
std::vector<std::string> Feito(const CallLog& log) {
  std::vector<std::string> done;
  for (const std::string& call : log.calls) {
    if (call != "processes.Snapshot") done.push_back(call);
  }
  return done;
}

using Calls = std::vector<std::string>;

struct EntradaCaso {
  const char* name;
  bool boAtuBpl;
  const char* idUtilAberAuto;
  const char* idPerAcessoTer;
  bool bpl_running;
  bool tab_running;
  std::deque<bool> answers;
  bool aborts;
  Calls expected;
};

const char* const kAskBpl = "Mensagem bpl?||N|S|1|||0|nil";
const char* const kAskTab = "Mensagem tab?||N|S|1|||0|nil";
const char* const kLoad = "modules.Load REV10000 false";
const char* const kUnload = "modules.Unload REV10000";
const char* const kKillBpl = "programs.WinExec TASKKILL /F /IM JovBpl.exe";
const char* const kKillTab = "programs.WinExec TASKKILL /F /IM JovTab.exe";

class EntradaTest : public ::testing::TestWithParam<EntradaCaso> {};

TEST_P(EntradaTest, SettlesTheUpdatersWithTheOperatorThenLoadsAndUnloads) {
  const EntradaCaso& c = GetParam();
  FakeServices fake;
  if (c.bpl_running) fake.processes.Add("JovBpl.exe");
  if (c.tab_running) fake.processes.Add("jovtab.EXE");
  fake.dialogs.answers = c.answers;
  const TMessages catalogue = Catalogo();
  const EntradaServicos services{fake.processes, fake.programs,  fake.modules,
                                 catalogue,      Gravador(fake), [](const std::string&) {}};
  const EntradaEstado state{c.boAtuBpl,       false,     c.idUtilAberAuto,
                            c.idPerAcessoTer, "JOV.EXE", "/caixa"};
  bool aborted = false;
  try {
    Cli_jov00000::EntraNoSistema(services, state);
  } catch (const Abort&) {
    aborted = true;
  }
  EXPECT_EQ(aborted, c.aborts);
  EXPECT_EQ(Feito(fake.log), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Casos, EntradaTest,
    ::testing::Values(
        EntradaCaso{"NothingRunning", true, "N", "N", false, false, {}, false, {kLoad, kUnload}},
        EntradaCaso{"BplStartedAtActivationIsNotAskedAbout",
                    false,
                    "",
                    "",
                    true,
                    false,
                    {},
                    false,
                    {kLoad, kUnload}},
        EntradaCaso{"BplYes",
                    true,
                    "S",
                    "",
                    true,
                    false,
                    {true},
                    false,
                    {kAskBpl, kKillBpl, kLoad, kUnload}},
        EntradaCaso{"BplNo", true, "N", "N", true, true, {false}, true, {kAskBpl}},
        EntradaCaso{"AutomaticRegisterIgnoresTab",
                    false,
                    "S",
                    "S",
                    false,
                    true,
                    {},
                    false,
                    {kLoad, kUnload}},
        EntradaCaso{
            "EmptyRuleIgnoresTab", false, "", "S", false, true, {}, false, {kLoad, kUnload}},
        EntradaCaso{
            "LowerCaseRuleIsNeither", false, "n", "S", false, true, {}, false, {kLoad, kUnload}},
        EntradaCaso{"TabBlocked",
                    false,
                    "N",
                    "S",
                    false,
                    true,
                    {},
                    false,
                    {"Mensagem bloq||N|N|0|||0|nil"}},
        EntradaCaso{"TabYes",
                    false,
                    "N",
                    "N",
                    false,
                    true,
                    {true},
                    false,
                    {kAskTab, kKillTab, kLoad, kUnload}},
        EntradaCaso{
            "TabNoWithEmptyAccessRule", false, "N", "", false, true, {false}, true, {kAskTab}},
        EntradaCaso{"TabNotRunning", false, "N", "S", false, false, {}, false, {kLoad, kUnload}},
        EntradaCaso{"BothYesKillBothBeforeLoading",
                    true,
                    "N",
                    "N",
                    true,
                    true,
                    {true, true},
                    false,
                    {kAskBpl, kKillBpl, kAskTab, kKillTab, kLoad, kUnload}},
        EntradaCaso{"BplYesThenBlocked",
                    true,
                    "N",
                    "S",
                    true,
                    true,
                    {true},
                    false,
                    {kAskBpl, kKillBpl, "Mensagem bloq||N|N|0|||0|nil"}}),
    [](const ::testing::TestParamInfo<EntradaCaso>& info) { return info.param.name; });

class EntrarTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    form = NewFormAfterCreation();
    fake.log.calls.clear();
  }
  std::string Texto(const std::string& key) const { return form->msgPadrao->Msg(key); }
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form;
};

TEST_F(EntrarTest, TheModuleIsUnloadedAlsoWhenItFailsAndASecondClickLoadsAgain) {
  int runs = 0;
  fake.modules.while_loaded = [&runs] {
    if (++runs == 1) throw Error("REV10000: the sale screen failed");
  };
  form->sbtEnter->OnClick(form->sbtEnter);
  form->sbtEnter->OnClick(form->sbtEnter);
  EXPECT_EQ(Feito(fake.log),
            (Calls{kLoad, kUnload, "dialogs.ShowException REV10000: the sale screen failed", kLoad,
                   kUnload}));

  fake.modules.fail_load = true;  // the package itself cannot be loaded
  fake.log.calls.clear();
  form->sbtEnter->OnClick(form->sbtEnter);
  EXPECT_EQ(Feito(fake.log), (Calls{kLoad, kUnload,
                                    "dialogs.ShowException Cannot load package REV10000.bpl: "
                                    "not found"}));
}

TEST_F(EntrarTest, ANoEndsTheClickSilentlyAndBlockedEntryWorksOnceTheUpdaterIsGone) {
  form->idUtilAberAuto = "N";
  form->idPerAcessoTer = "S";
  const int tab = fake.processes.Add("JovTab.exe");
  form->sbtEnter->OnClick(form->sbtEnter);
  fake.processes.Remove(tab);
  form->sbtEnter->OnClick(form->sbtEnter);
  EXPECT_EQ(fake.dialogs.shown, (std::vector<std::string>{"Notify0: " + Texto("Tab_Bloq")}));
  EXPECT_EQ(fake.log.Count(kLoad), 1);

  form->boAtuBpl = true;
  fake.processes.Add("JovBpl.exe");
  fake.dialogs.shown.clear();
  form->sbtEnter->OnClick(form->sbtEnter);  // answered No: the script is empty
  EXPECT_EQ(fake.dialogs.shown, (std::vector<std::string>{"Confirm: " + Texto("Msg_JovBpl")}));
  EXPECT_EQ(fake.log.Count(kLoad), 1);
}

TEST_F(EntrarTest, ARestartPendingStartsTheUpdaterInsteadOfEntering) {
  form->boReinicia = true;
  form->sbtEnterClick(form->sbtEnter);
  EXPECT_EQ(fake.dialogs.shown, (std::vector<std::string>{"Notify3: " + Texto("Reiniciar")}));
  ASSERT_EQ(fake.programs.starts.size(), 1u);
  EXPECT_EQ(fake.programs.starts[0].program, "/caixa/JovBpl.exe");
  EXPECT_EQ(fake.programs.starts[0].parameters, "2_JOV.EXE_");
  EXPECT_EQ(LogText(), Line("ShellExecute(2_JOV.EXE_") + Line("----- Fim ExecutaJovBpl -----"));
  EXPECT_FALSE(fake.log.Contains("modules."));

  // While the updater runs the operator is only asked to wait.
  fake.processes.Add("JovBpl.exe");
  fake.dialogs.shown.clear();
  ClearLog();
  form->sbtEnterClick(form->sbtEnter);
  EXPECT_EQ(fake.dialogs.shown,
            (std::vector<std::string>{"Notify3: " + Texto("Aguardar_Atualizacao")}));
  EXPECT_EQ(fake.programs.starts.size(), 1u);
  EXPECT_EQ(LogText(), "");
  EXPECT_FALSE(fake.log.Contains("modules."));
}

TEST_F(EntrarTest, AFailedRestartIsLogged) {
  form->boReinicia = true;
  fake.programs.on_start = [](const FakeProgramLauncher::Start&) {
    throw Error("Cannot start JovBpl.exe: no memory");
  };
  form->sbtEnterClick(form->sbtEnter);
  EXPECT_EQ(LogText(), Line("ShellExecute(2_JOV.EXE_") + Line("Erro no reinicio automático."_w));
  EXPECT_TRUE(fake.dialogs.shown.size() == 1 && fake.dialogs.shown[0].starts_with("Notify3: "));
}

TEST_F(EntrarTest, IniciarLoadsWithTheFlagSetAndDoesNotUnload) {
  form->sbtIniciarClick(form->sbtEnter);
  EXPECT_EQ(Feito(fake.log), (Calls{"modules.Load REV10000 true"}));
}

// The table update.

TEST(ParametroJovTab, NamesTheRegisterAndWhetherToUpdate) {
  using Cli_jov00000::ParametroJovTab;
  EXPECT_EQ(ParametroJovTab("0001", "001", true), "TABELAS_0001_001_ATU_");
  EXPECT_EQ(ParametroJovTab("0001", "001", false), "TABELAS_0001_001_NATU_");
  EXPECT_EQ(ParametroJovTab("", "", false), "TABELAS___NATU_");
}

struct TabelasCaso {
  const char* name;
  const char* idUtilAberAuto;
  int polls_running;  // looks at the process list that still find "JovTab.exe"; -1: never ran
  Calls expected;
};

const char* const kStartTab = "programs.ShellExecute /caixa/JovTab.exe TABELAS_0001_001_ATU_";
const char* const kStartBpl = "programs.ShellExecute /caixa/JovBpl.exe 1_";

class TabelasTest : public ::testing::TestWithParam<TabelasCaso> {};

TEST_P(TabelasTest, StartsTheUpdaterAndWaitsOnlyOnARegisterThatOpensByItself) {
  const TabelasCaso& c = GetParam();
  FakeServices fake;
  int tab = -1;
  if (c.polls_running >= 0) tab = fake.processes.Add("JovTab.exe");
  int polls = 0;
  // The table updater is seen by polls_running looks, then it has ended.
  fake.clock.on_sleep = [&](int) {
    if (tab >= 0 && polls++ == c.polls_running) fake.processes.Remove(tab);
  };
  const TMessages catalogue = Catalogo();
  const Cli_jov00000::TabelasServicos services{
      fake.processes, fake.programs, fake.clock, fake.dialogs, catalogue, Gravador(fake), [&fake] {
        fake.log.Add("entra");
      }};
  Cli_jov00000::AtualizaTabelas(services, "/caixa", "TABELAS_0001_001_ATU_", c.idUtilAberAuto);
  EXPECT_EQ(Feito(fake.log), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Casos, TabelasTest,
    ::testing::Values(
        TabelasCaso{
            "ByHandNoticeFirstThenReturns", "N", 2, {"Mensagem aviso||N|N|3|||0|nil", kStartTab}},
        TabelasCaso{"EmptyRuleNeitherNoticeNorWait", "", 2, {kStartTab}},
        TabelasCaso{"OtherRuleNeitherNoticeNorWait", "s", 2, {kStartTab}},
        TabelasCaso{"AutomaticEntersOnceTheUpdaterIsGone",
                    "S",
                    2,
                    {kStartTab, kStartBpl, "clock.Sleep 5000", "clock.Sleep 10000",
                     "clock.Sleep 10000", "entra", "clock.Sleep 10000"}},
        TabelasCaso{"AutomaticWithTheUpdaterAlreadyGone",
                    "S",
                    -1,
                    {kStartTab, kStartBpl, "clock.Sleep 5000", "entra", "clock.Sleep 10000"}}),
    [](const ::testing::TestParamInfo<TabelasCaso>& info) { return info.param.name; });

class JovTabFormTest : public EntrarTest {
 protected:
  void SetUp() override {
    EntrarTest::SetUp();
    form->cdFilial = "0001";
    form->cdCaixa = "001";
  }
};

TEST_F(JovTabFormTest, TheButtonUpdatesAndTheFirstActivationDoesNot) {
  form->sbtJovTab->OnClick(form->sbtJovTab);
  EXPECT_EQ(form->paramJovTab, "TABELAS_0001_001_ATU_");
  form->ExecutaJovTab(false);
  EXPECT_EQ(form->paramJovTab, "TABELAS_0001_001_NATU_");
  EXPECT_EQ(Feito(fake.log),
            (Calls{kStartTab, "programs.ShellExecute /caixa/JovTab.exe TABELAS_0001_001_NATU_"}));
}

TEST_F(JovTabFormTest, AnAutomaticRegisterEntersTheSystemAndEveryPressWaitsAgain) {
  form->idUtilAberAuto = "S";
  const int tab = fake.processes.Add("JovTab.exe");
  fake.clock.on_sleep = [&](int ms) {
    if (ms == Cli_jov00000::kIntervaloMs) fake.processes.Remove(tab);
  };
  form->sbtJovTabClick(form->sbtJovTab);
  form->sbtJovTabClick(form->sbtJovTab);
  EXPECT_EQ(fake.log.Count(kLoad), 2);
  EXPECT_EQ(fake.log.Count(kUnload), 2);
  EXPECT_EQ(fake.clock.slept_ms, 2 * 5000 + 3 * 10000);
  EXPECT_TRUE(fake.dialogs.shown.empty());
}

TEST_F(JovTabFormTest, ANoInsideTheEntryAndAFailedLoadAreShownInThePlainMessageBox) {
  form->idUtilAberAuto = "S";
  form->boAtuBpl = true;
  fake.processes.Add("JovBpl.exe");
  form->ExecutaJovTab(false);  // the question is answered No
  EXPECT_EQ(fake.dialogs.shown, (std::vector<std::string>{"Confirm: " + Texto("Msg_JovBpl"),
                                                          "Show: Operation aborted"}));
  EXPECT_FALSE(fake.log.Contains("modules."));
  EXPECT_EQ(fake.clock.slept_ms, 5000) << "the error ends the wait";

  form->boAtuBpl = false;
  fake.modules.fail_load = true;
  fake.dialogs.shown.clear();
  form->ExecutaJovTab(false);
  EXPECT_EQ(fake.dialogs.shown,
            (std::vector<std::string>{"Show: Cannot load package REV10000.bpl: not found"}));
  EXPECT_EQ(fake.log.Count(kUnload), 1);
}

}  // namespace
}  // namespace jov::testing
