// /fleet in a real browser: headless Chromium renders the page of a server that holds three
// registers (one up to date, one failed with its reason, one behind), runs its script under
// the page's Content-Security-Policy, and takes its picture (fleet.png in the build tree).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/server/fleet_support.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

const char* const kChromium = "/usr/bin/chromium";

class FleetBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kChromium, X_OK) != 0) GTEST_SKIP() << "chromium is needed";
    for (const std::string name : {"JovTab.exe.zip", "JovBpl.exe.zip"}) {
      const std::string archive = dir.Write("updates/" + name, "zip");
      const timespec times[2] = {{1796083200, 0}, {1796083200, 0}};  // 2026-12-01 00:00 UTC
      ::utimensat(AT_FDCWD, archive.c_str(), times, 0);
    }
    ::chmod(dir.Write("token", "browser-token-0123").c_str(), 0600);
    server = std::make_unique<AppServer>(
        std::vector<std::string>{"--updates", dir.path() + "/updates", "--fleet-db",
                                 dir.path() + "/fleet.db", "--fleet-token", dir.path() + "/token"},
        dir.path() + "/appserver.log", std::vector<std::string>{"TZ=UTC"});
    ASSERT_NE(server->port(), 0);
    const std::string newest = "20261201000000";
    const std::vector<nlohmann::json> reports = {
        FleetReport("0001", "001", {{"JovTab.exe", newest}, {"JovBpl.exe", newest}}, "installed"),
        FleetReport("0001", "002", {{"JovTab.exe", newest}, {"JovBpl.exe", newest}}, "failed",
                    "Falha ao baixar JovTab.exe: a conexão foi recusada"),
        [&] {
          nlohmann::json behind = FleetReport(
              "0002", "001", {{"JovTab.exe", "20261115093000"}, {"JovBpl.exe", newest}});
          behind["host"] = "<img src=x onerror=\"document.title='injected'\">";
          return behind;
        }()};
    for (const auto& report : reports)
      ASSERT_EQ(SendReport(server->port(), report.dump()).first, 200);
    // The first register signs its reports; the second's JovTab.exe fell soon after a start.
    ASSERT_EQ(SendReport(server->port(), Signed(reports[0], sign::SigningKey::Generate(), 1)).first,
              200);
    ASSERT_EQ(SendHealth(server->port(), FleetHealth("0001", "002", "JovTab.exe", 11).dump()).first,
              200);
  }

  // What chromium prints with these arguments before the page's address (at most 60 s).
  std::string Chromium(std::vector<std::string> args, const std::string& fragment = "") {
    const std::string out = dir.path() + "/chromium.out";
    std::vector<std::string> argv = {kChromium,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-dev-shm-usage",
                                     "--hide-scrollbars",
                                     "--user-data-dir=" + dir.path() + "/profile"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("http://127.0.0.1:" + std::to_string(server->port()) +
                   "/fleet?token=browser-token-0123" + fragment);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(fd, 1);
      ::dup2(null, 2);
      std::vector<char*> raw;
      for (std::string& arg : argv) raw.push_back(arg.data());
      raw.push_back(nullptr);
      ::execv(kChromium, raw.data());
      ::_exit(127);
    }
    int status = 0;
    for (int i = 0; i < 600 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(100ms);
    }
    if (::waitpid(pid, &status, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    return TempDir::Read(out);
  }

  TempDir dir;
  std::unique_ptr<AppServer> server;
};

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(FleetBrowserTest, RendersTheFleetAndItsScriptSortsAndFilters) {
  const std::string page = Chromium({"--dump-dom"});
  ASSERT_NE(page.find("</html>"), std::string::npos) << page;
  EXPECT_NE(page.find("3 caixas, 2 na versão mais nova de todos os programas, 1 com falha nas "
                      "últimas 24 horas, 0 sem contato há 3 dias"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("Falha ao baixar JovTab.exe: a conexão foi recusada"), std::string::npos);
  EXPECT_EQ(Count(page, "<li class=\"behind\">"), 1u) << page;
  EXPECT_NE(page.find("<li class=\"behind\">JovTab.exe 20261115093000 — atrás de 20261201000000"),
            std::string::npos);
  EXPECT_NE(page.find("<title>Frota</title>"), std::string::npos) << "no report's script ran";
  EXPECT_EQ(page.find("<img"), std::string::npos) << "a report's markup stays text";
  EXPECT_EQ(Count(page, "class=\"unverified\""), 2u) << "the two that did not sign";
  EXPECT_NE(page.find("<li>JovTab.exe: sinal 11, 2026-12-09T08:01:00-03:00 (não verificado)</li>"),
            std::string::npos);

  // The Caixa column sorted the other way by the page's own script: 002 comes first.
  const std::string sorted = Chromium({"--dump-dom"}, "#sort=1&desc");
  EXPECT_NE(sorted.find("aria-sort=\"descending\">Caixa"), std::string::npos) << sorted;
  const std::string body = sorted.substr(sorted.find("<tbody>"));
  EXPECT_LT(body.find("<td>002</td>"), body.find("<td>001</td>")) << body;

  // The branch filter is the server's.
  const std::string filtered = Chromium({"--dump-dom"}, "&branch=0002");
  EXPECT_EQ(Count(filtered, "<tr data-branch=\"0001\""), 0u) << filtered;
  EXPECT_EQ(Count(filtered, "<tr data-branch=\"0002\""), 1u) << filtered;
  EXPECT_NE(filtered.find("<option value=\"0002\" selected=\"\">"), std::string::npos);

  const std::string picture = JOV_TEST_BIN_DIR "/fleet.png";
  std::filesystem::remove(picture);
  Chromium({"--screenshot=" + picture, "--window-size=1600,440"});
  EXPECT_EQ(TempDir::Read(picture).substr(0, 4), "\x89PNG") << "no picture at " << picture;
  Chromium({"--screenshot=" JOV_TEST_BIN_DIR "/fleet-phone.png", "--window-size=390,760"});
}

}  // namespace
}  // namespace jov::testing
