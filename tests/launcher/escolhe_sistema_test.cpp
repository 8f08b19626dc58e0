// EscolheSistema: the modal showing, closing, and freeing the form on every path.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QtTest>

#include "platform/errors.h"
#include "tests/support/launcher_fixture.h"

namespace jov::testing {
namespace {

using Cli_jov00000::EscolheSistema;
using Cli_jov00000::frmEscolheSistema;

class EscolheSistemaTest : public LauncherTest {
 protected:
  void TearDown() override {
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()) << "a window was left behind";
    LauncherTest::TearDown();
  }

  // Shows the launcher; once `ready` holds while it is up, runs `act` and presses
  // "&Sair do Sistema". Gives up (and fails) after ten seconds.
  bool ShowAndClose(
      const std::function<bool()>& ready, const std::function<void()>& act = [] {}) {
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    bool acted = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (frmEscolheSistema == nullptr || !frmEscolheSistema->isVisible()) return;
      if (!acted && ready()) {
        acted = true;
        act();
        frmEscolheSistema->sbtCancelar->click();
      } else if (clock.elapsed() > 10000) {
        ADD_FAILURE() << "the launcher did not become ready";
        frmEscolheSistema->close();
      }
    });
    poll.start(5);
    return EscolheSistema(fake.services);
  }
};

TEST_F(EscolheSistemaTest, ShowsModallyRunsTheFirstActivationAndFreesTheFormOnClose) {
  QPointer<QWidget> shown;
  EXPECT_TRUE(
      ShowAndClose([] { return Cli_jov00000::boCriaPriVez; }, [&] { shown = frmEscolheSistema; }));
  EXPECT_EQ(frmEscolheSistema, nullptr);
  EXPECT_TRUE(shown.isNull()) << "the form must be freed";
  EXPECT_TRUE(fake.log.Contains("programs.ShellExecute /caixa/JovBpl.exe 1_"));
}

TEST_F(EscolheSistemaTest, TheFormIsExactly800By600) {
  QSize size;
  ShowAndClose([] { return true; }, [&] { size = frmEscolheSistema->frameGeometry().size(); });
  EXPECT_EQ(size, QSize(800, 600));
}

TEST_F(EscolheSistemaTest, ASecondCallRunsCreationAgainButNotTheFirstActivation) {
  ShowAndClose([] { return Cli_jov00000::boCriaPriVez; });
  const int starts = fake.log.Count("JovBpl.exe 1_");
  const std::string ping = "GetDosOutput \"/caixa/TestePing.bat\"";
  const int pings = fake.log.Count(ping);
  ASSERT_EQ(pings, 1);
  ShowAndClose([] { return true; });
  EXPECT_EQ(fake.log.Count("JovBpl.exe 1_"), starts);
  EXPECT_EQ(fake.log.Count(ping), 2);
}

TEST_F(EscolheSistemaTest, ANestedCallNeitherCreatesNorFreesTheShownForm) {
  Cli_jov00000::TfrmEscolheSistema* outer = nullptr;
  bool nested_result = false;
  ShowAndClose([] { return true; },
               [&] {
                 outer = frmEscolheSistema;
                 nested_result = EscolheSistema(fake.services);
                 EXPECT_EQ(frmEscolheSistema, outer);
               });
  EXPECT_TRUE(nested_result);
  EXPECT_EQ(frmEscolheSistema, nullptr);
}

TEST_F(EscolheSistemaTest, AFailingCreationStepIsShownAndTheFormStaysUp) {
  fake.taskbar.fail = true;
  ShowAndClose([] { return Cli_jov00000::boCriaPriVez; });
  ASSERT_FALSE(fake.dialogs.shown.empty());
  EXPECT_EQ(fake.dialogs.shown.front(), "Error: Cannot hide the taskbar: window gone");
  EXPECT_FALSE(fake.log.Contains("TestePing.bat")) << "later creation steps are skipped";
  EXPECT_FALSE(Cli_jov00000::boAtuExe);
}

TEST_F(EscolheSistemaTest, AnExceptionThatEscapesCreationFreesTheFormAndGoesOn) {
  fake.taskbar.fail = true;
  fake.dialogs.throw_on_exception = true;
  EXPECT_THROW(EscolheSistema(fake.services), Error);
  EXPECT_EQ(frmEscolheSistema, nullptr);
  // The launcher can be shown again afterwards.
  fake.taskbar.fail = false;
  EXPECT_TRUE(ShowAndClose([] { return true; }));
}

}  // namespace
}  // namespace jov::testing
