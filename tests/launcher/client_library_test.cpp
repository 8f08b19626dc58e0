// The client library's own operations: settings file, helpers, messages, module loading.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QString>
#include <cstdlib>
#include <filesystem>

#include "clientlib/client_ini.h"
#include "clientlib/consiste.h"
#include "clientlib/library_services.h"
#include "clientlib/mensagemjov.h"
#include "clientlib/messages.h"
#include "clientlib/register_identity.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/host_path_linux.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/fake_session.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

TEST(ClientIni, MissingFileGivesTheDefaults) {
  const ClientIni ini = ReadClientIni("/nonexistent/clientlib.ini", "/opt/caixa");
  EXPECT_EQ(ini.host, "127.0.0.1");
  EXPECT_EQ(ini.port, 8211);
  EXPECT_EQ(ini.working_directory, "/var/lib/jov/work/");
  EXPECT_EQ(ini.drive_c, "/");
}

TEST(ClientIni, ValuesKeepSeparatorsAndRelativePathsComeFromTheProgramFolder) {
  TempDir dir;
  const std::string path =
      dir.Write("clientlib.ini",
                "; comment\r\n"
                "[SERVER]\r\n"
                "host = srv;01 , x \r\n"
                "PORT=9000\r\n"
                "# another comment\r\n"
                "[Paths]\r\n"
                "WorkingDirectory=work\r\n"
                "[Database]\r\n"
                "ConnectionString=Provider=QPSQL;Data Source=db:5433/caixa\r\n");
  const ClientIni ini = ReadClientIni(path, "/opt/caixa");
  EXPECT_EQ(ini.host, "srv;01 , x");
  EXPECT_EQ(ini.port, 9000);
  EXPECT_EQ(ini.working_directory, "/opt/caixa/work/");
  EXPECT_EQ(ini.connection_string, "Provider=QPSQL;Data Source=db:5433/caixa");
}

TEST(ClientIni, AnUnreadablePortKeepsTheDefault) {
  TempDir dir;
  const std::string path = dir.Write("clientlib.ini", "[Server]\nPort=abc\n");
  EXPECT_EQ(ReadClientIni(path, "/x").port, 8211);
}

TEST(ClientIni, UpdateKeysGiveTheDownloadLimitAndTheKey) {
  TempDir dir;
  const ClientIni defaults = ReadClientIni("/nonexistent/clientlib.ini", "/x");
  EXPECT_EQ(defaults.max_download_mb, 512);
  EXPECT_EQ(defaults.public_key, "");
  const std::string path = dir.Write("clientlib.ini",
                                     "[update]\r\nmaxdownloadmb = 64 \r\n"
                                     "PublicKey= MCowBQYDK2VwAyEA+/x= \r\n");
  const ClientIni ini = ReadClientIni(path, "/x");
  EXPECT_EQ(ini.max_download_mb, 64);
  EXPECT_EQ(ini.public_key, "MCowBQYDK2VwAyEA+/x=");
}

TEST(ClientIni, AnUnusableDownloadLimitKeepsTheDefault) {
  TempDir dir;
  for (const char* value : {"abc", "0", "-5", "12MB", "", "1048577", "99999999999999999999"}) {
    const std::string path =
        dir.Write("clientlib.ini", std::string("[Update]\nMaxDownloadMB=") + value + "\n");
    EXPECT_EQ(ReadClientIni(path, "/x").max_download_mb, 512) << value;
  }
  const std::string path = dir.Write("clientlib.ini", "[Server]\nMaxDownloadMB=7\n");
  EXPECT_EQ(ReadClientIni(path, "/x").max_download_mb, 512) << "only [Update] counts";
}

// Each value the reader rejects, each key it does not know (a typo) and a file it cannot read
// become a line for the start's log; a good file gives none.
TEST(ClientIni, RejectedValuesUnknownKeysAndAnUnreadableFileAreReported) {
  TempDir dir;
  const struct {
    std::string text;
    std::string problem;  // empty: none expected
  } cases[] = {
      {"[Server]\nHost=srv\nPort=9000\n[Update]\nMaxDownloadMB=64\n", ""},
      {"[Server]\nPort=80x\n", "[Server] Port=80x rejeitado"},
      {"[Server]\nPort=70000\n", "[Server] Port=70000 rejeitado"},
      {"[server]\nProt=8211\n", "chave desconhecida ignorada: [server] Prot"},
      {"[Update]\nMaxDownloadMB=12MB\n", "[Update] MaxDownloadMB=12MB rejeitado"},
      {"[Update]\nMaxKBps=0\nMaxKBps=64\n", ""},
      {"[Update]\nMaxKBps=-1\n", "[Update] MaxKBps=-1 rejeitado"},
      {"[Update]\nMaxKBps=1048577\n", "[Update] MaxKBps=1048577 rejeitado"},
      {"[Update]\nPublicKey=abc\n", "[Update] PublicKey n\xE3o \xE9 a base64 de 32 bytes"},
      {"[Server]\nHost\n", "linha sem \"=\" ignorada: Host"},
      {"[Server]\nPort=8\x01"
       "1\n",
       "Port=8?1 rejeitado"},
  };
  for (const auto& c : cases) {
    const ClientIni ini = ReadClientIni(dir.Write("clientlib.ini", c.text), "/x");
    if (c.problem.empty()) {
      EXPECT_TRUE(ini.problems.empty()) << c.text;
      continue;
    }
    ASSERT_EQ(ini.problems.size(), 1u) << c.text;
    EXPECT_NE(ini.problems[0].find(c.problem), std::string::npos) << ini.problems[0];
  }
  const std::string not_a_folder = dir.Write("file", "");
  const ClientIni unreadable = ReadClientIni(not_a_folder + "/clientlib.ini", "/x");
  ASSERT_EQ(unreadable.problems.size(), 1u);
  EXPECT_NE(unreadable.problems[0].find(not_a_folder + "/clientlib.ini n\xE3o p\xF4"
                                                       "de ser lido"),
            std::string::npos)
      << unreadable.problems[0];
  EXPECT_TRUE(ReadClientIni("/nonexistent/clientlib.ini", "/x").problems.empty());
}

