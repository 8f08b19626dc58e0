#include "tests/support/launcher_fixture.h"

#include "Cli_jov00000/startup/update_log.h"

namespace jov::testing {

void LauncherTest::ResetUnit() {
  using namespace Cli_jov00000;
  frmEscolheSistema = nullptr;
  boCriaPriVez = false;
  boAtuExe = false;
  boServerAtivo = false;
  dtJovTab = {};
  dtJovexp = {};
  InicializaUnidade(fake.host);
  fake.files.directories.insert(DirJov);  // the program folder exists on every register
  AddDataFile("0001", "001");
}

std::string LauncherTest::DataFilePath() const { return Cli_jov00000::DirJov + "/Mercato.cds"; }

void LauncherTest::AddDataFile(const std::string& filial, const std::string& caixa) {
  Dataset data;
  data.fields = {{"CDFILIAL", "string", 4}, {"CDCAIXA", "string", 3}};
  data.rows = {{{"CDFILIAL", filial}, {"CDCAIXA", caixa}}};
  fake.files.AddFile(DataFilePath());
  fake.datasets.stored[DataFilePath()] = data;
}

void LauncherTest::RemoveDataFile() {
  fake.files.files.erase(DataFilePath());
  fake.datasets.stored.erase(DataFilePath());
}

void LauncherTest::TearDown() { Cli_jov00000::FinalizaUnidade(); }

std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> LauncherTest::NewForm() {
  return std::make_unique<Cli_jov00000::TfrmEscolheSistema>(fake.services);
}

std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> LauncherTest::NewFormAfterCreation() {
  auto form = NewForm();
  fake.programs.starts.clear();
  ClearLog();
  return form;
}

std::string LauncherTest::LogPath() const {
  return Cli_jov00000::LogFileName(Cli_jov00000::DirCadJovBpl, fake.clock.now);
}

std::string LauncherTest::LogText() {
  auto it = fake.files.files.find(LogPath());
  return it == fake.files.files.end() ? std::string() : it->second;
}

void LauncherTest::ClearLog() { fake.files.files.erase(LogPath()); }

std::string LauncherTest::Line(const std::string& text) const {
  return FormatDateTime(fake.clock.now) + " - " + text + "\r\n";
}

}  // namespace jov::testing
