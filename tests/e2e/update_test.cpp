// Program updates as a register meets them: a newer "JovTab.exe" on the server, the question
// answered both ways, a signed update, a rollout whose candidate crashes and is undone, and a
// server that accepts connections but never answers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "platform/cp1252.h"
#include "tests/e2e/real_window.h"
#include "tests/server/fleet_support.h"

namespace jov::testing {
namespace {

namespace fs = std::filesystem;

// The newer "JovTab.exe": a script that logs its call as "new JovTab.exe [args]".
const std::string kNewJovTab =
    "#!/bin/sh\nprintf '2000-01-01 00:00:00 new JovTab.exe [%s]\\n' \"$*\" >> "
    "\"$JOV_STANDIN_LOG\"\n";

// Puts JovTab.exe.zip, holding kNewJovTab, in the server's folder; the local copy is older.
void OfferNewJovTab(TestRegister& caixa) {
  const std::string made = caixa.Write("make/JovTab.exe", kNewJovTab);
  fs::permissions(made, fs::perms::owner_all);
  Process zip({"/usr/bin/zip", "-q", "-j", caixa.updates() + "/JovTab.exe.zip", made}, {},
              caixa.root() + "/zip.err");
  ASSERT_EQ(zip.Wait(10s), std::optional<int>(0));
  fs::last_write_time(caixa.program() + "/JovTab.exe",
                      fs::file_time_type::clock::now() - std::chrono::hours(48));
}

class UpdateTest : public RealWindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UpdateTest, TheOperatorIsAskedAndTheAnswerDecides) {
  const bool yes = GetParam();
  RegisterOptions options;
  options.server_args = {"--ask"};
  TestRegister caixa(options);
  OfferNewJovTab(caixa);
  const std::string old_jovtab = TempDir::Read(caixa.program() + "/JovTab.exe");
  XDisplay display(caixa.root());
  ASSERT_TRUE(display.up());
  auto launcher = caixa.Launch(display.name());

