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

  // Also gives the register its point-of-sale data file (branch "0001", register "001"), so
  // that the first activation asks nobody; RemoveDataFile takes it away.
  void ResetUnit();
  void AddDataFile(const std::string& filial, const std::string& caixa);
  void RemoveDataFile();
  std::string DataFilePath() const;
  // Creates the form: the controls are built and FormCreate runs; the form is not shown.
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> NewForm();
  // The same, then the programs creation started and the lines it logged are forgotten, so
  // that a test sees only what its own step does.
  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> NewFormAfterCreation();
  // This month's update log: its path, its text ("" when none was written), and emptying it
  // so that a test sees only the lines its own step writes.
  std::string LogPath() const;
  std::string LogText();
  void ClearLog();
  // A time-stamped log line as the log writes it now.
  std::string Line(const std::string& text) const;

  FakeServices fake;
};

}  // namespace jov::testing
