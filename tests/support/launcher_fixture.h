// A test fixture for the launcher form on fakes: fresh unit state per test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "tests/fakes/fake_services.h"

namespace jov::testing {

class LauncherTest : public ::testing::Test {
 protected:
  // The unit as just after loading the package from fake.host.path ("/caixa/JOV.EXE").
  void SetUp() override { ResetUnit(); }
  void TearDown() override;

  void ResetUnit();
  // Creates the form: the controls are built and FormCreate runs; the form is not shown.
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> NewForm();
  // The text of this month's update log ("" when none was written).
  std::string LogText();

  FakeServices fake;
};

}  // namespace jov::testing