  ASSERT_TRUE(Answer(display, yes ? "Return" : "Escape", 60s)) << "the update question";
  ASSERT_TRUE(Answer(display, "Return")) << "the table-update notice";
  ASSERT_FALSE(WaitForWindow(display, "frmEscolheSistema").empty());
  const std::string log = caixa.UpdateLog();
  const std::string jovtab = TempDir::Read(caixa.program() + "/JovTab.exe");
  if (yes) {
    EXPECT_TRUE(jovtab == kNewJovTab) << "JovTab.exe was not replaced";
    EXPECT_NE(
        log.find("Download realizado com sucesso do arquivo " + caixa.program() + "/JovTab.exe"),
        std::string::npos)
        << log;
    EXPECT_TRUE(
        WaitUntil([&] { return Called(caixa, "new JovTab.exe [TABELAS_0001_001_NATU_]"); }, 20s));
  } else {
    EXPECT_TRUE(jovtab == old_jovtab) << "JovTab.exe was changed";
    EXPECT_EQ(log.find("GetExeFile("), std::string::npos) << log;
  }
  kill(launcher->pid(), SIGTERM);
  EXPECT_EQ(launcher->Wait(30s), std::optional<int>(0));
}

INSTANTIATE_TEST_SUITE_P(Answers, UpdateTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Yes" : "No"; });

// The chain's key, made with jov-sign in dir; returns the "PublicKey=..." line.
std::string MakeChainKey(const std::string& dir) {
  Process keygen({JOV_BIN_DIR "/jov-sign", "keygen", dir + "/chain-key.pem"}, {},
                 dir + "/keygen.err");
  const auto line = keygen.FirstLine(10s);
  keygen.Wait(10s);
  return line.value_or("");
}

TEST_F(RealWindowTest, ASignedUpdateInstallsAndOneChangedByteIsRefused) {
  TempDir keys;
  const std::string public_key = MakeChainKey(keys.path());
  ASSERT_EQ(public_key.rfind("PublicKey=", 0), 0u) << public_key;
  for (const bool tampered : {false, true}) {
    RegisterOptions options;
    options.ini_extra = "[Update]\n" + public_key + "\n";
    // Signed by the server as it serves, or signed beforehand beside the archive.
    if (!tampered) options.server_args = {"--signing-key", keys.path() + "/chain-key.pem"};
    TestRegister caixa(options);
    OfferNewJovTab(caixa);
    const std::string archive = caixa.updates() + "/JovTab.exe.zip";
    if (tampered) {
      Process sign({JOV_BIN_DIR "/jov-sign", "sign", keys.path() + "/chain-key.pem", archive}, {},
                   caixa.root() + "/sign.err");
      ASSERT_EQ(sign.Wait(10s), std::optional<int>(0));
      std::string bytes = TempDir::Read(archive);
      bytes[bytes.size() / 2] ^= 0x01;
      caixa.Write("updates/JovTab.exe.zip", bytes);
    }
    const std::string old_jovtab = TempDir::Read(caixa.program() + "/JovTab.exe");
    XDisplay display(caixa.root());
    ASSERT_TRUE(display.up());
    auto launcher = caixa.Launch(display.name());
    ASSERT_TRUE(Answer(display, "Return", 60s)) << "the table-update notice";
    ASSERT_FALSE(WaitForWindow(display, "frmEscolheSistema").empty());
    const std::string log = caixa.UpdateLog();
    const std::string jovtab = TempDir::Read(caixa.program() + "/JovTab.exe");
    if (tampered) {
      EXPECT_TRUE(jovtab == old_jovtab) << "a tampered archive was installed";
      const std::string failed =
          " ----         : Falha no download do arquivo " + caixa.program() + "/JovTab.exe\r\n";
      const std::size_t at = log.find(failed);
      ASSERT_NE(at, std::string::npos) << log;
      EXPECT_NE(log.find(" ----         : ", at + failed.size()), std::string::npos) << log;
    } else {
      EXPECT_TRUE(jovtab == kNewJovTab) << log;
    }
    kill(launcher->pid(), SIGTERM);
    EXPECT_EQ(launcher->Wait(30s), std::optional<int>(0));
  }
}

// A build of JovTab.exe zipped into folder/JovTab.exe.zip, signed by key as release version,
// its archive stamped hours_ago; returns the program's bytes.
std::string SignedBuild(const TempDir& dir, const std::string& folder, const std::string& program,
                        const std::string& key, int version, int hours_ago) {
  const std::string made = dir.Write("make" + std::to_string(version) + "/JovTab.exe", program);
  fs::permissions(made, fs::perms::owner_all);
  fs::create_directories(folder);
  const std::string archive = folder + "/JovTab.exe.zip";
  Process zip({"/usr/bin/zip", "-q", "-j", archive, made}, {}, dir.path() + "/zip.err");
  EXPECT_EQ(zip.Wait(10s), std::optional<int>(0));
  Process sign(
      {JOV_BIN_DIR "/jov-sign", "sign", key, "--version", std::to_string(version), archive}, {},
      dir.path() + "/sign.err");
  EXPECT_EQ(sign.Wait(10s), std::optional<int>(0)) << TempDir::Read(dir.path() + "/sign.err");
  fs::last_write_time(archive, fs::file_time_type::clock::now() - std::chrono::hours(hours_ago));
  return program;
}

// A chain's server with a rollout of a JovTab.exe that crashes at once, two registers of
// different branches and waves, both checking the chain's signatures.
TEST_F(RealWindowTest, ACrashingCandidateHaltsItsRolloutAndUndoBringsThePreviousBuildBack) {
  TempDir chain;
  const std::string public_key = MakeChainKey(chain.path());
  ASSERT_EQ(public_key.rfind("PublicKey=", 0), 0u) << public_key;
  const std::string key = chain.path() + "/chain-key.pem";
  const std::string updates = chain.path() + "/updates";
  const std::string released =
      SignedBuild(chain, updates,
                  "#!/bin/sh\nprintf '2000-01-01 00:00:00 released JovTab.exe [%s]\\n' \"$*\" >> "
                  "\"$JOV_STANDIN_LOG\"\n",
                  key, 1, 24);
  const std::string candidate =
      SignedBuild(chain, updates + "/candidatos", "#!/bin/sh\nkill -SEGV $$\n", key, 2, 12);
  const std::string token = "rollout-token-0123456789";
  fs::permissions(chain.Write("token", token), fs::perms::owner_read | fs::perms::owner_write);
  AppServer server({"--updates", updates, "--fleet-db", chain.path() + "/fleet.db", "--fleet-token",
                    chain.path() + "/token", "--signing-key", key, "--report-interval", "0"},
                   chain.path() + "/appserver.log");
  ASSERT_NE(server.port(), 0) << TempDir::Read(chain.path() + "/appserver.log");
  const auto rollout = [&] {
    const auto [status, body] = GetFleet(server.port(), "/fleet/rollouts.json", token);
    const nlohmann::json list = status == 200 ? nlohmann::json::parse(body)["rollouts"] : nullptr;
    return list.is_array() && list.size() == 1 ? list[0] : nlohmann::json::object();
  };
  // No soak: the first wave is complete once its one register installed the candidate.
  ASSERT_EQ(PostFleet(server.port(), "/fleet/rollouts",
                      R"({"file": "JovTab.exe", "waves": ["0002", "100%"], "halt_at": 0.05,)"
                      R"( "soak_minutes": 0})",
                      token)
                .first,
            200);

  // One start of the register: answers the table-update notice once wait holds, and returns
  // its JovTab.exe once the launcher's screen is up.
  const auto start = [&](TestRegister& caixa, const std::function<bool()>& wait) {
    XDisplay display(caixa.root());
    EXPECT_TRUE(display.up());
    auto launcher = caixa.Launch(display.name());
    EXPECT_TRUE(WaitUntil(wait, 60s)) << TempDir::Read(chain.path() + "/appserver.log");
    EXPECT_TRUE(Answer(display, "Return", 60s)) << "the table-update notice";
    EXPECT_FALSE(WaitForWindow(display, "frmEscolheSistema").empty());
    const std::string jovtab = TempDir::Read(caixa.program() + "/JovTab.exe");
    kill(launcher->pid(), SIGTERM);
    EXPECT_EQ(launcher->Wait(30s), std::optional<int>(0));
    return jovtab;
  };
  const auto make_register = [&](const std::string& filial) {
    RegisterOptions options;
    options.filial = filial;
    options.server = false;
    options.ini_extra = "[Update]\n" + public_key + "\n";
    auto caixa = std::make_unique<TestRegister>(options);
    caixa->PointAt("127.0.0.1", server.port());
    fs::last_write_time(caixa->program() + "/JovTab.exe",
                        fs::file_time_type::clock::now() - std::chrono::hours(48));
    return caixa;
  };
  auto first = make_register("0002");
  auto second = make_register("0001");

  // The first wave's register installs the candidate; its report moves the rollout to the
  // second wave before the candidate runs. Then it crashes, and the rollout halts by itself.
  EXPECT_TRUE(start(*first, [&] { return rollout().value("installed", 0) == 1; }) == candidate);
  EXPECT_TRUE(WaitUntil([&] { return rollout().value("state", "") == "halted"; }, 30s))
      << rollout().dump();
  EXPECT_EQ(rollout().value("wave", -1), 1) << "the second wave was reached";
  EXPECT_NE(rollout().dump().find("0002/001: JovTab.exe terminou pelo sinal 11"), std::string::npos)
      << rollout().dump();

  // The second wave's register gets the released build, not the halted candidate.
  EXPECT_TRUE(start(*second, [] { return true; }) == released) << second->UpdateLog();

  // Undone: the crashed register takes the released build back as release 3.
  const auto undone = PostFleet(server.port(), "/fleet/rollouts/JovTab.exe/undo", "", token);
  ASSERT_EQ(undone.first, 200) << undone.second;
  EXPECT_TRUE(start(*first, [] { return true; }) == released) << first->UpdateLog();
  EXPECT_EQ(nlohmann::json::parse(TempDir::Read(first->program() + "/Dados/Jov_Bpl/versoes.json"),
                                  nullptr, false),
            nlohmann::json({{"JovTab.exe", 3}}));
}

// A listening socket that never accepts: connections complete and requests go unanswered.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd_, 64) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentServer() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(RealWindowTest, AServerThatNeverAnswersDelaysTheStartOnceAndNotForEachCall) {
  RegisterOptions options;
  options.server = false;
  TestRegister caixa(options);
  OfferNewJovTab(caixa);
  SilentServer silent;
  ASSERT_NE(silent.port(), 0);
  caixa.PointAt("127.0.0.1", silent.port());
  XDisplay display(caixa.root());
  ASSERT_TRUE(display.up());
  const auto start = std::chrono::steady_clock::now();
  auto launcher = caixa.Launch(display.name());

  // The start-up talks to the server a dozen times; a stall must cost one time limit, not one
  // per call: the screen is up within 40 s (plus the test's own margin for a loaded machine).
  ASSERT_TRUE(Answer(display, "Return", 60s)) << "the table-update notice";
  EXPECT_LT(std::chrono::steady_clock::now() - start, 50s);
  ASSERT_FALSE(WaitForWindow(display, "frmEscolheSistema").empty());
  EXPECT_FALSE(TempDir::Read(caixa.program() + "/JovTab.exe") == kNewJovTab);
  kill(launcher->pid(), SIGTERM);
  EXPECT_EQ(launcher->Wait(30s), std::optional<int>(0));
}

}  // namespace
}  // namespace jov::testing
