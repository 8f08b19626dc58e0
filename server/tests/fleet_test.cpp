// The fleet on jov-appserver: the reports and health events it takes and refuses, what it
// keeps of them in its SQLite file (or, built as fleet_postgresql_tests, on PostgreSQL) and
// which it trusts, and who may see /fleet and /fleet.json.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <set>

#include "clientlib/update_report.h"
#include "platform/database_qt.h"
#include "tests/fakes/fake_session.h"
#include "tests/server/fleet_support.h"
#include "tests/server/server_support.h"
#include "tests/support/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

using nlohmann::json;

constexpr time_t kNewest = 1796083200;  // 2026-12-01 00:00:00 UTC, the newest JovTab.exe
constexpr const char* kToken = "s3cret-token-0123";

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
#ifdef JOV_FLEET_ON_POSTGRESQL
    if (!PostgresServer::Available()) GTEST_SKIP() << "PostgreSQL is needed";
    postgres = std::make_unique<PostgresServer>();
    db = postgres->ConnectionString();
#endif
    WriteNewest("updates/JovTab.exe.zip", "zip");
    dir.Write("updates/JovBpl.exe.zip", "zip");
    ::chmod(dir.Write("token", std::string(kToken) + "\n").c_str(), 0600);
  }

  // The server; every report kept unless the extra arguments say otherwise.
  std::unique_ptr<AppServer> Start(bool with_token = true, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--updates", dir.path() + "/updates", "--fleet-db",
                                     db,          "--report-interval",     "0"};
    if (with_token) args.insert(args.end(), {"--fleet-token", dir.path() + "/token"});
    args.insert(args.end(), extra.begin(), extra.end());
    auto server = std::make_unique<AppServer>(args, dir.path() + "/appserver.log",
                                              std::vector<std::string>{"TZ=UTC"});
    EXPECT_NE(server->port(), 0) << TempDir::Read(dir.path() + "/appserver.log");
    return server;
  }

  json Registers(int port) {
    const auto [status, body] = GetFleet(port, "/fleet.json", kToken);
    EXPECT_EQ(status, 200) << body;
    return status == 200 ? json::parse(body)["registers"] : json::array();
  }

  // The one register of the fleet with the filial.
  json RegisterOf(int port, const std::string& filial) {
    for (const json& r : Registers(port)) {
      if (r["filial"] == filial) return r;
    }
    return nullptr;
  }

  int Rows(const std::string& statement) {
    return std::stoi(Sql(statement)[0].at("N").value_or("-1"));
  }

  std::vector<DbRow> Sql(const std::string& statement) {
    DatabaseQt store;
    store.Connect(db.rfind("Provider=", 0) == 0 ? db : "Provider=QSQLITE;Data Source=" + db);
    return store.Query(statement, {});
  }

  TempDir dir;
  std::unique_ptr<PostgresServer> postgres;
  std::string db = dir.path() + "/fleet.db";  // or a connection string
};

TEST_F(FleetTest, RefusesWhatIsNotAReportOrAnEventAndStoresNothingOfIt) {
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

  const json event = FleetHealth("0001", "001", "JovTab.exe", 11);
  const auto event_with = [&](const char* key, json value) {
    json changed = event;
    changed[key] = std::move(value);
    return changed.dump();
  };
  json no_at = event;
  no_at.erase("at");
  const std::vector<std::pair<std::string, std::string>> bad_events = {
      {"not JSON", "sinal=11"},
      {"a report", good.dump()},
      {"no at", no_at.dump()},
      {"both signal and exit", event_with("exit", 1)},
      {"neither signal nor exit", event_with("signal", nullptr)},
      {"a name with ..", event_with("name", "../JovTab.exe")},
      {"over 16 KiB", event_with("host", std::string(17 * 1024, 'h'))}};
  for (const auto& [what, text] : bad_events) {
    EXPECT_EQ(SendHealth(server->port(), text).first, 400) << what;
  }
  EXPECT_EQ(SendHealth(server->port(), event.dump()).first, 409)
      << "a register that never reported: its next report carries the event";
  EXPECT_EQ(Rows("SELECT COUNT(*) AS n FROM fleet_health"), 0);

  EXPECT_EQ(SendReport(server->port(), padded), std::pair(200, std::string("{\"result\":\"OK\"}")));
  EXPECT_EQ(Registers(server->port()).size(), 1u);
  ASSERT_EQ(SendHealth(server->port(), event.dump()).first, 200);
  const json health = Registers(server->port())[0]["health"];
  ASSERT_EQ(health.size(), 1u) << health;
  EXPECT_EQ(health[0]["signal"], 11);
  EXPECT_EQ(health[0]["verified"], false);
}

