// A fixture for the launcher screen: a form on fakes, shown on the offscreen platform.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <memory>
#include <string>

#include "platform/cp1252.h"
#include "tests/support/launcher_fixture.h"

namespace jov::testing {

class ScreenTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    // The first activation belongs to other parts of the launcher; here showing the form
    // must only show it.
    Cli_jov00000::boCriaPriVez = true;
  }

  void TearDown() override {
    form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty())
        << QApplication::topLevelWidgets().size() << " top-level widgets left behind";
    LauncherTest::TearDown();
  }

  // Creates the form and shows it; false when it never got on screen.
  bool ShowForm() {
    form = NewForm();
    form->show();
    return QTest::qWaitForWindowExposed(form.get());
  }

  // The text typed so far, in Windows-1252 bytes.
  std::string Typed() const { return cp1252::FromQString(form->lblInfo->text()); }

  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form;
};

}  // namespace jov::testing
