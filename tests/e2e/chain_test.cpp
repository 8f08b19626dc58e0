// Serving a whole chain: archives from a stock static web server while jov-appserver answers
// the calls, and fifty registers updating at once against one jov-appserver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Cli_jov00000/update/baixa_exe.h"
#include "clientlib/exe_download.h"
#include "clientlib/http_channel.h"
#include "clientlib/server_stall.h"
#include "platform/file_system_linux.h"
#include "platform/process_table_linux.h"
#include "platform/program_launcher_linux.h"
#include "tests/fakes/fake_library.h"
#include "tests/fakes/fake_platform.h"
#include "tests/server/server_support.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kNames = Cli_jov00000::ExecutaveisDoCliente();

// One register's executable update, over the real channel, files and processes, in the
// folder root (program files in root/caixa/, downloads in root/work/). Returns the update log.
// The register is a start of its own: the channel and the download share its stall state.
std::string UpdateOneRegister(const std::string& root, int port) {
  ServerStall stall;
  HttpAppServerChannel channel({}, stall);
  TNetConnection connection(channel);
  connection.ServerName = "lum.rdmAtualizaEstrutura";
  connection.Host = "127.0.0.1";
  connection.Port = port;
  FileSystemLinux files;
  ProcessTableLinux processes;
  ProgramLauncherLinux programs(root + "/caixa/");
  CallLog calls;
  FakeDialogs dialogs(calls);
  ExeDownloadSettings settings;
  settings.working_directory = root + "/work/";
  settings.stall = &stall;
  SettingsDownloader downloads(settings);
  FakeLibrarySettings library;
  library.working_directory = root + "/work/";
  std::string log;
  const Cli_jov00000::ExeUpdateSeams seams{
      connection, files,     processes, programs,
      dialogs,    downloads, library,   [&](const std::string& line) { log += line + "\n"; }};
  Cli_jov00000::UpdateExecutables(seams, kNames, root + "/caixa/", "ExeUpdate");
  return log;
}

// A register folder whose "JovTab.exe" is two days old.
std::string MakeRegister(const std::string& root) {
  fs::create_directories(root + "/caixa");
  fs::create_directories(root + "/work");
  const std::string jovtab = root + "/caixa/JovTab.exe";
  std::ofstream(jovtab, std::ios::binary) << "old";
  fs::last_write_time(jovtab, fs::file_time_type::clock::now() - std::chrono::hours(48));
  return root;
}

// The archive every register is offered: JovTab.exe of 1 MiB.
std::string OfferArchive(const TempDir& dir) {
  const std::string made = dir.Write("make/JovTab.exe", std::string(1 << 20, 'n'));
  fs::create_directories(dir.path() + "/updates");
  Process zip({"/usr/bin/zip", "-q", "-j", dir.path() + "/updates/JovTab.exe.zip", made}, {},
              dir.path() + "/zip.err");
  EXPECT_EQ(zip.Wait(10s), std::optional<int>(0));
  return TempDir::Read(made);
}

// The child side of the load test: one register, run in a process of its own.
TEST(ChainLoad, OneRegister) {
  const char* root = std::getenv("JOV_ONE_REGISTER");
  if (root == nullptr) GTEST_SKIP() << "run by ChainLoad.FiftyRegistersAtOnce";
  const std::string log = UpdateOneRegister(root, std::atoi(std::getenv("JOV_PORT")));
  EXPECT_NE(log.find("Download realizado com sucesso"), std::string::npos) << log;
}

TEST(ChainLoad, FiftyRegistersAtOnce) {
  constexpr int kRegisters = 50;
  TempDir dir;
  const std::string archive = OfferArchive(dir);
  AppServer server({"--updates", dir.path() + "/updates"}, dir.path() + "/appserver.log");
  ASSERT_NE(server.port(), 0);
  const std::string self = fs::read_symlink("/proc/self/exe");
  std::vector<std::unique_ptr<Process>> registers;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRegisters; ++i) {
    const std::string root = MakeRegister(dir.path() + "/r" + std::to_string(i));
    registers.push_back(std::make_unique<Process>(
        std::vector<std::string>{self, "--gtest_filter=ChainLoad.OneRegister"},
        std::vector<std::string>{"JOV_ONE_REGISTER=" + root,
                                 "JOV_PORT=" + std::to_string(server.port())},
        root + "/stderr"));
  }
  int failed = 0;
  std::chrono::steady_clock::duration slowest{};
  for (int i = 0; i < kRegisters; ++i) {
    const auto code = registers[i]->Wait(120s);
    slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    const std::string root = dir.path() + "/r" + std::to_string(i);
    if (code != std::optional<int>(0) || TempDir::Read(root + "/caixa/JovTab.exe") != archive) {
      ++failed;
      ADD_FAILURE() << "register " << i << ": " << TempDir::Read(root + "/stderr");
    }
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count();
  RecordProperty("slowest_ms", static_cast<int>(ms));
  std::printf("%d registers updated at once: slowest %lld ms, %d failed\n", kRegisters,
              static_cast<long long>(ms), failed);
  EXPECT_EQ(failed, 0);
}

// The archives on a stock static server; jov-appserver names it as the download source.
TEST(ChainServing, ArchivesComeFromAStockStaticServer) {
  if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "python3 is needed";
  TempDir dir;
  const std::string archive = OfferArchive(dir);
  const int web_port = FreeLoopbackPort();
  Process web({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1",
               std::to_string(web_port), "--directory", dir.path() + "/updates"},
              {"PYTHONUNBUFFERED=1"}, dir.path() + "/web.log");
  ASSERT_TRUE(web.FirstLine(10s).has_value()) << "the static server did not start";
  AppServer server({"--updates", dir.path() + "/updates", "--source-url",
                    "http://127.0.0.1:" + std::to_string(web_port) + "/"},
                   dir.path() + "/appserver.log");
  ASSERT_NE(server.port(), 0);
  const std::string root = MakeRegister(dir.path() + "/r");
  const std::string log = UpdateOneRegister(root, server.port());
  EXPECT_NE(log.find("Download realizado com sucesso"), std::string::npos) << log;
  EXPECT_EQ(TempDir::Read(root + "/caixa/JovTab.exe"), archive);
  EXPECT_NE(TempDir::Read(dir.path() + "/web.log").find("GET /JovTab.exe.zip"), std::string::npos);
}

}  // namespace
}  // namespace jov::testing
