// jov-appserver on a loopback port: the module's calls with the register's own channel, the
// downloads, the request bounds, the log and the command line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "clientlib/consiste.h"
#include "clientlib/http_channel.h"
#include "clientlib/net_connection.h"
#include "clientlib/server_stall.h"
#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/errors.h"
#include "tests/server/scripted_server.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

const std::string kModule = "lum.rdmAtualizaEstrutura";

// A socket connected to 127.0.0.1:port; -1 when the connect fails.
int Connected(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

HttpAppServerChannel::Timeouts Short() { return {1000ms, 300ms}; }

// jov-appserver with an updates folder whose archives have known local times (TZ=BRT3 is
// three hours behind UTC and needs no time-zone files).
class AppServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetServerStall();
    std::filesystem::create_directories(updates);
    Archive("JovTab.exe.zip", "zip-bytes", 1706756399);  // 31/01/2024 23:59:59 local
    Archive("JOVTAB.EXE.ZIP", "upper", 1577847600);      // 01/01/2020 00:00:00 local
    // Files that only begin with an archive's name, and a link: never listed nor served.
    Archive("JOVTAB.EXE.ZIP.old", "old", 1577847600);
    Archive("JovTab.exe.zip.bak", "bak", 1577847600);
    dir.Write("segredo.txt", "secret");
    std::filesystem::create_symlink(dir.path() + "/segredo.txt", updates + "/JovSinc.exe.zip");
    Archive("JovTabela.exe.zip", "other", 1577847600);
    std::filesystem::create_directories(updates + "/JovTab.exe.zip.d");
    Archive(cp1252::FromUtf8("Ação.exe.zip"), "a", 1577847600);
  }

  void Archive(const std::string& name, const std::string& bytes, time_t when) {
    const std::string path = dir.Write("updates/" + name, bytes);
    const timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }

  std::unique_ptr<AppServer> Start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--updates", updates};
    args.insert(args.end(), extra.begin(), extra.end());
    auto server = std::make_unique<AppServer>(args, log, std::vector<std::string>{"TZ=BRT3"});
    EXPECT_NE(server->port(), 0) << TempDir::Read(log);
    return server;
  }

  std::string Call(int port, const std::string& method, const std::string& argument) {
    HttpAppServerChannel channel;
    channel.Open("127.0.0.1", port, kModule);
    return channel.Call(method, {argument});
  }

  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    const std::string text = TempDir::Read(log);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }

  TempDir dir;
  std::string updates = dir.path() + "/updates";
  std::string log = dir.path() + "/appserver.log";
};

TEST_F(AppServerTest, AnswersTheVersionQueryByteForByte) {
  auto server = Start();
  const int port = server->port();
  const std::string source = "http://127.0.0.1:" + std::to_string(port) + "/files/";
  for (const char* name : {"&JovTab.exe", "&jovtab.EXE"}) {
    EXPECT_EQ(Call(port, "GetFileVersion", name),
              source + "\r\nJOVTAB.EXE.ZIP=20200101000000\r\nJovTab.exe.zip=20240131235959\r\n&0")
        << name;
  }
  EXPECT_EQ(Call(port, "GetFileVersion", "&Ação.exe"_w),
            source + "\r\nAção.exe.zip=20200101000000\r\n&0"_w);
  EXPECT_EQ(Call(port, "GetFileVersion", "&JovSinc.exe"), "");
  for (const std::string name : {"&../updates/JovTab.exe", "&/etc/passwd", "&a\\b", "&.."}) {
    const std::string reply = Call(port, "GetFileVersion", name);
    EXPECT_EQ(reply.rfind("EXCEPT ", 0), 0u) << reply;
    EXPECT_THROW(Consiste::CheckResultServ(reply, true, 0), Error);
  }
  EXPECT_EQ(server->process().Stop(5s), 0);
}

TEST_F(AppServerTest, TheQuestionFlagAndTheDownloadSourceFollowTheOptions) {
  auto server = Start({"--ask", "--source-url", "https://arquivos.loja/jov/"});
  EXPECT_EQ(Call(server->port(), "GetFileVersion", "&JovTab.exe"),
            "https://arquivos.loja/jov/\r\nJOVTAB.EXE.ZIP=20200101000000\r\n"
            "JovTab.exe.zip=20240131235959\r\n&1");
}