// A register signs its first report; what anyone else sends in its name (unsigned, signed by
// another key, sent again, changed after signing) is kept apart and changes nothing of it.
TEST_F(FleetTest, ForgedAndReplayedReportsLeaveTheVerifiedStateAlone) {
  auto server = Start();
  const int port = server->port();
  const auto key = sign::SigningKey::Generate();
  const auto other = sign::SigningKey::Generate();
  const json failed = FleetReport("0001", "001", {{"JovTab.exe", "20261130000000"}}, "failed",
                                  "a assinatura não confere");
  const std::string real = Signed(failed, key, 5);
  ASSERT_EQ(SendReport(port, real).first, 200);
  const json healthy = FleetReport("0001", "001", {{"JovTab.exe", "20261201000000"}}, "installed");
  std::string changed = Signed(failed, key, 6);
  changed.replace(changed.find("a assinatura"), 1, "A");
  const std::vector<std::pair<std::string, std::string>> forged = {
      {"unsigned", healthy.dump()},
      {"signed by another key", Signed(healthy, other, 6)},
      {"sent again", real},
      {"the same counter", Signed(healthy, key, 5)},
      {"an older counter", Signed(healthy, key, 4)},
      {"changed after signing", changed}};
  for (const auto& [what, text] : forged) EXPECT_EQ(SendReport(port, text).first, 200) << what;
  // More forgeries than a register's history holds.
  for (int i = 0; i < 101; ++i) ASSERT_EQ(SendReport(port, healthy.dump()).first, 200) << i;

  json shown = RegisterOf(port, "0001");
  EXPECT_EQ(shown["outcome"], "failed") << shown;
  EXPECT_EQ(shown["verified"], true);
  EXPECT_EQ(Rows("SELECT COUNT(*) AS n FROM fleet_report"), 1) << "the real failure stays";
  EXPECT_EQ(Rows("SELECT COUNT(*) AS n FROM fleet_unverified"), 100);
  const std::string page = GetFleet(port, "/fleet", kToken).second;
  EXPECT_NE(page.find("1 caixas, 0 na versão mais nova de todos os programas, 1 com falha"),
            std::string::npos)
      << page;
  EXPECT_EQ(page.find("class=\"unverified\""), std::string::npos);

  // The register's own next report is taken; one that never signs is shown, marked.
  ASSERT_EQ(SendReport(port, Signed(healthy, key, 6)).first, 200);
  EXPECT_EQ(RegisterOf(port, "0001")["outcome"], "installed");
  ASSERT_EQ(SendReport(port, FleetReport("0002", "001", {}).dump()).first, 200);
  EXPECT_EQ(RegisterOf(port, "0002")["verified"], false);
  EXPECT_NE(GetFleet(port, "/fleet", kToken)
                .second.find("<tr data-branch=\"0002\" "
                             "class=\"unverified\">"),
            std::string::npos);
}

