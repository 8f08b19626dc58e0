// The real launcher on a virtual display, driven only with the keyboard, in a whole temporary
// register: what an operator sees and what a support technician finds afterwards.
#include "tests/e2e/register.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "platform/cp1252.h"
#include "tests/e2e/real_window.h"
#include "tests/support/wait.h"
#include "tests/support/x_display.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

TEST_F(RealWindowTest, ARegisterThatOpensByItselfGoesFromStartToTheModule) {
  RegisterOptions options;
  options.caixa = "002";
  TestRegister caixa(options);
  caixa.Write("caixa/Dados/Jov_Bpl/JovExp.exe", "staged");
  XDisplay display(caixa.root());
  ASSERT_TRUE(display.up());
  auto launcher = caixa.Launch(display.name());

  const std::string module = WaitForWindow(display, "REV10000", 60s);
  ASSERT_FALSE(module.empty()) << TempDir::Read(caixa.root() + "/launcher.err");
  EXPECT_TRUE(Called(caixa, "JovTab.exe [TABELAS_0001_002_NATU_]"));
  EXPECT_TRUE(Called(caixa, "JovBpl.exe [1_]"));
  EXPECT_EQ(TempDir::Read(caixa.program() + "/JovExp.exe"), "staged");
  EXPECT_FALSE(fs::exists(caixa.program() + "/Dados/Jov_Bpl/JovExp.exe"));
  const std::string log = caixa.UpdateLog();
  EXPECT_NE(log.find("Conexão Lum - Conectado"_w), std::string::npos) << log;
  EXPECT_NE(log.find("GetFileVersion(BPL&JovTab.exe)"), std::string::npos) << log;

  ASSERT_TRUE(display.Keys(module, {"Escape"}));
  EXPECT_TRUE(WaitUntil([&] { return display.Window("REV10000").empty(); }, 10s));
  kill(launcher->pid(), SIGTERM);
  EXPECT_EQ(launcher->Wait(30s), std::optional<int>(0));
}

TEST_F(RealWindowTest, AnOperatorTypesTheCodesAndEntersWhileTheTableUpdaterRuns) {
  RegisterOptions options;
  options.data_file = false;
  options.standin_seconds = 120;
  TestRegister caixa(options);
  XDisplay display(caixa.root());
  ASSERT_TRUE(display.up());
  auto launcher = caixa.Launch(display.name());

  ASSERT_TRUE(Answer(display, "Return")) << "the notice that the data file is missing";
  const std::string form = WaitForWindow(display, "frmEscolheSistema");
  ASSERT_FALSE(form.empty());
  ASSERT_TRUE(display.Keys(form, {"0", "0", "0", "1", "Return"}));
  ASSERT_TRUE(display.Keys(form, {"0", "0", "1", "Return"}));
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(caixa.program() + "/cdsFilialCaixa.cds"); }, 20s));
  const std::string codes = TempDir::Read(caixa.program() + "/cdsFilialCaixa.cds");
  EXPECT_NE(codes.find("CDFILIAL=\"0001\" CDCAIXA=\"001\""), std::string::npos) << codes;
  // The table-update notice of a register opened by hand, then the table updater starts.
  ASSERT_TRUE(Answer(display, "Return")) << "the table-update notice";
  ASSERT_TRUE(WaitUntil([&] { return Called(caixa, "JovTab.exe [TABELAS_0001_001_NATU_]"); }, 20s));

  // Entering while "JovTab.exe" runs asks first: No stays on the launcher, Yes ends it.
  ASSERT_TRUE(display.Keys(form, {"alt+e"}));
  ASSERT_TRUE(Answer(display, "Escape"));
  EXPECT_TRUE(display.Window("REV10000").empty());
  ASSERT_TRUE(display.Keys(form, {"alt+e"}));
  ASSERT_TRUE(Answer(display, "Return"));
  const std::string module = WaitForWindow(display, "REV10000");
  ASSERT_FALSE(module.empty());
  ASSERT_TRUE(display.Keys(module, {"Escape"}));
  EXPECT_TRUE(WaitUntil([&] { return display.Window("REV10000").empty(); }, 10s));
  EXPECT_FALSE(WaitForWindow(display, "frmEscolheSistema", 10s).empty());
  kill(launcher->pid(), SIGTERM);
  EXPECT_EQ(launcher->Wait(30s), std::optional<int>(0));
}

TEST_F(RealWindowTest, WithTheServerDownTheLauncherStillComesUpAndEnters) {
  RegisterOptions options;
  options.server = false;
  TestRegister caixa(options);
  XDisplay display(caixa.root());
  ASSERT_TRUE(display.up());
  auto launcher = caixa.Launch(display.name());

  ASSERT_TRUE(Answer(display, "Return", 60s)) << "the table-update notice";
  const std::string form = WaitForWindow(display, "frmEscolheSistema");
  ASSERT_FALSE(form.empty());
  const std::string log = caixa.UpdateLog();
  EXPECT_NE(log.find("Falha na conexão Lum"_w), std::string::npos) << log;
  // Once the table updater has ended, entering asks nothing.
  ASSERT_TRUE(WaitUntil([&] { return Called(caixa, "JovTab.exe tables refreshed"); }, 20s));
  ASSERT_TRUE(display.Keys(form, {"alt+e"}));
  const std::string module = WaitForWindow(display, "REV10000");
  ASSERT_FALSE(module.empty());
  ASSERT_TRUE(display.Keys(module, {"Escape"}));
  kill(launcher->pid(), SIGTERM);
  EXPECT_EQ(launcher->Wait(30s), std::optional<int>(0));
}

}  // namespace
}  // namespace jov::testing
