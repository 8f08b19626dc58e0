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

#include <atomic>
#include <filesystem>
#include <regex>
#include <thread>

#include "clientlib/consiste.h"
#include "clientlib/http_channel.h"
#include "clientlib/net_connection.h"
#include "platform/cp1252.h"
#include "platform/data_packet.h"
#include "platform/errors.h"
#include "tests/fakes/fake_session.h"
#include "tests/server/scripted_server.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

const std::string kModule = "lum.rdmAtualizaEstrutura";

HttpAppServerChannel::Timeouts Short() { return {1000ms, 300ms}; }

// What the socket gives until it has at least bytes of them, ends, or is silent for limit.
std::string Receive(int fd, std::size_t bytes = 1, std::chrono::milliseconds limit = 15s) {
  std::string got;
  char buffer[65536];
  pollfd wait{fd, POLLIN, 0};
  while (got.size() < bytes && ::poll(&wait, 1, static_cast<int>(limit.count())) == 1) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// How much a refused body may raise the server's peak memory, in KiB: a body of its size, its
// parser's buffers and the threads' stacks. The sanitizers keep freed blocks in quarantine and
// add their shadow, so the same work looks larger there; what the bound catches (a body taken
// whole, gigabytes of it) is far above either.
// GCC says so with __SANITIZE_ADDRESS__, clang with __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JOV_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(JOV_UNDER_ASAN)
constexpr long kRefusedBodyKiB = 32 * 1024;
#else
constexpr long kRefusedBodyKiB = 8 * 1024;
#endif

// The most resident memory the process has had, in KiB.
long PeakKiB(pid_t pid) {
  const std::string status = TempDir::Read("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("VmHWM:");
  return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

// jov-appserver with an updates folder whose archives have known local times (TZ=BRT3 is
// three hours behind UTC and needs no time-zone files).
class AppServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
    HttpAppServerChannel channel(start_.session);
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

  FakeSession start_;
  TempDir dir;
  std::string updates = dir.path() + "/updates";
  std::string log = dir.path() + "/appserver.log";
};

TEST_F(AppServerTest, AnswersTheVersionQueryByteForByte) {
  auto server = Start();
  const int port = server->port();
  // The server's own download source, under the updates folder's generation.
  const std::string first = Call(port, "GetFileVersion", "&JovTab.exe");
  const std::string source = first.substr(0, first.find("\r\n"));
  EXPECT_TRUE(std::regex_match(source, std::regex("http://127\\.0\\.0\\.1:" + std::to_string(port) +
                                                  "/files/@[0-9a-f]{16}/")))
      << source;
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
  // The engine writes what the range rule decides (its cases: RangeTest): the head and the
  // bytes of a range cut at the file's end, and a refusal past the end.
  struct Range {
    std::string range;
    int status;
    std::string content_range;
    std::string body;
  };
  for (const Range& r : std::vector<Range>{{"bytes=4-100", 206, "bytes 4-8/9", "bytes"},
                                           {"bytes=2000000-", 416, "bytes */9", ""}}) {
    auto answer = client.Get("/files/JovTab.exe.zip", {{"Range", r.range}});
    ASSERT_TRUE(answer) << r.range;
    EXPECT_EQ(answer->status, r.status) << r.range;
    EXPECT_EQ(answer->get_header_value("Content-Range"), r.content_range) << r.range;
    if (r.status == 206) {
      EXPECT_EQ(answer->body, r.body) << r.range;
      EXPECT_EQ(answer->get_header_value("Content-Length"), std::to_string(r.body.size()));
    }
  }
  // A cache asking again: the engine writes a 304 without a body, with the tag and the Date a
  // cache reckons freshness from, and the connection serves the next request whole.
  client.set_keep_alive(true);
  const std::string tag = good->get_header_value("ETag");
  EXPECT_TRUE(good->get_header_value("Date").ends_with(" GMT")) << good->get_header_value("Date");
  auto same = client.Get("/files/JovTab.exe.zip", {{"If-None-Match", tag}});
  ASSERT_TRUE(same);
  EXPECT_EQ(same->status, 304);
  EXPECT_EQ(same->body, "");
  EXPECT_EQ(same->get_header_value("ETag"), tag);
  auto again = client.Get("/files/JovTab.exe.zip");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->body, "zip-bytes");
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
    const int fd = ConnectedFrom(server->port());
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
  HttpAppServerChannel channel(start_.session, Short());
  EXPECT_NE(MessageOf([&] {
              channel.Open("127.0.0.1", server->port(), "outro.modulo");
            }).find("HTTP 404"),
            std::string::npos);
  channel.Open("127.0.0.1", server->port(), kModule);
  EXPECT_NE(MessageOf([&] { channel.Call("ApagaTudo", {""}); }).find("HTTP 404"),
            std::string::npos);
  httplib::Client client("127.0.0.1", server->port());
  const long before = PeakKiB(server->process().pid());
  // The 1 MiB of "[" is refused at its second byte, never built into a document.
  for (const std::string& body : {std::string("{\"a\": 1}"), std::string(1u << 20, '[')}) {
    auto bad = client.Post("/" + kModule + "/GetFileVersion", body, "application/json");
    ASSERT_TRUE(bad) << body.substr(0, 10);
    EXPECT_EQ(bad->status, 400) << body.substr(0, 10);
  }
  EXPECT_LT(PeakKiB(server->process().pid()) - before, kRefusedBodyKiB);
}

TEST_F(AppServerTest, ASlowClientDoesNotHoldOthersUp) {
  auto server = Start();
  const int slow = ConnectedFrom(server->port());
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
    HttpAppServerChannel channel(start_.session);
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
  HttpAppServerChannel channel(start_.session);
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

// A body that comes a byte at a time is cut once it falls behind 1 KiB/s after a grace time,
// and costs the others nothing meanwhile.
TEST_F(AppServerTest, ASlowDripIsCutWhileConnectChecksAnswer) {
  auto server = Start();
  const int fd = ConnectedFrom(server->port());
  ASSERT_GE(fd, 0);
  const auto start = std::chrono::steady_clock::now();
  Send(fd, "POST /" + kModule +
               "/GetFileVersion HTTP/1.1\r\nHost: x\r\n"
               "Content-Length: 1000000\r\n\r\n[");
  std::atomic<bool> done{false};
  std::thread drip([&] {
    for (int i = 0; i < 40 && !done && Send(fd, "\""); ++i) std::this_thread::sleep_for(500ms);
  });
  httplib::Client client("127.0.0.1", server->port());
  for (int i = 0; i < 3; ++i) {
    const auto check = std::chrono::steady_clock::now();
    auto answer = client.Get("/" + kModule + "/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - check, 1s);
    std::this_thread::sleep_for(1s);
  }
  const std::string answer = Receive(fd, 12, 20s);
  const auto took = std::chrono::steady_clock::now() - start;
  done = true;
  drip.join();
  ::close(fd);
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 408");
  EXPECT_LT(took, 8s);
}

// A chunked body is held to the limit of a body whose length is announced.
TEST_F(AppServerTest, AChunkedBodyOverTheLimitIsRefused) {
  auto server = Start();
  const long before = PeakKiB(server->process().pid());
  const int fd = ConnectedFrom(server->port());
  ASSERT_GE(fd, 0);
  Send(fd, "POST /" + kModule +
               "/GetFileVersion HTTP/1.1\r\nHost: x\r\n"
               "Transfer-Encoding: chunked\r\n\r\n");
  std::thread sender([&] {
    const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
    for (int i = 0; i < 64 && Send(fd, chunk); ++i) {  // 4 MiB
    }
  });
  const std::string answer = Receive(fd, 12);
  ::shutdown(fd, SHUT_RDWR);
  sender.join();
  ::close(fd);
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 413");
  EXPECT_LT(PeakKiB(server->process().pid()) - before, kRefusedBodyKiB);
}

// Connections beyond an address's share are closed at once; other addresses are served.
TEST_F(AppServerTest, OneAddressHoldsAtMostItsShareOfConnections) {
  auto server = Start({"--max-per-address", "3"});
  std::vector<int> held;
  for (int i = 0; i < 3; ++i) held.push_back(ConnectedFrom(server->port()));
  const std::string check = "GET /" + kModule + "/ HTTP/1.1\r\nHost: x\r\n\r\n";
  const int over = ConnectedFrom(server->port());
  Send(over, check);
  EXPECT_EQ(Receive(over, 1, 3s), "") << "closed without an answer";
  const int other = ConnectedFrom(server->port(), "127.0.0.2");
  Send(other, check);
  EXPECT_EQ(Receive(other, 12, 3s).substr(0, 12), "HTTP/1.1 200");
  ::close(held.back());
  held.pop_back();
  std::this_thread::sleep_for(200ms);
  const int again = ConnectedFrom(server->port());
  Send(again, check);
  EXPECT_EQ(Receive(again, 12, 3s).substr(0, 12), "HTTP/1.1 200") << "a share let go is free";
  for (const int fd : {over, other, again}) ::close(fd);
  for (const int fd : held) ::close(fd);
}

// A full server makes room for a new connection by closing the one idle longest.
TEST_F(AppServerTest, AFullServerClosesTheConnectionIdleLongest) {
  auto server = Start({"--max-connections", "3"});
  const std::string check = "GET /" + kModule + "/ HTTP/1.1\r\nHost: x\r\n\r\n";
  std::vector<int> idle;
  for (int i = 0; i < 3; ++i) {
    idle.push_back(ConnectedFrom(server->port()));
    Send(idle.back(), check);
    EXPECT_EQ(Receive(idle.back(), 12, 3s).substr(0, 12), "HTTP/1.1 200");
    std::this_thread::sleep_for(100ms);
  }
  const int newcomer = ConnectedFrom(server->port());
  Send(newcomer, check);
  EXPECT_EQ(Receive(newcomer, 12, 3s).substr(0, 12), "HTTP/1.1 200");
  EXPECT_EQ(Receive(idle[0], 1, 3s), "") << "the oldest idle connection is closed";
  Send(idle[1], check);
  EXPECT_EQ(Receive(idle[1], 12, 3s).substr(0, 12), "HTTP/1.1 200") << "the others stay";
  for (const int fd : idle) ::close(fd);
  ::close(newcomer);
}

// An archive written over in place while it is sent ends short of its length, so that no
// register takes a mix of two versions for a whole one; an archive renamed over is a new
// file, and the one being sent goes out whole.
TEST_F(AppServerTest, AnArchiveChangedWhileSentNeverArrivesWholeLooking) {
  const std::string path = updates + "/Grande.exe.zip";
  const std::string old_bytes(32u << 20, 'o');
  auto server = Start();
  for (const bool in_place : {true, false}) {
    dir.Write("updates/Grande.exe.zip", old_bytes);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 65536;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    Send(fd, "GET /files/Grande.exe.zip HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string got = Receive(fd, 65536);
    if (in_place) {
      const int file = ::open(path.c_str(), O_WRONLY);
      ASSERT_GE(::pwrite(file, "new", 3, 16u << 20), 3);
      ::close(file);
    } else {
      dir.Write("updates/Grande.exe.zip.new", std::string(old_bytes.size(), 'n'));
      std::filesystem::rename(path + ".new", path);
    }
    got += Receive(fd, old_bytes.size() * 2, 5s);
    ::close(fd);
    const std::size_t head = got.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_NE(got.find("Content-Length: " + std::to_string(old_bytes.size())), std::string::npos);
    const std::string body = got.substr(head + 4);
    if (in_place) {
      EXPECT_LT(body.size(), old_bytes.size()) << "an archive changed in place ends short";
    } else {
      EXPECT_EQ(body.size(), old_bytes.size());
      EXPECT_TRUE(body == old_bytes) << "renamed over: the old archive whole";
    }
  }
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