TEST_F(AppServerTest, AnswersTheHttpSettingsFromThePacketFile) {
  const std::string settings = dir.path() + "/http.xml";
  auto server = Start({"--http-settings", settings});
  Dataset none = ParseDataPacket(Call(server->port(), "GetDadosHttp", ""), "reply");
  EXPECT_EQ(none.fields.size(), 7u);
  EXPECT_TRUE(none.rows.empty()) << "no file: a packet without a row";
  Dataset data;
  data.fields = {{"HTTPHOSADDR", "string", 60}, {"HTTPHTTPS", "i4", 0}};
  data.rows = {{{"HTTPHOSADDR", "servidor-ação"_w}, {"HTTPHTTPS", "1"}}};
  dir.Write("http.xml", WriteDataPacket(data));
  const std::string reply = Call(server->port(), "GetDadosHttp", "0001");
  EXPECT_EQ(reply, WriteDataPacket(data)) << "the file is passed on as it is";
  EXPECT_EQ(ParseDataPacket(Consiste::CheckResultServ(reply, true, 0), "reply").rows, data.rows);
}

TEST_F(AppServerTest, ServesTheArchivesAndNothingOutsideTheirFolder) {
  dir.Write("updates/notas.txt", "secret");
  std::filesystem::create_directories(updates + "/Pasta.exe.zip");
  auto server = Start();
  httplib::Client client("127.0.0.1", server->port());
  auto good = client.Get("/files/JovTab.exe.zip");
  ASSERT_TRUE(good);
  EXPECT_EQ(good->status, 200);
  EXPECT_EQ(good->body, "zip-bytes");
  const std::vector<std::pair<std::string, int>> refused = {{"/files/..%2Fsegredo.txt", 403},
                                                            {"/files/../segredo.txt", 403},
                                                            {"/files/%2E%2E%2Fsegredo.txt", 403},
                                                            {"/files/..", 403},
                                                            {"/files/", 403},
                                                            {"/files/JovTab.exe.zip.d/x", 403},
                                                            {"/files/JovTab.exe.zip.bak", 403},
                                                            {"/files/notas.txt", 403},
                                                            {"/files/JovSinc.exe.zip", 404},
                                                            {"/files/Pasta.exe.zip", 404},
                                                            {"/files/Nada.exe.zip", 404}};
  for (const auto& [path, status] : refused) {
    auto answer = client.Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, status) << path;
    EXPECT_EQ(answer->body.find("secret"), std::string::npos) << path;
  }
  // One range is served; more would make one request cost many answers.
  for (const auto& [range, status] : std::vector<std::pair<std::string, int>>{
           {"bytes=0-2", 206}, {"bytes=0-0,2-2", 416}, {"bytes=0-0,0-0,0-0", 416}}) {
    auto answer = client.Get("/files/JovTab.exe.zip", {{"Range", range}});
    ASSERT_TRUE(answer) << range;
    EXPECT_EQ(answer->status, status) << range;
  }
}

// Each bound of a request head, and the head just within it, on a connection of its own; the
// server goes on serving others meanwhile.
TEST_F(AppServerTest, BoundsEveryRequestHead) {
  auto server = Start();
  const std::string line = "GET /" + kModule + "/ HTTP/1.1\r\n";
  const auto header = [](std::size_t bytes) {  // one header line of this size, CR LF included
    return "X-Pad: " + std::string(bytes - 9, 'p') + "\r\n";
  };
  std::string lines;
  for (int i = 0; i < 98; ++i) lines += "X-" + std::to_string(i) + ": 1\r\n";
  struct Case {
    std::string what;
    std::string head;
    std::string status;
  };
  const std::vector<Case> cases = {
      {"a line of 8192 bytes", line + header(8192) + "\r\n", "200"},
      {"a line of 8193 bytes", line + header(8193) + "\r\n", "431"},
      {"a request line of 8193 bytes", "GET /" + std::string(8177, 'a') + " HTTP/1.1\r\n\r\n",
       "431"},
      {"100 lines", line + lines + "Host: x\r\n\r\n", "200"},
      {"101 lines", line + lines + "Host: x\r\nX-More: 1\r\n\r\n", "431"},
      {"a head not whole in 10 s", line + "Host: x\r\n", "408"}};
  for (const Case& c : cases) {
    const int fd = Connected(server->port());
    ASSERT_GE(fd, 0);
    const auto start = std::chrono::steady_clock::now();
    std::thread sender([&] {
      Send(fd, c.head);
      if (c.status != "408") return;
      // A byte every 2 s: each read is in time, the whole head is not.
      for (int i = 0; i < 7 && Send(fd, "X"); ++i) std::this_thread::sleep_for(2s);
    });
    if (c.status == "408") {
      EXPECT_EQ(Call(server->port(), "GetFileVersion", "&JovSinc.exe"), "");
    }
    std::string answer;
    char buffer[4096];
    pollfd wait{fd, POLLIN, 0};
    while (answer.find("\r\n") == std::string::npos && ::poll(&wait, 1, 15000) == 1) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
    const auto took = std::chrono::steady_clock::now() - start;
    ::shutdown(fd, SHUT_RDWR);
    sender.join();
    ::close(fd);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + c.status) << c.what;
    if (c.status == "408") {
      EXPECT_GT(took, 9500ms) << c.what;
      EXPECT_LT(took, 12s) << c.what;
    }
  }
}

