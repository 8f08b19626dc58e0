// The fleet on jov-appserver: the reports it takes and refuses, what it keeps of them in its
// SQLite file, and who may see /fleet and /fleet.json.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "clientlib/update_report.h"
#include "platform/database_qt.h"
#include "tests/fakes/fake_session.h"
#include "tests/server/fleet_support.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using nlohmann::json;

constexpr time_t kNewest = 1796083200;  // 2026-12-01 00:00:00 UTC, the newest JovTab.exe

class FleetTest : public ::testing::Test {
 protected:
  // A file written now, stamped with the newest JovTab.exe's time.
  std::string WriteNewest(const std::string& name, const std::string& bytes) {
    const std::string path = dir.Write(name, bytes);
    const timespec times[2] = {{kNewest, 0}, {kNewest, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
  }

  void SetUp() override {
    WriteNewest("updates/JovTab.exe.zip", "zip");
    dir.Write("updates/JovBpl.exe.zip", "zip");
    dir.Write("token", "s3cret-token\n");
  }

  std::unique_ptr<AppServer> Start(bool with_token = true) {
    std::vector<std::string> args = {"--updates", dir.path() + "/updates", "--fleet-db", db};
    if (with_token) args.insert(args.end(), {"--fleet-token", dir.path() + "/token"});
    auto server = std::make_unique<AppServer>(args, dir.path() + "/appserver.log",
                                              std::vector<std::string>{"TZ=UTC"});
    EXPECT_NE(server->port(), 0) << TempDir::Read(dir.path() + "/appserver.log");
    return server;
  }

  json Registers(int port) {
    const auto [status, body] = GetFleet(port, "/fleet.json", "s3cret-token");
    EXPECT_EQ(status, 200) << body;
    return status == 200 ? json::parse(body)["registers"] : json::array();
  }

  std::vector<DbRow> Sql(const std::string& statement) {
    DatabaseQt store;
    store.Connect("Provider=QSQLITE;Data Source=" + db);
    return store.Query(statement, {});
  }

  TempDir dir;
  std::string db = dir.path() + "/fleet.db";
};

TEST_F(FleetTest, RefusesWhatIsNotAReportAndStoresNothingOfIt) {
  auto server = Start();
  const json good = FleetReport("0001", "001", {{"JovTab.exe", "20261201000000"}});
  const auto with = [&](const char* key, json value) {
    json report = good;
    report[key] = std::move(value);
    return report.dump();
  };
  json no_caixa = good;
  no_caixa.erase("caixa");
  json bad_file = good;
  bad_file["files"][0]["sha256"] = "abc";
  // A report of exactly the bound is taken; one byte more is not.
  const std::string padded = good.dump() + std::string(64 * 1024 - good.dump().size(), ' ');
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"not JSON", "filial=0001"},
      {"an array", "[1, 2]"},
      {"no caixa", no_caixa.dump()},
      {"a code with /", with("filial", "00/1")},
      {"an unknown outcome", with("outcome", "maybe")},
      {"a time without offset", with("started", "2026-12-09T08:00:00")},
      {"negative seconds", with("seconds", -1)},
      {"a failure without reason", with("failure", {{"file", "JovTab.exe"}})},
      {"a bad file entry", bad_file.dump()},
      {"nested too deep", with("extra", json::parse("[[[[[[[[[[1]]]]]]]]]]"))},
      {"one byte over 64 KiB", padded + " "}};
  for (const auto& [what, text] : bad) {
    EXPECT_EQ(SendReport(server->port(), text).first, 400) << what;
  }
  EXPECT_EQ(Registers(server->port()).size(), 0u);
  EXPECT_EQ(Sql("SELECT COUNT(*) AS n FROM fleet_report")[0].at("N"), "0");
  EXPECT_EQ(SendReport(server->port(), padded), std::pair(200, std::string("{\"result\":\"OK\"}")));
  EXPECT_EQ(Registers(server->port()).size(), 1u);
}

TEST_F(FleetTest, KeepsTheLastReportOfEachRegisterAndItsLastHundred) {
  auto server = Start();
  for (int i = 0; i < 105; ++i) {
    const json report =
        FleetReport("0001", "001", {{"JovTab.exe", "20261201000000"}}, i % 2 ? "failed" : "nothing",
                    i % 2 ? "falhou " + std::to_string(i) : "");
    ASSERT_EQ(SendReport(server->port(), report.dump()).first, 200) << i;
  }
  ASSERT_EQ(SendReport(server->port(), FleetReport("0002", "001", {}, "installed").dump()).first,
            200);
  const json registers = Registers(server->port());
  ASSERT_EQ(registers.size(), 2u) << registers;
  EXPECT_EQ(registers[0]["outcome"], "nothing") << "the 105th report is the last";
  EXPECT_EQ(registers[0]["reason"], nullptr);
  EXPECT_EQ(Sql("SELECT COUNT(*) AS n FROM fleet_report WHERE filial = '0001'")[0].at("N"), "100");
  EXPECT_NE(Sql("SELECT report FROM fleet_report WHERE filial = '0001' ORDER BY id LIMIT 1")[0]
                .at("REPORT")
                ->find("falhou 5\""),
            std::string::npos)
      << "the oldest kept is the sixth";
  // A restart finds the fleet as it was.
  server.reset();
  server = Start();
  EXPECT_EQ(Registers(server->port()).size(), 2u);
}

