// The reachability test: its decision on the outputs of ping in each language, its batch
// file, its failure path, addresses that must never reach a shell, and one real ping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "clientlib/library_services.h"
#include "platform/child_process_linux.h"
#include "platform/cp1252.h"
#include "platform/file_system_linux.h"
#include "platform/host_path_linux.h"
#include "tests/server/launcher_support.h"
#include "tests/support/launcher_fixture.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

const std::string kBatch = "/caixa/TestePing.bat";

class TestePingTest : public LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    fake.console.on_run = [this](const std::string&) {
      const auto it = fake.files.files.find(kBatch);
      batch_when_run = it == fake.files.files.end() ? "<no file>" : it->second;
    };
  }

  // Creates the form, whose creation runs the test; returns its result.
  bool Ping(const std::string& output) {
    fake.console.outputs = {output};
    form = NewForm();
    return Cli_jov00000::boServerAtivo;
  }

  std::vector<std::string> PingLines() { return LinesWith(LogText(), "Ping"); }

  std::unique_ptr<Cli_jov00000::TfrmEscolheSistema> form;
  std::string batch_when_run;
};

struct Case {
  const char* what;
  std::string output;
  bool reachable;
  std::string line;
};

TEST_F(TestePingTest, DecidesOnTheOutputInEachLanguage) {
  const std::string pt =
      "\r\nDisparando srv01 [10.0.0.5] com 32 bytes de dados:\r\n"
      "Resposta de 10.0.0.5: bytes=32 tempo<1ms TTL=128\r\n\r\n"
      "Estatísticas do Ping para 10.0.0.5:\r\n"_w;
  const std::vector<Case> cases = {
      {"Portuguese, one received",
       pt + "    Pacotes: Enviados = 1, Recebidos = 1, Perdidos = 0 (0% de perda),\r\n", true,
       "Ping Server b - True"},
      {"Portuguese in capitals", "PACOTES: ENVIADOS = 1, RECEBIDOS = 1, PERDIDOS = 0", true,
       "Ping Server b - True"},
      {"Portuguese, none received",
       "Esgotado o tempo limite do pedido.\r\n\r\n    Pacotes: Enviados = 1, Recebidos = 0, "
       "Perdidos = 1 (100% de perda),\r\n",
       false, "Ping Server - False"},
      {"English, a comma and more counts after the one",
       "Reply from 10.0.0.5: bytes=32 time<1ms TTL=128\r\n\r\nPing statistics for 10.0.0.5:\r\n"
       "    Packets: Sent = 1, Received = 1, Lost = 0 (0% loss),\r\n",
       true, "Ping Server u - True"},
      {"Spanish", "    Paquetes: enviados = 1, recibidos = 1, perdidos = 0\r\n    (0% perdidos),",
       true, "Ping Server u - True"},
      {"Portuguese fails, English passes", "Recebidos = 0\r\nReceived = 1\r\n", true,
       "Ping Server u - True"},
      {"unreachable, though one reply is counted",
       pt + "Resposta de 10.0.0.1: Host de destino inacessível.\r\n"_w +
           "    Pacotes: Enviados = 1, Recebidos = 1, Perdidos = 0 (0% de perda),\r\n",
       false, "Ping Server - inacessível"_w},
      {"unreachable in English",
       "Reply from 10.0.0.1: Destination host UNREACHABLE.\r\n    Packets: Sent = 1, Received = "
       "1, Lost = 0 (0% loss),\r\n",
       false, "Ping Server - inacessível"_w},
      {"the text after the word is short", "Pacotes: Enviados = 1, Recebidos = ", false,
       "Ping Server - False"},
      {"the text after the word differs", "Recebidos=1, Perdidos=0", false, "Ping Server - False"},
      {"only the first occurrence of the word counts",
       "Pacotes recebidos: veja abaixo\r\nRecebidos = 1\r\n", false, "Ping Server - False"},
      {"none of the languages", "Pakete: Gesendet = 1, Empfangen = 1, Verloren = 0", false,
       "Ping Server - False"},
      {"Linux's own ping", "1 packets transmitted, 1 received, 0% packet loss, time 0ms", false,
       "Ping Server - False"},
      {"a host that cannot be found",
       "A solicitação ping não pôde encontrar o host srv01. Verifique o nome e tente "
       "novamente.\r\n"_w,
       false, "Ping Server - False"},
      {"no output at all", "", false, "Ping Server - False"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetUnit();
    fake.files.files.clear();
    fake.console.command_lines.clear();
    EXPECT_EQ(Ping(c.output), c.reachable);
    EXPECT_EQ(PingLines(), std::vector<std::string>{c.line});
    EXPECT_EQ(fake.console.command_lines, std::vector<std::string>{"\"" + kBatch + "\""});
    EXPECT_EQ(fake.files.files.count(kBatch), 0u) << "the batch file is deleted after the test";
  }
}

TEST_F(TestePingTest, RunsOnePingLineThatTheShellRunsAsWritten) {
  fake.library.web_url = "srv01";
  Ping("Recebidos = 1");
  EXPECT_EQ(batch_when_run, "ping 'srv01' -n 1 -w 1000\n") << "no CR: it would reach ping";
  EXPECT_TRUE(fake.log.Contains("console.GetDosOutput \"" + kBatch + "\" C:"));
  EXPECT_LT(fake.log.IndexOf("files.DeleteFile " + kBatch),
            fake.log.IndexOf("files.AppendToFile " + kBatch))
      << "a stale batch file is deleted before it is written";
}

TEST_F(TestePingTest, AStaleBatchFileThatCannotBeDeletedGetsTheLineAppended) {
  fake.files.AddFile(kBatch, "echo antigo\n");
  fake.files.undeletable.insert(kBatch);
  EXPECT_TRUE(Ping("Received = 1"));
  EXPECT_EQ(batch_when_run, "echo antigo\nping 'srv01' -n 1 -w 1000\n");
}

TEST_F(TestePingTest, SaasInAnyCaseIsReachableWithoutAPing) {
  for (const std::string address : {"cliente.saas.calvora.com", "CLIENTE.SaaS.net", "xSAASx"}) {
    ResetUnit();
    fake.files.files.clear();
    fake.library.web_url = address;
    EXPECT_TRUE(Ping("Recebidos = 0")) << address;
    EXPECT_EQ(PingLines(), std::vector<std::string>{"Ping SAAS - True"});
    EXPECT_TRUE(fake.console.command_lines.empty());
    EXPECT_FALSE(fake.log.Contains("files.AppendToFile " + kBatch));
  }
}

TEST_F(TestePingTest, ATestThatCannotBeMadeCountsAsReachableWithoutALogLine) {
  fake.console.fail = true;
  EXPECT_TRUE(Ping(""));
  EXPECT_TRUE(PingLines().empty());

  ResetUnit();
  fake.console.fail = false;
  fake.console.command_lines.clear();
  fake.files.read_only.insert(kBatch);  // the program folder cannot be written
  EXPECT_TRUE(Ping("Recebidos = 0"));
  EXPECT_TRUE(PingLines().empty());
  EXPECT_TRUE(fake.console.command_lines.empty());
}

TEST_F(TestePingTest, AnAddressNoHostCouldHaveTakesTheFailurePathWithoutWritingOrRunning) {
  for (const std::string address : {"srv01; reboot", "srv01 && rm -rf /", "$(reboot)", "`reboot`",
                                    "srv01|sh", "srv 01", "srv01\nreboot", "srv01\r", "-w",
                                    "-n 99 srv01", "\"srv01\"", "srv01'", "srv01>x", "sérvidor"}) {
    ResetUnit();
    fake.files.files.clear();
    fake.log.calls.clear();
    fake.library.web_url = address;
    EXPECT_TRUE(Ping("Recebidos = 0")) << address;
    EXPECT_TRUE(PingLines().empty()) << address;
    EXPECT_TRUE(fake.console.command_lines.empty()) << address;
    EXPECT_FALSE(fake.log.Contains("files.AppendToFile " + kBatch)) << address;
  }
}

TEST_F(TestePingTest, HostNamesAndAddressesOfEveryFormArePinged) {
  for (const std::string address :
       {"192.168.0.10", "srv-01.loja_3.local", "fe80::1%eth0", "[2001:db8::1]", "SRV01"}) {
    ResetUnit();
    fake.console.command_lines.clear();
    fake.library.web_url = address;
    EXPECT_TRUE(Ping("Recebidos = 1")) << address;
    EXPECT_EQ(batch_when_run, "ping '" + address + "' -n 1 -w 1000\n");
  }
}

// The real file system, the real console capture and the real wincmd ping (bin/ping beside
// this test program is what the capture puts first in PATH).
class RealPingTest : public LauncherTest {
 protected:
  void SetUp() override {
    fake.host.path = dir.path() + "/JOV.EXE";
    LauncherTest::SetUp();
  }

  bool Ping(const std::string& address) {
    fake.library.web_url = address;
    Services services = fake.Wire({.files = &files, .console = &console});
    Cli_jov00000::TfrmEscolheSistema form(services);
    return Cli_jov00000::boServerAtivo;
  }

  std::string Log() { return TempDir::Read(dir.path() + "/Dados/Jov_Bpl/Log_Baixa1226.txt"); }

  // The real capture, keeping what the batch file printed.
  class KeepingConsole : public ConsoleRunnerReal {
   public:
    KeepingConsole() : ConsoleRunnerReal(DirectoryOf(HostPathLinux().ExecutablePath())) {}
    std::string GetDosOutput(const std::string& command_line, const std::string& drive) override {
      output = ConsoleRunnerReal::GetDosOutput(command_line, drive);
      return output;
    }
    std::string output;
  };

  TempDir dir;
  FileSystemLinux files;
  KeepingConsole console;
};

TEST_F(RealPingTest, PingsTheLoopbackWithTheRealTool) {
  EXPECT_TRUE(Ping("127.0.0.1"));
  EXPECT_EQ(LinesWith(Log(), "Ping"), std::vector<std::string>{"Ping Server b - True"}) << Log();
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/TestePing.bat"));
}

TEST_F(RealPingTest, AnIpv6LiteralReachesPingAsWrittenWhateverFilesLieAround) {
  // Unquoted, "[::1]" is a file pattern: /bin/sh would replace it by the names of the files
  // ":" or "1" in its working folder.
  dir.Write(":", "");
  dir.Write("1", "");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const bool reachable = Ping("[::1]");
  std::filesystem::current_path(before);
  EXPECT_NE(console.output.find("Disparando [::1] com"), std::string::npos) << console.output;
  EXPECT_TRUE(reachable) << console.output;
}

// The tool itself: what it prints, in Windows-1252, and its exit code.
ChildResult RunPing(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {JOV_PROGRAM_DIR "/bin/ping"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 20000;
  return RunChild(argv, options);
}

TEST(RealPingTool, PrintsTheWindowsSummaryForTheLoopback) {
  const ChildResult result = RunPing({"127.0.0.1", "-n", "1", "-w", "1000"});
  EXPECT_EQ(result.exit_code, 0);
  const std::regex expected(
      "\r\nDisparando 127\\.0\\.0\\.1 com 32 bytes de dados:\r\n"
      "Resposta de 127\\.0\\.0\\.1: bytes=32 tempo(<1|=[0-9]+)ms TTL=[0-9]+\r\n\r\n"
      "Estatísticas do Ping para 127\\.0\\.0\\.1:\r\n"
      "    Pacotes: Enviados = 1, Recebidos = 1, Perdidos = 0 \\(0% de perda\\),\r\n"
      "Aproximar um número redondo de vezes em milissegundos:\r\n"
      "    Mínimo = [0-9]+ms, Máximo = [0-9]+ms, Média = [0-9]+ms\r\n");
  EXPECT_TRUE(std::regex_match(cp1252::ToUtf8(result.output), expected)) << result.output;
  EXPECT_NE(result.output.find("Estat\xEDsticas"), std::string::npos) << "Windows-1252 bytes";
}

TEST(RealPingTool, AHostThatCannotBeReachedIsReportedUnreachable) {
  // In a network namespace of its own the loopback is down: the request cannot leave, and no
  // packet goes anywhere.
  if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/unshare")) {
    GTEST_SKIP() << "needs root and unshare";
  }
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 20000;
  const ChildResult result = RunChild(
      {"/usr/bin/unshare", "-n", JOV_PROGRAM_DIR "/bin/ping", "127.0.0.1", "-n", "1", "-w", "300"},
      options);
  EXPECT_NE(result.output.find("Host de destino inacess\xEDvel."), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Recebidos = 0"), std::string::npos) << result.output;
}

TEST(RealPingTool, WrongCommandLinesAndUnknownHostsAreNoReply) {
  ChildResult result = RunPing({"127.0.0.1", "-x"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("Opção inválida -x."_w), std::string::npos) << result.output;
  result = RunPing({"-n", "1"});
  EXPECT_EQ(result.exit_code, 1);
  result = RunPing({"nao-existe.invalid", "-n", "1", "-w", "200"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.output,
            "A solicitação ping não pôde encontrar o host nao-existe.invalid. Verifique o nome e "
            "tente novamente.\r\n"_w);
}

TEST(RealPingTool, AnUnprivilegedUserPingsThroughTheDatagramSocket) {
  // A network namespace of the test's own: its loopback and its ping_group_range, so that
  // the machine's settings stay as they are.
  if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/unshare") ||
      !std::filesystem::exists("/usr/sbin/ip") || !std::filesystem::exists("/usr/sbin/runuser")) {
    GTEST_SKIP() << "needs root, unshare, ip and runuser";
  }
  const std::string script =
      "ip link set lo up && echo '0 2147483647' > /proc/sys/net/ipv4/ping_group_range && "
      "exec runuser -u nobody -- \"$0\" 127.0.0.1 -n 1 -w 1000";
  ChildOptions options;
  options.capture_output = true;
  options.timeout_ms = 20000;
  const ChildResult result = RunChild(
      {"/usr/bin/unshare", "-n", "/bin/sh", "-c", script, JOV_PROGRAM_DIR "/bin/ping"}, options);
  if (result.exit_code != 0 && result.output.find("Disparando") == std::string::npos) {
    GTEST_SKIP() << "no network namespace here: " << result.output;
  }
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("Recebidos = 1,"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace jov::testing
