// Rollouts in one process on an SQLite fleet database and a clock of the test's: which
// registers the waves reach, when a rollout halts, moves on and ends, how it is undone, and
// the operator's requests it refuses.
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>

#include "clientlib/archive_signature.h"
#include "protocol/release.h"
#include "server/fleet/form_token.h"
#include "server/handlers/app_server.h"
#include "server/rollout/rollout_api.h"
#include "server/rollout/rollout_panel.h"
#include "server/rollout/rollouts.h"
#include "server/rollout/waves.h"
#include "server/sign/signing.h"
#include "tests/signature/signature_support.h"
#include "tests/support/temp_dir.h"

namespace appserver::rollout {
namespace {

using jov::testing::TempDir;

constexpr std::int64_t kStart = 1796083200;  // 2026-12-01 00:00:00 UTC
constexpr std::int64_t kMinute = 60;

TEST(WaveTest, RegistersInWaves) {
  // Points (first 8 hex digits of SHA-256("FILIAL/CAIXA") mod 100): 0007/001 47,
  // 0001/001 36, 0001/002 87, 0003/001 11.
  struct Case {
    const char* filial;
    const char* caixa;
    const char* wave;
    bool in;
  };
  const Case cases[] = {
      {"0007", "001", "0007", true},   {"0007", "001", "0001,0007", true},
      {"0007", "001", "00070", false}, {"0001", "001", "0007", false},
      {"0001", "001", "37%", true},    {"0001", "001", "36%", false},
      {"0001", "002", "100%", true},   {"0001", "002", "87%", false},
      {"0001", "002", "88%", true},    {"0003", "001", "0%", false},
      {"0003", "001", "12%", true},    {"0003", "001", "101%", false},
      {"0003", "001", "%", false},     {"0003", "001", "10.5%", false},
      {"0003", "001", "", false},      {"0007", "001", "0007,", false},
      {"0007", "001", "00 07", false}, {"0007", "001", "0007;0001", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InWave(c.wave, c.filial, c.caixa), c.in)
        << c.filial << "/" << c.caixa << " " << c.wave;
  }
  EXPECT_EQ(SharePoint("0001", "001"), 36);
  EXPECT_FALSE(ValidWave("101%"));
  EXPECT_FALSE(ValidWave("0007,"));
  EXPECT_TRUE(ValidWave("0%"));

  // Cumulative: a register is reached by the first wave that holds it and every later one.
  const std::vector<std::string> waves = {"0007", "10%", "50%"};
  EXPECT_TRUE(Reached(waves, 0, "0007", "001"));
  EXPECT_TRUE(Reached(waves, 2, "0007", "001")) << "47 is not below 10 nor 50: the branch wave";
  EXPECT_FALSE(Reached(waves, 1, "0003", "001"));
  EXPECT_TRUE(Reached(waves, 2, "0003", "001"));
  EXPECT_TRUE(Reached(waves, 2, "0001", "001"));
  EXPECT_FALSE(Reached(waves, 2, "0001", "002"));
}

class RolloutTest : public ::testing::Test {
 protected:
  std::unique_ptr<Rollouts> Open(std::shared_ptr<const jov::sign::SigningKey> key = nullptr) {
    Settings settings;
    settings.connection_string = "Provider=QSQLITE;Data Source=" + dir.path() + "/fleet.db";
    settings.updates = updates;
    settings.key = std::move(key);
    settings.now = [this] { return now.load(); };
    settings.log = [this](const std::string& line) {
      const std::lock_guard<std::mutex> lock(mutex);
      log += line + "\n";
    };
    settings.tick = std::chrono::hours(1);  // the test ticks
    return std::make_unique<Rollouts>(std::move(settings));
  }

