// The whole executable update of a start (nine program files of 8 MB each, newer on
// jov-appserver on loopback, no question) beside what the stock tools do for the same nine
// archives: curl downloading each and unzip extracting it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Cli_jov00000/update/baixa_exe.h"
#include "bench/spawn.h"
#include "clientlib/exe_download.h"
#include "clientlib/http_channel.h"
#include "clientlib/server_stall.h"
#include "platform/file_system_linux.h"
#include "platform/process_table_linux.h"
#include "platform/program_launcher_linux.h"

namespace {

namespace fs = std::filesystem;
using bench::Run;

const std::vector<std::string> kNames = Cli_jov00000::ExecutaveisDoCliente();
constexpr std::size_t kFileBytes = 8u << 20;

void MakeOld(const std::string& path) {
  const timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 2 * 86400, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), old, 0);
}

class Answers : public jov::Dialogs {
 public:
  bool Confirm(const std::string&) override { return false; }
  void Notify(const std::string&, int) override {}
  void ShowMessage(const std::string&) override {}
  void ShowException(const std::string&) override {}
};

class Settings : public jov::LibrarySettings {
 public:
  explicit Settings(std::string work) : work_(std::move(work)) {}
  std::string WorkingDirectory() override { return work_; }
  std::string WebURL() override { return "127.0.0.1"; }
  int WebPort() override { return 0; }
  std::string Proxy() override { return {}; }
  std::string DriveC() override { return "/"; }
  std::string ConnectionString() override { return {}; }

 private:
  std::string work_;
};

struct Setup {
  std::string root;
  std::string program;
  std::string url;
  int port = 0;
  std::unique_ptr<bench::AppServer> server;

  Setup() {
    char pattern[] = "/tmp/jov-update-bench-XXXXXX";
    root = ::mkdtemp(pattern);
    program = root + "/caixa/";
    for (const char* dir : {"/caixa", "/updates", "/work", "/stock", "/make"}) {
      fs::create_directories(root + dir);
    }
    std::mt19937_64 random(42);
    std::string bytes(kFileBytes, '\0');
    for (const std::string& name : kNames) {
      for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t word = random();
        std::memcpy(&bytes[i], &word, 8);
      }
      std::ofstream(root + "/make/" + name, std::ios::binary) << bytes;
      std::ofstream(program + name, std::ios::binary) << "old";
      Run({"zip", "-q", "-j", root + "/updates/" + name + ".zip", root + "/make/" + name});
    }
    server = std::make_unique<bench::AppServer>(JOV_BIN_DIR "/jov-appserver", root + "/updates",
                                                root + "/server.out");
    port = server->port();
    url = "http://127.0.0.1:" + std::to_string(port) + "/files/";
  }
  ~Setup() {
    server.reset();
    fs::remove_all(root);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void BM_LauncherUpdatesNineFiles(benchmark::State& state) {
  Setup& setup = Shared();
  jov::ServerStall stall;
  jov::HttpAppServerChannel channel({}, stall);
  jov::TNetConnection connection(channel);
  connection.ServerName = "lum.rdmAtualizaEstrutura";
  connection.Host = "127.0.0.1";
  connection.Port = setup.port;
  jov::FileSystemLinux files;
  jov::ProcessTableLinux processes;
  jov::ProgramLauncherLinux programs(setup.program);
  Answers dialogs;
  jov::ExeDownloadSettings settings;
  settings.working_directory = setup.root + "/work/";
  settings.stall = &stall;
  jov::SettingsDownloader downloads(settings);
  Settings library(setup.root + "/work/");
  std::string log;
  const Cli_jov00000::ExeUpdateSeams seams{
      connection, files,     processes, programs,
      dialogs,    downloads, library,   [&](const std::string& line) {
                                             log += line; }};
  for (auto _ : state) {
    state.PauseTiming();
    for (const std::string& name : kNames) MakeOld(setup.program + name);
    log.clear();
    state.ResumeTiming();
    Cli_jov00000::UpdateExecutables(seams, kNames, setup.program, "ExeUpdate");
    state.PauseTiming();
    if (fs::file_size(setup.program + "JovTab.exe") != kFileBytes) {
      state.SkipWithError("the update did not install the files");
    }
    state.ResumeTiming();
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * kNames.size() * kFileBytes));
}
BENCHMARK(BM_LauncherUpdatesNineFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlAndUnzipNineFiles(benchmark::State& state) {
  Setup& setup = Shared();
  for (auto _ : state) {
    for (const std::string& name : kNames) {
      const std::string archive = setup.root + "/stock/" + name + ".zip";
      if (Run({"curl", "-s", "-f", "-o", archive, setup.url + name + ".zip"}) != 0 ||
          Run({"unzip", "-o", "-q", archive, "-d", setup.root + "/stock"}) != 0) {
        state.SkipWithError("curl or unzip failed");
      }
    }
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * kNames.size() * kFileBytes));
}
BENCHMARK(BM_CurlAndUnzipNineFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