// A register signing with a new key (reinstalled, say) is not trusted until an operator
// accepts the key on the page, through the page's own form; a key given at the start is the
// register's from its first report.
TEST_F(FleetTest, AChangedKeyIsPendingUntilAnOperatorAcceptsIt) {
  const auto key = sign::SigningKey::Generate();
  const auto renewed = sign::SigningKey::Generate();
  const auto given = sign::SigningKey::Generate();
  const std::string keys =
      dir.Write("keys", "# chaves\n0002/001 " + given.PublicKeyBase64() + "\n");
  auto server = Start(true, {"--fleet-keys", keys});
  const int port = server->port();
  const json before = FleetReport("0001", "001", {}, "nothing");
  const json after = FleetReport("0001", "001", {}, "installed");
  ASSERT_EQ(SendReport(port, Signed(before, key, 1)).first, 200);
  ASSERT_EQ(SendReport(port, Signed(after, renewed, 1)).first, 200);
  EXPECT_EQ(RegisterOf(port, "0001")["outcome"], "nothing");
  const std::string page = GetFleet(port, "/fleet?token=" + std::string(kToken)).second;
  EXPECT_NE(page.find(renewed.PublicKeyBase64() + "</span>"), std::string::npos) << page;
  std::smatch form;
  ASSERT_TRUE(std::regex_search(page, form, std::regex("name=\"form_token\" value=\"([^\"]+)\"")));

  httplib::Client client("127.0.0.1", port);
  const std::string action = "/fleet/keys?token=" + std::string(kToken);
  const std::string which = "filial=0001&caixa=001";
  const char* const type = "application/x-www-form-urlencoded";
  const std::vector<std::tuple<std::string, std::string, int>> posts = {
      {"/fleet/keys", which + "&form_token=" + form[1].str(), 403},
      {action, which, 403},
      {action, which + "&form_token=1." + std::string(64, '0'), 403},
      {action, "form_token=" + form[1].str(), 400},
      {action, which + "&form_token=" + form[1].str(), 303}};
  for (const auto& [path, body, status] : posts) {
    const auto answer = client.Post(path, body, type);
    ASSERT_TRUE(answer) << path << " " << body;
    EXPECT_EQ(answer->status, status) << path << " " << body;
  }
  EXPECT_EQ(SendReport(port, Signed(after, renewed, 1)).first, 200);
  EXPECT_EQ(RegisterOf(port, "0001")["outcome"], "nothing") << "signed before it was accepted";
  ASSERT_EQ(SendReport(port, Signed(after, renewed, 2)).first, 200);
  EXPECT_EQ(RegisterOf(port, "0001")["outcome"], "installed");
  EXPECT_EQ(RegisterOf(port, "0001")["verified"], true);

  const json pinned = FleetReport("0002", "001", {});
  ASSERT_EQ(SendReport(port, Signed(pinned, key, 1)).first, 200);
  EXPECT_EQ(RegisterOf(port, "0002")["verified"], false) << "not the key given";
  ASSERT_EQ(SendReport(port, Signed(pinned, given, 1)).first, 200);
  EXPECT_EQ(RegisterOf(port, "0002")["verified"], true);
  // With the token in the header, no form token is needed.
  const auto all = client.Post("/fleet/keys", {{"Authorization", "Bearer " + std::string(kToken)}},
                               "all=1", type);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->status, 200);
  EXPECT_EQ(Rows("SELECT COUNT(*) AS n FROM fleet_key WHERE accepted = 0"), 0);
}

TEST_F(FleetTest, BoundsTheFleetAndTheReportsOfEachRegister) {
  auto server = Start(true, {"--max-registers", "2", "--report-interval", "60"});
  const int port = server->port();
  const auto key = sign::SigningKey::Generate();
  const json report = FleetReport("0001", "001", {});
  // An unsigned report in the register's name does not use up its own report's minute.
  EXPECT_EQ(SendReport(port, report.dump()).first, 200);
  EXPECT_EQ(SendReport(port, Signed(report, key, 1)).first, 200);
  EXPECT_EQ(SendReport(port, Signed(report, key, 2)).first, 429) << "a minute apart";
  EXPECT_EQ(SendReport(port, report.dump()).first, 429);
  EXPECT_EQ(SendHealth(port, FleetHealth("0001", "001", "JovTab.exe", 6).dump()).first, 200)
      << "events are not held to a minute";
  EXPECT_EQ(SendReport(port, FleetReport("0001", "002", {}).dump()).first, 200);
  const auto past = SendReport(port, FleetReport("0001", "003", {}).dump());
  EXPECT_EQ(past.first, 429);
  EXPECT_NE(past.second.find("--max-registers"), std::string::npos) << past.second;
  EXPECT_EQ(Registers(port).size(), 2u);
}

// A page holds at most 200 registers; the branch filter and the pages are the server's.
TEST_F(FleetTest, ShowsTheFleetAPageAtATime) {
  auto server = Start();
  const int port = server->port();
  for (int i = 0; i < 201; ++i) {
    char caixa[8];
    std::snprintf(caixa, sizeof caixa, "%03d", i);
    ASSERT_EQ(SendReport(port, FleetReport("0001", caixa, {}).dump()).first, 200) << i;
  }
  ASSERT_EQ(SendReport(port, FleetReport("0002", "001", {}).dump()).first, 200);
  struct Case {
    std::string query;
    std::size_t rows;
    int page, pages, matching;
  };
  for (const Case& c : std::vector<Case>{{"", 200, 1, 2, 202},
                                         {"?page=2", 2, 2, 2, 202},
                                         {"?page=9", 2, 2, 2, 202},  // past the end: the last
                                         {"?branch=0002", 1, 1, 1, 1},
                                         {"?branch=0003", 0, 1, 1, 0},
                                         {"?pending=1", 0, 1, 1, 0}}) {
    const auto [status, body] = GetFleet(port, "/fleet.json" + c.query, kToken);
    ASSERT_EQ(status, 200) << c.query;
    const json page = json::parse(body);
    EXPECT_EQ(page["registers"].size(), c.rows) << c.query;
    EXPECT_EQ(page["page"], c.page) << c.query;
    EXPECT_EQ(page["pages"], c.pages) << c.query;
    EXPECT_EQ(page["matching"], c.matching) << c.query;
    EXPECT_EQ(page["total"], 202) << c.query;
  }
  const std::string html = GetFleet(port, "/fleet?page=2&token=" + std::string(kToken)).second;
  EXPECT_NE(html.find("Página 2 de 2"), std::string::npos);
  EXPECT_NE(html.find("<a href=\"/fleet?token=s3cret-token-0123&amp;page=1\">"), std::string::npos)
      << "the way back keeps the token that came in the address";
}