  // A candidate archive of release version in the candidates folder.
  void Candidate(std::int64_t version, const std::string& bytes = "candidate build") {
    const std::string archive = dir.Write("updates/candidatos/JovTab.exe.zip", bytes);
    jov::protocol::Release release;
    release.file = "JovTab.exe";
    release.version = version;
    release.size = static_cast<std::int64_t>(bytes.size());
    release.sha256 = jov::sign::Sha256Hex(bytes);
    release.expires = kStart + 30 * 24 * 3600;
    dir.Write("updates/candidatos/JovTab.exe.zip.release", jov::protocol::WriteRelease(release));
    dir.Write("updates/candidatos/JovTab.exe.zip.sig", "candidate signature\n");
  }

  Answer Begin(const std::vector<std::string>& waves, double halt_at, int soak) {
    return rollouts->Start({"JovTab.exe", waves, halt_at, soak});
  }

  // A report of a start that changed nothing.
  static jov::protocol::Report Seen(const std::string& filial, const std::string& caixa) {
    jov::protocol::Report report;
    report.filial = filial;
    report.caixa = caixa;
    return report;
  }
  static jov::protocol::Report Installed(const std::string& filial, const std::string& caixa,
                                         std::int64_t version) {
    jov::protocol::Report report = Seen(filial, caixa);
    report.outcome = jov::protocol::Outcome::kInstalled;
    report.files.push_back({"JovTab.exe", "20261201000000", 10, std::string(64, 'a'), version});
    return report;
  }
  static jov::protocol::Report Failed(const std::string& filial, const std::string& caixa,
                                      const std::string& file, const std::string& reason) {
    jov::protocol::Report report = Seen(filial, caixa);
    report.outcome = jov::protocol::Outcome::kFailed;
    report.failure = jov::protocol::ReportedFailure{file, reason};
    return report;
  }
  static jov::protocol::HealthEvent Crash(const std::string& filial, const std::string& caixa,
                                          std::int64_t version) {
    jov::protocol::HealthEvent event;
    event.filial = filial;
    event.caixa = caixa;
    event.name = "JovTab.exe";
    event.version = version;
    event.signal = 11;
    event.seconds = 3;
    return event;
  }

  Rollout Only() {
    const auto list = rollouts->List();
    EXPECT_TRUE(list && list->size() == 1u);
    return list && !list->empty() ? list->front() : Rollout{};
  }

  std::string Log() {
    const std::lock_guard<std::mutex> lock(mutex);
    return log;
  }