TEST_F(FleetTest, ShowsTheFleetOnlyWithTheToken) {
  auto server = Start();
  const int port = server->port();
  const std::vector<std::tuple<std::string, std::string, int>> requests = {
      {"/fleet", "", 403},
      {"/fleet.json", "", 403},
      {"/fleet", "wrong-token", 403},
      {"/fleet.json", "s3cret-tokenX", 403},
      {"/fleet?token=s3cret", "", 403},
      {"/fleet", "s3cret-token", 200},
      {"/fleet.json", "s3cret-token", 200},
      {"/fleet?token=s3cret-token", "", 200},
      {"/fleet.json?token=s3cret-token", "", 200}};
  for (const auto& [path, token, status] : requests) {
    EXPECT_EQ(GetFleet(port, path, token).first, status) << path << " " << token;
  }
  server.reset();
  server = Start(false);
  EXPECT_EQ(GetFleet(server->port(), "/fleet", "s3cret-token").first, 403)
      << "no token file: nobody";
  EXPECT_EQ(SendReport(server->port(), FleetReport("0001", "001", {}).dump()).first, 200)
      << "reports need no token";
}

TEST_F(FleetTest, CountsAndMarksTheFleetAndEscapesWhatRegistersSay) {
  auto server = Start();
  const int port = server->port();
  const std::vector<json> reports = {
      FleetReport("0001", "001", {{"JovTab.exe", "20261201000000"}, {"Outro.exe", "1"}}),
      FleetReport("0001", "002", {{"JovTab.exe", "20261130235959"}}, "failed",
                  "Falha ao baixar <b>JovTab.exe</b>: conexão recusada"),
      FleetReport("0002", "001", {{"JovTab.exe", "2026-11-01T10:00:00"}}),
      FleetReport("0003", "001", {{"jovtab.EXE", "20261201000000"}})};
  for (const json& report : reports) ASSERT_EQ(SendReport(port, report.dump()).first, 200);
  Sql("UPDATE fleet_register SET received = received - 4 * 86400 WHERE filial = '0003'");

  const json registers = Registers(port);
  ASSERT_EQ(registers.size(), 4u);
  json second = registers[1];
  EXPECT_EQ(second["last_seen"].get<std::string>().size(), 20u) << second;
  second.erase("last_seen");
  EXPECT_EQ(second,
            json({{"filial", "0001"},
                  {"caixa", "002"},
                  {"host", "caixa-0001-002"},
                  {"launcher", "2.1.0"},
                  {"outcome", "failed"},
                  {"reason", "JovTab.exe: Falha ao baixar <b>JovTab.exe</b>: conexão recusada"},
                  {"files", {{"JovTab.exe", "20261130235959"}}}}));

  const auto [status, page] = GetFleet(port, "/fleet", "s3cret-token");
  ASSERT_EQ(status, 200);
  EXPECT_NE(page.find("4 registers, 2 on the newest version of every program, 1 failed in the "
                      "last 24 hours, 1 not seen for 3 days"),
            std::string::npos)
      << page;
  EXPECT_EQ(page.find("<b>JovTab.exe</b>"), std::string::npos) << "report text is escaped";
  EXPECT_NE(page.find("&lt;b&gt;JovTab.exe&lt;/b&gt;: conexão recusada"), std::string::npos);
  EXPECT_EQ(page.find(" src="), std::string::npos) << "nothing from elsewhere";
}

// The register's own reporter, as a start sends it: its report is one the server keeps, with
// the programs' facts and the failure's reason; a server that cannot take it costs nothing.
TEST_F(FleetTest, ARegistersReportReachesTheFleet) {
  auto server = Start();
  WriteNewest("caixa/JovTab.exe", "programa");
  UpdateReport report;
  report.filial = "0001";
  report.caixa = "002";
  report.host = "caixa02";
  report.launcher = "1.0.0";
  report.started = IsoLocalNow();
  report.seconds = 1.5;
  report.outcome = protocol::Outcome::kFailed;
  report.failure = {"JovSinc.exe", "JovSinc.exe: a assinatura n\xe3o confere com o arquivo"};
  FakeSession register_start;
  {
    ThreadedUpdateReporter reporter(register_start.session);
    reporter.Send(report, {"127.0.0.1", server->port(), ""}, dir.path() + "/caixa",
                  {"JovSinc.exe", "JovTab.exe"});
    reporter.Wait();
  }
  const json registers = Registers(server->port());
  ASSERT_EQ(registers.size(), 1u) << registers.dump();
  EXPECT_EQ(registers[0]["filial"], "0001");
  EXPECT_EQ(registers[0]["outcome"], "failed");
  EXPECT_EQ(registers[0]["reason"].get<std::string>(),
            "JovSinc.exe: a assinatura n\xc3\xa3o confere com o arquivo");
  EXPECT_EQ(registers[0]["files"], json({{"JovTab.exe", "20261201000000"}}))
      << "only the programs present, stamped in local time";

  // A server that has no such call hears one attempt, and the reporter ends at once.
  TempDir updates;
  AppServer old({"--updates", updates.path()}, dir.path() + "/old.log");
  const auto start = std::chrono::steady_clock::now();
  {
    ThreadedUpdateReporter reporter(register_start.session);
    reporter.Send(report, {"127.0.0.1", old.port(), ""}, dir.path() + "/caixa", {"JovTab.exe"});
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

}  // namespace
}  // namespace jov::testing