// The page runs only the script it made (a new nonce each time) and no one may frame it.
TEST_F(FleetTest, ThePageRunsOnlyItsOwnScriptAndIsNeverFramed) {
  auto server = Start();
  httplib::Client client("127.0.0.1", server->port());
  std::set<std::string> nonces;
  for (int i = 0; i < 2; ++i) {
    const auto page = client.Get("/fleet", {{"Authorization", "Bearer " + std::string(kToken)}});
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200);
    const std::string policy = page->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;
    EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY");
    std::smatch nonce;
    ASSERT_TRUE(std::regex_search(policy, nonce, std::regex("script-src 'nonce-([^']+)'(;|$)")))
        << "no other script source: " << policy;
    EXPECT_NE(page->body.find("<script nonce=\"" + nonce[1].str() + "\">"), std::string::npos);
    EXPECT_EQ(page->body.find("<script>"), std::string::npos);
    nonces.insert(nonce[1].str());
  }
  EXPECT_EQ(nonces.size(), 2u);
}

TEST_F(FleetTest, KeepsTheLastReportOfEachRegisterAndItsLastHundred) {
  auto server = Start();
  const auto key = sign::SigningKey::Generate();
  for (int i = 0; i < 105; ++i) {
    const json report =
        FleetReport("0001", "001", {{"JovTab.exe", "20261201000000"}}, i % 2 ? "failed" : "nothing",
                    i % 2 ? "falhou " + std::to_string(i) : "");
    ASSERT_EQ(SendReport(server->port(), Signed(report, key, i + 1)).first, 200) << i;
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
  // A restart finds the fleet as it was, and a fleet kept before the programs' table was gets
  // it from its reports.
  server.reset();
  Sql("DELETE FROM fleet_files");
  server = Start();
  EXPECT_EQ(Registers(server->port()).size(), 2u);
  EXPECT_NE(GetFleet(server->port(), "/fleet", kToken)
                .second.find("2 caixas, 2 na versão mais nova de todos os programas"),
            std::string::npos);
  Sql("UPDATE fleet_files SET files = 'JOVTAB.EXE=20261130000000\n' WHERE filial = '0001'");
  EXPECT_NE(GetFleet(server->port(), "/fleet", kToken)
                .second.find("2 caixas, 1 na versão mais nova de todos os programas"),
            std::string::npos)
      << "the count is the programs' table's";
}

TEST_F(FleetTest, ShowsTheFleetOnlyWithTheToken) {
  auto server = Start();
  const int port = server->port();
  const std::vector<std::tuple<std::string, std::string, int>> requests = {
      {"/fleet", "", 403},
      {"/fleet.json", "", 403},
      {"/fleet", "wrong-token", 403},
      {"/fleet.json", "s3cret-token-0123X", 403},
      {"/fleet?token=s3cret-token-012", "", 403},
      {"/fleet", kToken, 200},
      {"/fleet.json", kToken, 200},
      {"/fleet?token=s3cret-token-0123", "", 200},
      {"/fleet.json?token=s3cret-token-0123", "", 200}};
  for (const auto& [path, token, status] : requests) {
    EXPECT_EQ(GetFleet(port, path, token).first, status) << path << " " << token;
  }
  // Ten wrong tokens a minute from one address, and the address is refused even the right one.
  for (int i = 3; i < 10; ++i) EXPECT_EQ(GetFleet(port, "/fleet", "guess").first, 403) << i;
  EXPECT_EQ(GetFleet(port, "/fleet", kToken).first, 429);
  EXPECT_EQ(SendReport(port, FleetReport("0001", "001", {}).dump()).first, 200)
      << "reports are not held up";
  server.reset();
  server = Start(false);
  EXPECT_EQ(GetFleet(server->port(), "/fleet", kToken).first, 403) << "no token file: nobody";
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
                  {"files", {{"JovTab.exe", "20261130235959"}}},
                  {"verified", false},
                  {"health", json::array()}}));

  const auto [status, page] = GetFleet(port, "/fleet", kToken);
  ASSERT_EQ(status, 200);
  EXPECT_NE(page.find("4 caixas, 2 na versão mais nova de todos os programas, 1 com falha nas "
                      "últimas 24 horas, 1 sem contato há 3 dias"),
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