  TempDir dir;
  std::string updates = dir.path() + "/updates";
  std::atomic<std::int64_t> now{kStart};
  std::mutex mutex;
  std::string log;
  std::unique_ptr<Rollouts> rollouts =
      (dir.Write("updates/JovTab.exe.zip", "released build"), Open());
};

TEST_F(RolloutTest, HaltsOnceVerifiedFailuresPassHaltAt) {
  Candidate(7);
  ASSERT_EQ(Begin({"100%"}, 0.25, 60).status, 200);
  for (const char* caixa : {"001", "002", "003"})
    rollouts->Observe(Installed("0001", caixa, 7), true);
  rollouts->Observe(Failed("0001", "004", "JovTab.exe.zip", "o arquivo veio incompleto"), true);
  // Not counted: unverified, of another file, at another version, of another version installed.
  rollouts->Observe(Failed("0001", "005", "JovTab.exe", "forjado"), false);
  rollouts->Observe(Crash("0001", "005", 7), false);
  rollouts->Observe(Failed("0001", "006", "JovBpl.exe", "outro arquivo"), true);
  rollouts->Observe(Crash("0001", "006", 6), true);
  rollouts->Observe(Installed("0001", "007", 6), true);
  Rollout r = Only();
  EXPECT_EQ(r.state, "running") << "1 of 4 is not past 0.25";
  EXPECT_EQ(r.installed, 3);
  EXPECT_EQ(r.failed, 1);
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0001", "001"), Offer::kCandidate);

  now += kMinute;
  rollouts->Observe(Crash("0001", "002", 7), true);  // a crash outweighs the install before it
  r = Only();
  EXPECT_EQ(r.state, "halted") << "2 of 4";
  EXPECT_EQ(r.installed, 2);
  EXPECT_EQ(r.failed, 2);
  ASSERT_EQ(r.reasons.size(), 2u);
  EXPECT_EQ(r.reasons[0], "0001/002: JovTab.exe terminou pelo sinal 11 após 3 s") << "newest first";
  EXPECT_EQ(r.reasons[1], "0001/004: o arquivo veio incompleto");
  EXPECT_NE(Log().find("rollout JovTab.exe 7: halted: 2 of 4 failed"), std::string::npos) << Log();
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0001", "001"), Offer::kReleased)
      << "a halted rollout hands the candidate out no more";

  // A later install does not undo the crash, and a halted rollout stays where it is.
  rollouts->Observe(Installed("0001", "002", 7), true);
  now += 120 * kMinute;  // past the soak
  rollouts->Tick();
  EXPECT_EQ(Only().failed, 2);
  EXPECT_EQ(Only().wave, 0);
  EXPECT_EQ(Only().state, "halted");

  // Resumed, the failures before count no more (their reasons stay); a new one halts it again.
  ASSERT_EQ(rollouts->Act("JovTab.exe", Action::kResume).status, 200);
  rollouts->Tick();
  r = Only();
  EXPECT_EQ(r.state, "running");
  EXPECT_EQ(r.failed, 0);
  EXPECT_EQ(r.reasons.size(), 2u);
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0001", "001"), Offer::kCandidate);
  rollouts->Observe(Crash("0001", "003", 7), true);
  EXPECT_EQ(Only().state, "halted") << "1 of 2";
}

TEST_F(RolloutTest, MovesOnAfterTheSoakAndReleasesTheCandidateAfterTheLastWave) {
  Candidate(7);
  // Seen long ago: a register gone for more than 7 days does not hold a wave back.
  now = kStart - 8 * 24 * 60 * kMinute;
  rollouts->Observe(Seen("0007", "009"), true);
  now = kStart;
  ASSERT_EQ(Begin({"0007", "100%"}, 0.5, 60).status, 200);
  rollouts->Observe(Seen("0001", "001"), true);
  rollouts->Observe(Installed("0007", "001", 7), true);
  now = kStart + 30 * kMinute;
  rollouts->Observe(Installed("0007", "002", 7), true);
  now = kStart + 59 * kMinute;
  rollouts->Tick();
  EXPECT_EQ(Only().wave, 0) << "the wave soaks 60 minutes";
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0001", "001"), Offer::kReleased);
  now = kStart + 60 * kMinute;
  rollouts->Tick();
  EXPECT_EQ(Only().wave, 1);
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0001", "001"), Offer::kCandidate);

  // Every register seen lately, 0001/001 included, must install it in the last wave.
  now = kStart + 200 * kMinute;
  rollouts->Tick();
  EXPECT_EQ(Only().state, "running");
  rollouts->Observe(Installed("0001", "001", 7), true);
  const Rollout done = Only();
  EXPECT_EQ(done.state, "done");
  EXPECT_EQ(done.installed, 3);
  EXPECT_EQ(TempDir::Read(updates + "/JovTab.exe.zip"), "candidate build");
  EXPECT_NE(TempDir::Read(updates + "/JovTab.exe.zip.release").find("\"version\":7"),
            std::string::npos);
  EXPECT_EQ(TempDir::Read(updates + "/JovTab.exe.zip.sig"), "candidate signature\n");
  EXPECT_EQ(TempDir::Read(updates + "/anteriores/JovTab.exe.zip"), "released build");
  EXPECT_TRUE(TempDir::Read(updates + "/candidatos/JovTab.exe.zip").empty());
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0007", "001"), Offer::kReleased);
  EXPECT_NE(Log().find("wave 2 of 2 (100%) begins"), std::string::npos) << Log();
  EXPECT_NE(Log().find("done: every register of the wave installed it"), std::string::npos);
}

TEST_F(RolloutTest, UndoOffersThePreviousBuildAsTheNextReleaseSignedByTheServer) {
  // The build to go back to, a real archive of one program file.
  const std::string program = dir.Write("build/JovTab.exe", "the previous program");
  ASSERT_EQ(
      jov::testing::RunProgram({"zip", "-qj", updates + "/JovTab.exe.zip.new", program}, dir.path())
          .code,
      0);
  ASSERT_EQ(
      ::rename((updates + "/JovTab.exe.zip.new").c_str(), (updates + "/JovTab.exe.zip").c_str()),
      0);
  const std::string released = TempDir::Read(updates + "/JovTab.exe.zip");
  Candidate(7);
  ASSERT_EQ(Begin({"0007"}, 0.5, 60).status, 200);
  rollouts->Observe(Installed("0007", "001", 7), true);
  rollouts->Observe(Crash("0007", "003", 7), true);  // 1 of 2 is not past 0.5
  // Halted and resumed: the crash is excused, and that register still runs the candidate.
  ASSERT_EQ(rollouts->Act("JovTab.exe", Action::kHalt).status, 200);
  ASSERT_EQ(rollouts->Act("JovTab.exe", Action::kResume).status, 200);
  const Answer refused = rollouts->Act("JovTab.exe", Action::kUndo);
  EXPECT_EQ(refused.status, 409);
  EXPECT_NE(refused.reason.find("--signing-key"), std::string::npos) << refused.reason;
  EXPECT_EQ(Only().state, "running");

  const auto key = std::make_shared<const jov::sign::SigningKey>(jov::sign::SigningKey::Generate());
  rollouts.reset();
  rollouts = Open(key);
  const Answer undone = rollouts->Act("jovtab.EXE", Action::kUndo);
  ASSERT_EQ(undone.status, 200) << undone.reason;
  EXPECT_EQ(Only().state, "undone");
  const std::string archive = updates + "/desfeitos/JovTab.exe.zip";
  EXPECT_EQ(TempDir::Read(archive), released);
  const auto release = jov::protocol::ReadRelease(TempDir::Read(archive + ".release"));
  ASSERT_TRUE(release.ok()) << release.why;
  EXPECT_EQ(release.value->version, 8);
  EXPECT_EQ(release.value->sha256, jov::sign::Sha256Hex(released));
  ASSERT_TRUE(release.value->program.has_value());
  EXPECT_EQ(release.value->program->sha256, jov::sign::Sha256Hex("the previous program"));
  EXPECT_GT(release.value->expires, kStart);
  EXPECT_NO_THROW(jov::VerifyArchiveSignature(
      archive + ".release", TempDir::Read(archive + ".release.sig"), key->PublicKeyBase64()));
  EXPECT_NO_THROW(jov::VerifyArchiveSignature(archive, TempDir::Read(archive + ".sig"),
                                              key->PublicKeyBase64()));
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0007", "001"), Offer::kUndo);
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0007", "003"), Offer::kUndo)
      << "it crashed running the candidate";
  EXPECT_EQ(rollouts->OfferTo("JovTab.exe", "0007", "002"), Offer::kReleased)
      << "it never installed the candidate";
  EXPECT_NE(Log().find("undone by the operator: release 8 of the previous build offered to the 2 "),
            std::string::npos)
      << Log();
}

TEST_F(RolloutTest, ARestartKeepsTheRollout) {
  Candidate(7);
  ASSERT_EQ(Begin({"0007", "100%"}, 0.1, 5).status, 200);
  rollouts->Observe(Installed("0007", "001", 7), true);
  ASSERT_EQ(rollouts->Act("JovTab.exe", Action::kHalt).status, 200);
  const Rollout before = Only();
  rollouts.reset();
  rollouts = Open();
  const Rollout after = Only();
  EXPECT_EQ(after.state, "halted");
  EXPECT_EQ(after.version, before.version);
  EXPECT_EQ(after.waves, before.waves);
  EXPECT_EQ(after.installed, 1);
  EXPECT_EQ(after.halt_at, 0.1);
  EXPECT_EQ(after.soak_minutes, 5);
  EXPECT_EQ(rollouts->Act("JovTab.exe", Action::kResume).status, 200);
  EXPECT_EQ(Only().state, "running");
}

// The candidate, its source and its files reach the registers of the waves reached only.
TEST_F(RolloutTest, OffersAndServesTheCandidateToTheWavesReachedOnly) {
  Candidate(7);
  ASSERT_EQ(Begin({"0007", "100%"}, 0.1, 5).status, 200);
  Context context;
  context.options.updates = updates;
  context.port = 8211;
  context.options.rollouts = std::shared_ptr<Rollouts>(rollouts.get(), [](Rollouts*) {});
  const auto request = [](const std::string& codes, const std::string& tail) {
    http::Request r;
    r.method = "POST";
    r.tail = tail;
    r.body = R"(["&JovTab.exe"])";
    if (!codes.empty()) r.headers.emplace_back("X-Jov-Register", codes);
    return r;
  };
  struct Case {
    std::string codes;
    bool candidate;
  };
  for (const Case& c :
       {Case{"0007/001", true}, Case{"0001/001", false}, Case{"", false}, Case{"0007", false}}) {
    const std::string reply = ModuleCall(context, request(c.codes, "GetFileVersion")).body;
    EXPECT_EQ(reply.find("/files/candidatos/\\r\\nJovTab.exe.zip=") != std::string::npos,
              c.candidate)
        << c.codes << ": " << reply;
    EXPECT_EQ(reply.find("/files/@") != std::string::npos, !c.candidate)
        << c.codes << ": " << reply;
    const http::Response file = RolloutFile(context, request(c.codes, "JovTab.exe.zip"), false);
    EXPECT_EQ(file.status, c.candidate ? 200 : 404) << c.codes;
    EXPECT_EQ(RolloutFile(context, request(c.codes, "JovTab.exe.zip"), true).status, 404)
        << "nothing is undone";
  }
  EXPECT_EQ(RolloutFile(context, request("0007/001", "../JovTab.exe.zip"), false).status, 404);
}

// The page's forms act with the fleet token in the address and the form token in the form or
// its header, and go back to the page.
TEST_F(RolloutTest, PageFormsActWithTheFormToken) {
  Candidate(7);
  Context context;
  context.options.updates = updates;
  context.options.fleet_token = "s3 cret";
  context.options.rollouts = std::shared_ptr<Rollouts>(rollouts.get(), [](Rollouts*) {});
  const std::string form_token = fleet::IssueFormToken("s3 cret", std::time(nullptr));
  const auto form = [&](const std::string& tail, const std::string& body) {
    http::Request request;
    request.method = "POST";
    request.tail = tail;
    request.query = "token=s3%20cret";
    request.body = body;
    request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
    return request;
  };
  const http::Response started =
      RolloutStart(context, form("",
                                 "file=JovTab.exe&waves=0007+10%25%0D%0A100%25&halt_at=0.05&"
                                 "soak_minutes=1440&form_token=" +
                                     http::PercentEncode(form_token)));
  EXPECT_EQ(started.status, 303) << started.body;
  EXPECT_EQ(started.headers, (http::Headers{{"Content-Type", "text/plain"},
                                            {"Location", "/fleet?token=s3%20cret"}}));
  Rollout r = Only();
  EXPECT_EQ(r.waves, (std::vector<std::string>{"0007", "10%", "100%"}));
  EXPECT_EQ(r.halt_at, 0.05);
  EXPECT_EQ(r.soak_minutes, 1440);

  http::Request halt = form("JovTab.exe/halt", "");
  halt.headers.emplace_back("X-Jov-Form", form_token);
  EXPECT_EQ(RolloutAction(context, halt).status, 303);
  EXPECT_EQ(Only().state, "halted");
  EXPECT_EQ(RolloutStart(context, form("",
                                       "file=JovTab.exe&waves=0007&halt_at=x&soak_minutes=1&"
                                       "form_token=" +
                                           http::PercentEncode(form_token)))
                .status,
            400);
}

// Every request here is refused, and none changes the one running rollout.
TEST_F(RolloutTest, BadRequestsAreRefusedAndChangeNothing) {
  Candidate(7);
  dir.Write("updates/candidatos/JovExp.exe.zip", "no release beside it");
  // A statement of another build beside the archive.
  dir.Write("updates/candidatos/JovBpl.exe.zip", "this build");
  jov::protocol::Release elsewhere;
  elsewhere.file = "JovBpl.exe";
  elsewhere.version = 3;
  elsewhere.size = 10;
  elsewhere.sha256 = jov::sign::Sha256Hex("that build");
  elsewhere.expires = kStart + 24 * 3600;
  dir.Write("updates/candidatos/JovBpl.exe.zip.release", jov::protocol::WriteRelease(elsewhere));
  ASSERT_EQ(Begin({"0007", "100%"}, 0.1, 5).status, 200);
  Context context;
  context.options.updates = updates;
  context.options.fleet_token = "s3cret";
  context.options.rollouts = std::shared_ptr<Rollouts>(rollouts.get(), [](Rollouts*) {});
  const std::string bearer = "Bearer s3cret";
  const std::string good =
      R"({"file": "JovTab.exe", "waves": ["0007", "100%"], "halt_at": 0.1, "soak_minutes": 5})";
  const auto with = [&](const char* key, const char* value) {
    std::string body = good;
    const std::size_t at = body.find(std::string("\"") + key + "\"");
    const std::size_t end = body.find_first_of(",}", body.find(':', at) + (key[0] == 'w' ? 20 : 0));
    return body.substr(0, at) + "\"" + key + "\": " + value + body.substr(end);
  };
  // Form tokens of a day ago, and of another fleet token.
  const std::string stale = fleet::IssueFormToken("s3cret", std::time(nullptr) - 24 * 3600);
  const std::string other = fleet::IssueFormToken("other", std::time(nullptr));
  struct Case {
    std::string tail;  // empty: the start
    std::string body;
    std::string authorization;
    std::string query;
    int status;
  };
  const std::vector<Case> cases = {
      {"", good, "", "", 403},
      {"", good, "Bearer wrong", "", 403},
      {"", good, "", "token=s3cret", 403},  // a page's post without its form token
      {"", "not json", bearer, "", 400},
      {"", "[]", bearer, "", 400},
      {"", with("file", "7"), bearer, "", 400},
      {"", with("file", "\"../JovTab.exe\""), bearer, "", 400},
      {"", with("file", "\"JovTab.exe.zip\""), bearer, "", 400},
      {"", with("halt_at", "\"0.1\""), bearer, "", 400},
      {"", with("halt_at", "1.5"), bearer, "", 400},
      {"", with("soak_minutes", "-1"), bearer, "", 400},
      {"", with("soak_minutes", "1.5"), bearer, "", 400},
      {"", R"({"file": "JovTab.exe", "waves": "100%", "halt_at": 0, "soak_minutes": 0})", bearer,
       "", 400},
      {"", R"({"file": "JovTab.exe", "waves": [], "halt_at": 0, "soak_minutes": 0})", bearer, "",
       400},
      {"", R"({"file": "JovTab.exe", "waves": ["150%"], "halt_at": 0, "soak_minutes": 0})", bearer,
       "", 400},
      {"", R"({"file": "JovTab.exe", "waves": [7], "halt_at": 0, "soak_minutes": 0})", bearer, "",
       400},
      {"", R"({"file": "Nada.exe", "waves": ["1%"], "halt_at": 0, "soak_minutes": 0})", bearer, "",
       404},
      {"", R"({"file": "JovExp.exe", "waves": ["1%"], "halt_at": 0, "soak_minutes": 0})", bearer,
       "", 409},
      {"", R"({"file": "JovBpl.exe", "waves": ["1%"], "halt_at": 0, "soak_minutes": 0})", bearer,
       "", 409},
      {"", good, bearer, "", 409},  // one runs already
      {"JovTab.exe/explode", "", bearer, "", 404},
      {"JovTab.exe", "", bearer, "", 404},
      {"Nada.exe/halt", "", bearer, "", 404},
      {"JovTab.exe/resume", "", bearer, "", 409},
      {"JovTab.exe/undo", "", bearer, "", 409},  // no signing key
      {"JovTab.exe/halt", "", "", "token=s3cret", 403},
      {"JovTab.exe/halt", "form_token=" + stale, "", "token=s3cret", 403},
      {"JovTab.exe/halt", "form_token=" + other, "", "token=s3cret", 403},
  };
  for (const Case& c : cases) {
    http::Request request;
    request.method = "POST";
    request.tail = c.tail;
    request.body = c.body;
    request.query = c.query;
    if (!c.authorization.empty()) request.headers.emplace_back("Authorization", c.authorization);
    if (c.body.rfind("form_token=", 0) == 0) {
      request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
    }
    const http::Response response =
        c.tail.empty() ? RolloutStart(context, request) : RolloutAction(context, request);
    EXPECT_EQ(response.status, c.status) << c.tail << " " << c.body << " -> " << response.body;
    EXPECT_FALSE(response.body.empty()) << "a refusal says why";
  }
  const Rollout r = Only();
  EXPECT_EQ(r.file, "JovTab.exe");
  EXPECT_EQ(r.state, "running");
  EXPECT_EQ(r.wave, 0);
  EXPECT_EQ(r.halt_at, 0.1);
  EXPECT_TRUE(TempDir::Read(updates + "/desfeitos/JovTab.exe.zip").empty());

  http::Request list;
  list.headers.emplace_back("Authorization", bearer);
  const http::Response listed = RolloutList(context, list);
  EXPECT_EQ(listed.status, 200);
  const auto json = nlohmann::json::parse(listed.body);
  EXPECT_EQ(json["rollouts"][0]["state"], "running");
  EXPECT_EQ(json["rollouts"][0]["waves"], nlohmann::json({"0007", "100%"}));
}

}  // namespace
}  // namespace appserver::rollout