TEST_F(AppServerTest, RefusesWhatIsNotItsProtocol) {
  auto server = Start();
  HttpAppServerChannel channel(Short());
  EXPECT_NE(MessageOf([&] {
              channel.Open("127.0.0.1", server->port(), "outro.modulo");
            }).find("HTTP 404"),
            std::string::npos);
  channel.Open("127.0.0.1", server->port(), kModule);
  EXPECT_NE(MessageOf([&] { channel.Call("ApagaTudo", {""}); }).find("HTTP 404"),
            std::string::npos);
  httplib::Client client("127.0.0.1", server->port());
  auto bad = client.Post("/" + kModule + "/GetFileVersion", "{\"a\": 1}", "application/json");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
}

TEST_F(AppServerTest, ASlowClientDoesNotHoldOthersUp) {
  auto server = Start();
  const int slow = Connected(server->port());
  ASSERT_GE(slow, 0);
  Send(slow, "GET /" + kModule + "/ HTTP/1.1\r\nHost: x\r\n");  // and nothing more
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Call(server->port(), "GetFileVersion", "&JovSinc.exe"), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ::close(slow);
}

TEST_F(AppServerTest, LogsEachRequestAndStopsCleanlyOnSigterm) {
  auto server = Start();
  {
    HttpAppServerChannel channel;
    channel.Open("127.0.0.1", server->port(), kModule);
    channel.Call("GetFileVersion", {"&JovTab.exe"});
    channel.Call("GetDadosHttp", {""});
  }
  EXPECT_EQ(server->process().Stop(5s), 0);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 4u) << TempDir::Read(log);
  const std::string client = lines[0].substr(0, lines[0].find(' '));
  EXPECT_EQ(lines[0], client + " GET /lum.rdmAtualizaEstrutura/ 200");
  EXPECT_EQ(lines[1], client + " POST /lum.rdmAtualizaEstrutura/GetFileVersion 200")
      << "one connection for the connect check and the calls";
  EXPECT_EQ(lines[2], client + " POST /lum.rdmAtualizaEstrutura/GetDadosHttp 200");
  EXPECT_EQ(lines[3], "jov-appserver: stopped (Terminated)");
}

TEST_F(AppServerTest, TheConnectionComponentTalksToTheServer) {
  auto server = Start();
  HttpAppServerChannel channel;
  TNetConnection connection(channel);
  connection.ServerName = kModule;
  connection.BeforeConnect = [&](TNetConnection& self) {
    self.Host = "127.0.0.1";
    self.Port = server->port();
  };
  EXPECT_THROW(connection.AppServer("GetFileVersion", "&JovTab.exe"), Error);
  connection.SetConnected(true);
  EXPECT_NE(connection.AppServer("GetFileVersion", "&JovTab.exe").find("JovTab.exe.zip="),
            std::string::npos);
  connection.SetConnected(false);
  EXPECT_FALSE(connection.Connected());
}

TEST(AppServerUsage, WrongArgumentsEndWithUsage) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{JOV_BIN_DIR "/jov-appserver"},
        {JOV_BIN_DIR "/jov-appserver", "--updates", dir.path(), "--port", "x"},
        {JOV_BIN_DIR "/jov-appserver", "--updates", dir.path(), "--nope"}}) {
    Process process(args, {}, dir.path() + "/err");
    EXPECT_EQ(process.Wait(5s), std::optional<int>(2));
    EXPECT_NE(TempDir::Read(dir.path() + "/err").find("usage:"), std::string::npos);
  }
}

}  // namespace
}  // namespace jov::testing