// A program folder of another user and a missing hive folder are named at start.
TEST(ClientIni, FoldersTheLauncherCannotUseAreReported) {
  TempDir dir;
  const std::string program = dir.path() + "/caixa";
  std::filesystem::create_directory(program);
  EXPECT_TRUE(FolderProblems(program, dir.path() + "/HKLM.reg").empty());
  const auto missing = FolderProblems(program, dir.path() + "/none/HKLM.reg");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0], "registro " + dir.path() + "/none/HKLM.reg: a pasta " + dir.path() +
                            "/none n\xE3o existe");
  if (::geteuid() != 0) GTEST_SKIP() << "giving the folder to another user needs root";
  ASSERT_EQ(::chown(program.c_str(), 65534, 65534), 0);
  const auto owned = FolderProblems(program, dir.path() + "/HKLM.reg");
  ASSERT_FALSE(owned.empty());
  EXPECT_NE(owned[0].find("pasta de programas " + program + " pertence a "), std::string::npos)
      << owned[0];
}

// A start's settings come from the program folder of the host path it is given, read once:
// the library serves what the start read, the proxy too.
TEST(ClientIni, TheStartReadsTheProgramFolderOfItsHostPathOnce) {
  TempDir dir;
  dir.Write("clientlib.ini",
            "[Server]\nHost=10.9.8.7\nProxy=http://proxy.loja:3128\n"
            "[Paths]\nWorkingDirectory=trabalho\n");
  FakeSession start(dir.path());
  EXPECT_EQ(start.session.ProgramDirectory(), dir.path());
  dir.Write("clientlib.ini", "[Server]\nHost=outro\n");
  LibrarySettingsReal library(start.session);
  EXPECT_EQ(library.WebURL(), "10.9.8.7");
  EXPECT_EQ(library.Proxy(), "http://proxy.loja:3128");
  EXPECT_EQ(library.WorkingDirectory(), dir.path() + "/trabalho/");
}

// A data file naming one register, as the point-of-sale and the launcher write them.
std::string Packet(const std::string& filial, const std::string& caixa) {
  return "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\">"
         "<METADATA><FIELDS>\n<FIELD attrname=\"CDFILIAL\" fieldtype=\"string\" WIDTH=\"4\"/>\n"
         "<FIELD attrname=\"CDCAIXA\" fieldtype=\"string\" WIDTH=\"3\"/>\n"
         "</FIELDS><PARAMS/></METADATA><ROWDATA>\n<ROW CDFILIAL=\"" +
         filial + "\" CDCAIXA=\"" + caixa + "\"/>\n</ROWDATA></DATAPACKET>\n";
}