namespace appserver::rollout {
namespace {

// What the page shows is escaped, each state offers only the actions it allows, and every
// form carries the token and the form token.
TEST(RolloutPanelTest, EscapesTextsAndOffersTheActionsOfEachState) {
  Rollout running;
  running.file = "JovTab.exe";
  running.version = 7;
  running.state = "running";
  running.waves = {"0007", "100%"};
  running.installed = 3;
  running.failed = 1;
  running.waiting = 4;
  running.reasons = {"0001/002: <script>alert(1)</script> & \"mais\""};
  Rollout halted = running;
  halted.file = "JovExp.exe";
  halted.state = "halted";
  const std::string html =
      RolloutPanelHtml({running, halted}, {"JovTab.exe.zip", "<b>.zip"}, "to&ken", "form\"token");
  EXPECT_EQ(html.find("<script"), std::string::npos) << html;
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;mais&quot;"),
            std::string::npos);
  EXPECT_NE(html.find("<option>&lt;b&gt;</option>"), std::string::npos) << html;
  EXPECT_NE(html.find("width:37%"), std::string::npos) << "3 of 8 installed";
  const auto count = [&](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = html.find(text); at != std::string::npos; at = html.find(text, at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count("/fleet/rollouts/JovTab.exe/halt?token=to%26ken"), 1u);
  EXPECT_EQ(count("/fleet/rollouts/JovTab.exe/advance?"), 1u);
  EXPECT_EQ(count("/fleet/rollouts/JovTab.exe/resume?"), 0u);
  EXPECT_EQ(count("/fleet/rollouts/JovExp.exe/resume?"), 1u);
  EXPECT_EQ(count("/fleet/rollouts/JovExp.exe/halt?"), 0u);
  EXPECT_EQ(count("/undo?"), 2u);
  EXPECT_EQ(count("<form "), count("name=\"form_token\" value=\"form&quot;token\""));
  EXPECT_EQ(count("<form "), 6u) << "three buttons, two buttons and the start form";
}

}  // namespace
}  // namespace appserver::rollout
