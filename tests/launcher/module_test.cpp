// The stand-in point-of-sale module, run by the real loader in a program folder of its own.
#include <gtest/gtest.h>

#include <filesystem>

#include "Cli_jov00000/frm_escolhe_sistema.h"
#include "clientlib/library_services.h"
#include "platform/data_packet.h"
#include "platform/host_path_linux.h"
#include "tests/support/child_process.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

std::string Packet(const std::string& filial, const std::string& caixa) {
  Dataset data;
  data.fields = {{"CDFILIAL", "string", 4}, {"CDCAIXA", "string", 3}};
  data.rows = {{{"CDFILIAL", filial}, {"CDCAIXA", caixa}}};
  return WriteDataPacket(data);
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(MODULE_HOST, dir.path() + "/module_host");
    fs::copy_file(REV10000_BPL, dir.path() + "/REV10000.bpl");
  }
  // What the host saw, as its one line of output.
  std::string Run(const std::string& action) {
    Process host({dir.path() + "/module_host", "REV10000", action}, {"QT_QPA_PLATFORM=offscreen"},
                 dir.path() + "/stderr");
    const std::optional<std::string> line = host.FirstLine(30s);
    EXPECT_EQ(host.Wait(10s), std::optional<int>(0)) << TempDir::Read(dir.path() + "/stderr");
    return line.value_or("(nothing)");
  }
  TempDir dir;
};

struct CodesCase {
  const char* name;
  const char* typed;    // cdsFilialCaixa.cds, nullptr: none
  const char* mercato;  // Mercato.cds, nullptr: none
  const char* action;
  const char* shown;
};

class ModuleCodesTest : public ModuleTest, public ::testing::WithParamInterface<CodesCase> {};

TEST_P(ModuleCodesTest, SaysWhichRegisterItRunsForAndReturnsWhenLeft) {
  const CodesCase& c = GetParam();
  if (c.typed != nullptr) dir.Write("cdsFilialCaixa.cds", c.typed);
  if (c.mercato != nullptr) dir.Write("Mercato.cds", c.mercato);
  EXPECT_EQ(Run(c.action),
            std::string("shown lblTitulo=Ponto de venda;") + c.shown + " full=1 | returned left=0");
}

const std::string kTyped = Packet("0001", "001");
const std::string kMercato = Packet("00012", "0042");

INSTANTIATE_TEST_SUITE_P(
    Casos, ModuleCodesTest,
    ::testing::Values(CodesCase{"TypedCodesFirst", kTyped.c_str(), kMercato.c_str(), "escape",
                                "lblFilial=Filial 0001;lblCaixa=Caixa 001;"},
                      CodesCase{"ElseThoseOfTheDataFile", nullptr, kMercato.c_str(), "button",
                                "lblFilial=Filial 00012;lblCaixa=Caixa 0042;"},
                      CodesCase{"AMalformedTypedFileIsPassedOver", "<DATAPACKET", kMercato.c_str(),
                                "quit", "lblFilial=Filial 00012;lblCaixa=Caixa 0042;"},
                      CodesCase{"NeitherFile", nullptr, nullptr, "escape",
                                "lblFilial=Filial e caixa desconhecidos;"}),
    [](const ::testing::TestParamInfo<CodesCase>& info) { return info.param.name; });

TEST_F(ModuleTest, AMissingOrBrokenModuleIsAnErrorNamingTheFileAndTheReason) {
  const std::string path = dir.path() + "/REV10000.bpl";
  struct Case {
    const char* name;
    std::function<void()> prepare;
    const char* reason;
  };
  const Case cases[] = {
      {"missing", [&] { fs::remove(path); }, "No such file"},
      {"not a library", [&] { dir.Write("REV10000.bpl", std::string(4096, 'x')); },
       "invalid ELF header"},
      {"no entry",
       [&] {
         fs::remove(path);
         fs::copy_file(NOENTRY_BPL, path);
       },
       "ExecutaModulo"},
  };
  for (const Case& c : cases) {
    c.prepare();
    const std::string line = Run("escape");
    EXPECT_EQ(line.rfind("error: ", 0), 0u) << c.name << ": " << line;
    EXPECT_NE(line.find(path), std::string::npos) << c.name << ": " << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << c.name << ": " << line;
    EXPECT_TRUE(line.ends_with(" left=0")) << c.name << ": " << line;
  }
}

// The form with the real loader: a package it cannot load is shown by the error display, and
// the launcher stays up for the next click.
class RealLoaderFormTest : public LauncherTest {
 protected:
  ModuleLoaderReal loader{DirectoryOf(HostPathLinux().ExecutablePath())};
  Services services = fake.Wire({.modules = &loader});
};

TEST_F(RealLoaderFormTest, AModuleThatCannotBeLoadedIsShownAndTheScreenStaysUsable) {
  Cli_jov00000::TfrmEscolheSistema form(services);
  form.show();
  form.sbtEnter->OnClick(form.sbtEnter);
  form.sbtEnter->OnClick(form.sbtEnter);
  ASSERT_EQ(fake.dialogs.shown.size(), 2u);
  // Nothing named REV10000.bpl lies beside the test program, which is the program folder here.
  EXPECT_NE(fake.dialogs.shown[0].find("/REV10000.bpl"), std::string::npos);
  EXPECT_NE(fake.dialogs.shown[0].find("No such file"), std::string::npos);
  EXPECT_EQ(fake.dialogs.shown[1], fake.dialogs.shown[0]);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.sbtEnter->isEnabled());
  form.close();
}

}  // namespace
}  // namespace jov::testing