// Until the codes are set, the point-of-sale's data file names the register before the
// launcher's; a file that comes later in the start still counts; set codes win over files.
TEST(RegisterIdentity, TheCodesComeFromTheSetterOrElseTheDataFiles) {
  struct Case {
    const char* what;
    const char* mercato;   // nullptr: no Mercato.cds
    const char* launcher;  // nullptr: no cdsFilialCaixa.cds
    std::vector<std::string> set;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"neither file", nullptr, nullptr, {}, ""},
      {"the point-of-sale's file", "0001/002", "0009/009", {}, "0001/002"},
      {"the launcher's file", nullptr, "0003/004", {}, "0003/004"},
      {"an unreadable point-of-sale's file", "bad", "0003/004", {}, "0003/004"},
      {"the codes set", "0001/002", nullptr, {"0005", "006"}, "0005/006"},
      {"codes set empty", "0001/002", nullptr, {"", "006"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const auto write = [&](const char* file, const char* codes) {
      const std::string text = codes;
      dir.Write(file, text == "bad" ? "<DATAPACKET" : Packet(text.substr(0, 4), text.substr(5)));
    };
    RegisterIdentity identity(dir.path());
    EXPECT_EQ(identity.Value(), "") << "no file yet";
    if (c.mercato != nullptr) write("Mercato.cds", c.mercato);
    if (c.launcher != nullptr) write("cdsFilialCaixa.cds", c.launcher);
    if (!c.set.empty()) identity.Set(c.set[0], c.set[1]);
    EXPECT_EQ(identity.Value(), c.expected);
  }
}

TEST(Consiste, AjustaPadsShortCodesWithZerosAndLeavesLongOnes) {
  EXPECT_EQ(Consiste::Ajusta("1", 4), "0001");
  EXPECT_EQ(Consiste::Ajusta("A1", 3), "0A1");
  EXPECT_EQ(Consiste::Ajusta("1234", 4), "1234");
  EXPECT_EQ(Consiste::Ajusta("12345", 4), "12345");
  EXPECT_EQ(Consiste::Ajusta("", 3), "000");
  EXPECT_EQ(Consiste::iif(true, std::string("a"), std::string("b")), "a");
}

TEST(Messages, MsgReturnsTheTextOfTheExactKeyOnly) {
  TMessages messages;
  messages.Messages = {"Reiniciar|texto um", "ReiniciarX|texto dois", "Vazio|", "sem barra"};
  EXPECT_EQ(messages.Msg("Reiniciar"), "texto um");
  EXPECT_EQ(messages.Msg("ReiniciarX"), "texto dois");
  EXPECT_EQ(messages.Msg("Vazio"), "");
  EXPECT_EQ(messages.Msg("reiniciar"), "");
  EXPECT_EQ(messages.Msg("Outra"), "");
}

TEST(Mensagem, AQuestionAsksAndEveryOtherKindIsANotice) {
  CallLog log;
  FakeDialogs dialogs(log);
  dialogs.answers = {true, false};
  using Mensagemjov::Mensagem;
  EXPECT_TRUE(Mensagem(dialogs, "q1", "", "N", "S", Mensagemjov::tmPergunta, "", "", 0, nullptr));
  EXPECT_FALSE(Mensagem(dialogs, "q2", "", "N", "S", Mensagemjov::tmPergunta, "", "", 0, nullptr));
  EXPECT_TRUE(Mensagem(dialogs, "n", "", "N", "N", Mensagemjov::tmAviso, "", "", 0, nullptr));
  EXPECT_TRUE(Mensagem(dialogs, "r", "", "N", "N", Mensagemjov::tmRecusa, "", "", 0, nullptr));
  EXPECT_EQ(dialogs.shown,
            (std::vector<std::string>{"Confirm: q1", "Confirm: q2", "Notify3: n", "Notify0: r"}));
}

TEST(Mensagem, TheFooterCarriesTheScreenCodeAndTheVersion) {
  const std::string footer = Mensagemjov::MontaRodapeGeral(false, "JOV00000", "N");
  EXPECT_EQ(footer.rfind("JOV00000", 0), 0u);
  EXPECT_NE(footer.find(JOV_VERSION_FOR_TESTS), std::string::npos);
}

TEST(Cp1252, ConvertsBothWaysAndCasesOnlyAsciiLetters) {
  EXPECT_EQ("ação Ç €"_w, "a\xE7\xE3o \xC7 \x80");
  EXPECT_EQ(cp1252::ToUtf8("a\xE7\xE3o \xC7 \x80"), "ação Ç €");
  EXPECT_EQ(cp1252::FromUtf8("日本"), "??");
  EXPECT_EQ(cp1252::UpperAscii("jovbpl.exe ç"_w), "JOVBPL.EXE ç"_w);
  EXPECT_EQ(cp1252::LowerAscii("INACESSÍVEL"_w), "inacessÍvel"_w);
  EXPECT_EQ(cp1252::FromQString(cp1252::ToQString("Não\x81"_w)), "Não\x81"_w);
}

class ModuleLoading : public ::testing::Test {
 protected:
  void SetUp() override { setenv("JOV_TEST_MODULE_LOG", (dir.path() + "/calls").c_str(), 1); }
  TempDir dir;
  ModuleLoaderReal loader{DirectoryOf(HostPathLinux().ExecutablePath())};
};

TEST_F(ModuleLoading, RunsTheModuleEntryWithItsFlagEachTime) {
  loader.Load("TESTMOD", false);
  loader.Unload("TESTMOD");
  loader.Load("TESTMOD", true);
  loader.Unload("TESTMOD");
  loader.Unload("TESTMOD");  // not loaded: nothing happens
  EXPECT_EQ(TempDir::Read(dir.path() + "/calls"), "flag=0\nflag=1\n");
}

TEST_F(ModuleLoading, AMissingPackageOrEntryRaisesNamingThePackage) {
  try {
    loader.Load("NOSUCH", false);
    FAIL() << "expected an error";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("NOSUCH.bpl"), std::string::npos);
  }
  try {
    loader.Load("NOENTRY", false);
    FAIL() << "expected an error";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("ExecutaModulo"), std::string::npos);
  }
  loader.Unload("NOENTRY");
}

}  // namespace
}  // namespace jov::testing
