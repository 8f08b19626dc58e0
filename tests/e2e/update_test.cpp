// Program updates as a register meets them: a newer "JovTab.exe" on the server, the question
// answered both ways, and a server that accepts connections but never answers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "platform/cp1252.h"
#include "tests/e2e/real_window.h"

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
