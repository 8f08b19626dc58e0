#include "tests/e2e/register.h"

#include <filesystem>
#include <sstream>

#include "tests/support/postgres_server.h"
#include "tests/support/x_display.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

}  // namespace

bool HaveRealWindowTools() {
  for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/sqlite3"}) {
    if (!fs::exists(tool)) return false;
  }
  return true;
}

TestRegister::TestRegister(const RegisterOptions& options) : options_(options) {
  const std::string program = this->program();
  fs::copy(JOV_PROGRAM_DIR, program, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::create_directories(updates());
  fs::create_directories(program + "/Dados/Jov_Bpl");
  for (const char* sibling : {"JovTab.exe", "JovBpl.exe", "Altera_Permissoes_Calvora.EXE"}) {
    fs::copy_file(JOV_STANDIN, program + "/" + sibling);
  }
  if (options.data_file) {
    dir_.Write("caixa/Mercato.cds",
               "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\">"
               "<METADATA><FIELDS>\n<FIELD attrname=\"CDFILIAL\" fieldtype=\"string\" "
               "WIDTH=\"4\"/>\n<FIELD attrname=\"CDCAIXA\" fieldtype=\"string\" WIDTH=\"3\"/>\n"
               "</FIELDS><PARAMS/></METADATA><ROWDATA>\n<ROW CDFILIAL=\"" +
                   options.filial + "\" CDCAIXA=\"" + options.caixa +
                   "\"/>\n</ROWDATA></DATAPACKET>\n");
  }
  Process sqlite({"/bin/sh", "-c", "exec /usr/bin/sqlite3 \"$0\" < \"$1\"",
                  dir_.path() + "/caixa.db", JOV_SQL_DIR "/sqlite/caixa.sql"},
                 {}, dir_.path() + "/sqlite.err");
  sqlite.Wait(10s);
  if (options.filial != "0001") {
    Process row({"/usr/bin/sqlite3", dir_.path() + "/caixa.db",
                 "INSERT INTO CAIXA VALUES ('" + options.filial + "', '" + options.caixa +
                     "', 'N', 'N', 'N');"},
                {}, dir_.path() + "/sqlite.err");
    row.Wait(10s);
  }
  int port = 1;  // nothing listens on port 1 (below 1024, no test binds it)
  if (options.server) {
    std::vector<std::string> args = {"--updates", updates()};
    args.insert(args.end(), options.server_args.begin(), options.server_args.end());
    server_ = std::make_unique<AppServer>(args, dir_.path() + "/appserver.log");
    port = server_->port();
  }
  WriteIni("127.0.0.1", port);
}

TestRegister::~TestRegister() = default;

void TestRegister::WriteIni(const std::string& host, int port) {
  dir_.Write("caixa/clientlib.ini", "[Server]\nHost=" + host + "\nPort=" + std::to_string(port) +
                                        "\n[Paths]\nWorkingDirectory=" + dir_.path() +
                                        "/work/\nDriveC=" + dir_.path() +
                                        "/c/\n[Database]\nConnectionString=Provider=QSQLITE;"
                                        "Data Source=" +
                                        dir_.path() + "/caixa.db\n" + options_.ini_extra);
}

void TestRegister::PointAt(const std::string& host, int port) { WriteIni(host, port); }

std::unique_ptr<Process> TestRegister::Launch(const std::string& display,
                                              const std::vector<std::string>& env) {
  std::vector<std::string> all = {
      "JOV_HKLM=" + dir_.path() + "/HKLM.reg",
      "DISPLAY=" + display,
      "QT_QPA_PLATFORM=xcb",
      RealWindowSanitizerOptions(),
      "JOV_STANDIN_LOG=" + dir_.path() + "/standins.log",
      "JOV_STANDIN_SECONDS=" + std::to_string(options_.standin_seconds)};
  all.insert(all.end(), env.begin(), env.end());
  return std::make_unique<Process>(std::vector<std::string>{program() + "/JOV.EXE"}, all,
                                   dir_.path() + "/launcher.err");
}

std::string TestRegister::UpdateLog() const {
  std::string text;
  const std::string dir = program() + "/Dados/Jov_Bpl";
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind("Log_Baixa", 0) == 0) {
      text += TempDir::Read(entry.path());
    }
  }
  return text;
}

std::vector<std::string> TestRegister::StandinCalls() const {
  std::vector<std::string> calls;
  std::istringstream in(TempDir::Read(dir_.path() + "/standins.log"));
  for (std::string line; std::getline(in, line);) {
    if (line.size() > 20) calls.push_back(line.substr(20));  // after "YYYY-MM-DD HH:MM:SS "
  }
  return calls;
}

}  // namespace jov::testing
