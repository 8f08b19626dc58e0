// The whole start-up against a real application server: a copy of the program folder runs
// JOV.EXE, which pings the server with the real tool and copies the server's HTTP settings
// into a hive file of the test's own.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/registry_hive.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

const std::string kKey = "Software\\CALVORA\\Sistemas Integrados Calvora\\WebCli";

// The seven values, or nothing while the hive does not hold them all yet.
std::optional<std::vector<std::string>> SevenValues(const std::string& hive_path) {
  try {
    RegistryHive hive(hive_path);
    return std::vector<std::string>{
        hive.ReadString(kKey, "HttpHostAddr"),
        hive.ReadString(kKey, "HttpPort"),
        std::to_string(hive.ReadInteger(kKey, "HttpUseProxy")),
        hive.ReadString(kKey, "HttpProxyHost"),
        hive.ReadString(kKey, "HttpProxyPort"),
        hive.ReadString(kKey, "HttpProxyUserId"),
        std::to_string(hive.ReadInteger(kKey, "HttpHttps")),
    };
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string LogOf(const std::string& program) {
  std::string text;
  const std::string dir = program + "/Dados/Jov_Bpl";
  if (!fs::exists(dir)) return text;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("Log_Baixa", 0) == 0) {
      text += TempDir::Read(entry.path());
    }
  }
  return text;
}

TEST(EndToEnd, TheLauncherCopiesTheServersHttpSettingsIntoTheHive) {
  TempDir dir;
  const std::string program = dir.path() + "/caixa";
  fs::copy(JOV_PROGRAM_DIR, program, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::create_directories(dir.path() + "/updates");

  Dataset settings;
  settings.fields = {{"HTTPHOSADDR", "string", 60},   {"HTTPPORT", "string", 10},
                     {"IDUTHTTPPROXY", "i4", 0},      {"HTTPPROXYHOST", "string", 60},
                     {"HTTPPROXYPORT", "string", 10}, {"HTTPPROXYUSERID", "string", 60},
                     {"HTTPHTTPS", "i4", 0}};
  settings.rows = {{{"HTTPHOSADDR", "web.loja"},
                    {"HTTPPORT", "8080"},
                    {"IDUTHTTPPROXY", "1"},
                    {"HTTPPROXYHOST", "proxy.loja"},
                    {"HTTPPROXYPORT", "3128"},
                    {"HTTPPROXYUSERID", "caixa-ação"_w},
                    {"HTTPHTTPS", "0"}}};
  const std::string settings_path = dir.Write("http.xml", WriteDataPacket(settings));
  AppServer server({"--updates", dir.path() + "/updates", "--http-settings", settings_path},
                   dir.path() + "/appserver.log");
  ASSERT_NE(server.port(), 0) << TempDir::Read(dir.path() + "/appserver.log");

  dir.Write("caixa/clientlib.ini",
            "[Server]\nHost=127.0.0.1\nPort=" + std::to_string(server.port()) +
                "\n[Paths]\nWorkingDirectory=" + dir.path() + "/work/\nDriveC=" + dir.path() +
                "/c/\n[Database]\nConnectionString=Provider=QSQLITE;"
                "Data Source=" +
                dir.path() + "/caixa.db\n");
  dir.Write("caixa/Mercato.cds",
            "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET "
            "Version=\"2.0\"><METADATA><FIELDS>\n<FIELD attrname=\"CDFILIAL\" fieldtype=\"string\" "
            "WIDTH=\"4\"/>\n<FIELD attrname=\"CDCAIXA\" fieldtype=\"string\" "
            "WIDTH=\"3\"/>\n</FIELDS><PARAMS/></METADATA><ROWDATA>\n<ROW CDFILIAL=\"0001\" "
            "CDCAIXA=\"001\"/>\n</ROWDATA></DATAPACKET>\n");
  const std::string hive = dir.path() + "/HKLM.reg";
  Process launcher({program + "/JOV.EXE"}, {"JOV_HKLM=" + hive, "QT_QPA_PLATFORM=offscreen"},
                   dir.path() + "/jov.err");
  ASSERT_TRUE(launcher.started());

  const bool written = WaitUntil([&] { return SevenValues(hive).has_value(); }, 60s);
  const int code = launcher.Stop(10s);
  ASSERT_TRUE(written) << "log:\n"
                       << LogOf(program) << "\nstderr:\n"
                       << TempDir::Read(dir.path() + "/jov.err");
  EXPECT_EQ(*SevenValues(hive), (std::vector<std::string>{"web.loja", "8080", "1", "proxy.loja",
                                                          "3128", "caixa-ação"_w, "0"}));
  EXPECT_EQ(code, 0) << "the launcher ends cleanly on SIGTERM";
  const std::string log = LogOf(program);
  EXPECT_NE(log.find(" - Ping Server b - True\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" - Conexão Lum - Conectado\r\n"_w), std::string::npos) << log;
  EXPECT_EQ(log.find("Falha ao conectar com a Lum.dll"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(program + "/TestePing.bat"));
  const std::string requests = TempDir::Read(dir.path() + "/appserver.log");
  EXPECT_NE(requests.find(" POST /lum.rdmAtualizaEstrutura/GetDadosHttp 200\n"), std::string::npos)
      << requests;
}

}  // namespace
}  // namespace jov::testing
