// The application-server protocol: the real client against jov-appserver on a loopback port,
// and against a small server that misbehaves in every way a network can.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "clientlib/consiste.h"
#include "clientlib/http_channel.h"
#include "clientlib/http_transport.h"
#include "clientlib/net_connection.h"
#include "clientlib/server_stall.h"
#include "clientlib/update_report.h"
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

bool IsConnectCheck(const std::string& request) {
  return request.rfind("GET /" + kModule + "/ HTTP/1.1\r\n", 0) == 0;
}

// How messages name the server: the module at its loopback address.
std::string At(int port) { return kModule + " at 127.0.0.1:" + std::to_string(port); }

// A loopback port that nothing listens on any more.
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

int RefusedPort() {
  int port = 0;
  ::close(Listener(port));
  return port;
}

// The connect check answered at once; each call answered by the given behaviour.
ScriptedServer::Script CallsGet(std::function<ScriptedServer::Then(int)> behaviour) {
  return [behaviour](int fd, const std::string& request) {
    if (IsConnectCheck(request)) {
      Send(fd, Answer(200, kModule));
      return ScriptedServer::kGoOn;
    }
    return behaviour(fd);
  };
}

// Every request, the connect check too, answered by the given behaviour.
ScriptedServer::Script Everything(std::function<ScriptedServer::Then(int)> behaviour) {
  return [behaviour](int fd, const std::string&) { return behaviour(fd); };
}

// Answers the connect check, then calls with the given bytes and what follows them.
ScriptedServer::Script CallsAnswered(const std::string& bytes,
                                     ScriptedServer::Then then = ScriptedServer::kGoOn) {
  return CallsGet([bytes, then](int fd) {
    Send(fd, bytes);
    return then;
  });
}

HttpAppServerChannel::Timeouts Short() { return {1000ms, 300ms}; }

// Every test is a start of its own: the server has not stalled yet.
class HttpChannel : public ::testing::Test {
 protected:
  FakeSession start_;
};

// Every request also says which register asks, as the chain's server keeps it; codes from a file
// cannot add a header line of their own.
TEST_F(HttpChannel, SendsTheArgumentsAsJsonAndKeepsOneConnection) {
  ScriptedServer server(
      CallsAnswered(Answer(200, "{\"result\": \"Cora\\u00e7\\u00e3o \\u20ac\"}")));
  start_.session.Identity().Set("0001", "00\r\nX-Forged: 1");
  HttpAppServerChannel channel(start_.session);
  channel.Open("127.0.0.1", server.port(), kModule);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(channel.Call("GetFileVersion", {"&Ação.exe"_w, "x\"y\\"}), "Coração €"_w);
  }
  EXPECT_EQ(channel.Call("Get Dados/Http", {}), "Coração €"_w);
  EXPECT_EQ(server.connections(), 1) << "the calls share one keep-alive connection";
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_TRUE(IsConnectCheck(requests[0]));
  const std::string& call = requests[1];
  EXPECT_EQ(call.rfind("POST /lum.rdmAtualizaEstrutura/GetFileVersion HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(call.find("Content-Type: application/json\r\n"), std::string::npos) << call;
  const std::string body = call.substr(call.find("\r\n\r\n") + 4);
  EXPECT_EQ(nlohmann::json::parse(body),
            nlohmann::json::array({"&A\xC3\xA7\xC3\xA3o.exe", "x\"y\\"}));
  EXPECT_EQ(requests[4].rfind("POST /lum.rdmAtualizaEstrutura/Get%20Dados%2FHttp HTTP/1.1", 0), 0u)
      << "a method name cannot change the request line";
  for (const std::string& request : requests) {
    for (const char* header : {"\r\nUser-Agent: JovLauncher/", "\r\nX-Jov-Host: ",
                               "\r\nX-Jov-Register: 0001/00??X-Forged: 1\r\n"}) {
      EXPECT_NE(request.find(header), std::string::npos) << request;
    }
    EXPECT_EQ(request.find("\r\nX-Forged:"), std::string::npos) << request;
  }
  channel.Close();
  EXPECT_NE(MessageOf([&] { channel.Call("GetDadosHttp", {""}); }).find("not connected"),
            std::string::npos);
}

TEST_F(HttpChannel, ARefusedConnectionSaysSo) {
  const int port = RefusedPort();
  HttpAppServerChannel channel(start_.session, Short());
  const std::string message = MessageOf([&] { channel.Open("127.0.0.1", port, kModule); });
  EXPECT_EQ(message, "Cannot connect to " + At(port) +
                         ": the connection was refused or the host is unreachable");
  EXPECT_NE(MessageOf([&] { channel.Open("", 80, kModule); }).find("no server address"),
            std::string::npos);
}

TEST_F(HttpChannel, BadAnswersRaiseAndSayWhich) {
  const std::vector<std::pair<std::string, std::string>> answers = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"result\": \"abc",
       "the connection closed after 15 of 100 bytes"},
      {"HTTP/1.1 200 OK\r\n", "the connection closed before the answer was complete"},
      {"", "the connection closed before the answer was complete"},
      {Answer(500, "Internal Server Error"), "the server answered HTTP 500"},
      {Answer(404, "{\"result\": \"x\"}"), "the server answered HTTP 404"},
      {Answer(200, "<html>ok</html>"), "the answer is not valid JSON"},
      {Answer(200, "{\"result\": \"\xC3\"}"), "the answer is not valid JSON"},
      {Answer(200, "{\"resultado\": \"x\"}"), "the answer has no text \"result\""},
      {Answer(200, "{\"result\": 42}"), "the answer has no text \"result\""},
      {Answer(200, "[\"result\"]"), "the answer has no text \"result\""},
      {"garbage\r\n\r\n", "the answer is not HTTP"},
      // A status line of 2 MiB once overflowed the stack of the client's parser.
      {"HTTP/1.1 200 " + std::string(2 << 20, 'O') + "\r\n\r\n", "the answer's head exceeded"},
      // Nesting beyond 64 levels, the answer's object the first, is refused as it is read.
      {Answer(200,
              "{\"result\": \"x\", \"a\": " + std::string(64, '[') + std::string(64, ']') + "}"),
       "nested more than 64 levels deep"},
      {Answer(200,
              "{\"a\": " + std::string(63, '[') + std::string(63, ']') + ", \"result\": \"x\"}"),
       "no failure: x"},
  };
  for (const auto& [bytes, cause] : answers) {
    ScriptedServer server(CallsAnswered(bytes, ScriptedServer::kClose));
    HttpAppServerChannel channel(start_.session, Short());
    channel.Open("127.0.0.1", server.port(), kModule);
    std::string message;
    try {
      message = "no failure: " + channel.Call("GetFileVersion", {"&x"});
    } catch (const Error& error) {
      message = error.what();
      EXPECT_FALSE(error.reason().empty()) << "the log gets the cause in Portuguese";
    }
    EXPECT_NE(message.find(cause), std::string::npos)
        << bytes.substr(0, 100) << "\n -> " << message;
  }
}

// The register's own setting says which proxy its calls go through; the environment, which a
// kiosk session may set for other programs, never does.
TEST_F(HttpChannel, OnlyTheProxySettingSendsTheCallsThroughAProxy) {
  static constexpr const char* kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "all_proxy",
                                                    "ALL_PROXY"};
  for (const char* name : kProxyVariables) ::setenv(name, "http://127.0.0.1:1", 1);
  struct Unset {
    ~Unset() {
      for (const char* name : kProxyVariables) ::unsetenv(name);
    }
  } unset_afterwards;
  ScriptedServer direct(CallsAnswered(Answer(200, "{\"result\": \"direct\"}")));
  HttpAppServerChannel no_proxy(start_.session, Short());
  no_proxy.Open("127.0.0.1", direct.port(), kModule);
  EXPECT_EQ(no_proxy.Call("GetFileVersion", {"&x"}), "direct");

  ScriptedServer proxy(CallsAnswered(Answer(200, "{\"result\": \"proxied\"}")));
  const int server_port = RefusedPort();
  TempDir program;
  program.Write("clientlib.ini",
                "[Server]\nProxy=http://127.0.0.1:" + std::to_string(proxy.port()) + "\n");
  FakeSession proxied_start(program.path());
  HttpAppServerChannel proxied(proxied_start.session, Short());
  proxied.Open("127.0.0.1", server_port, kModule);
  EXPECT_EQ(proxied.Call("GetFileVersion", {"&x"}), "proxied");
  const std::vector<std::string> requests = proxy.requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].rfind("GET http://127.0.0.1:" + std::to_string(server_port) +
                                  "/lum.rdmAtualizaEstrutura/ HTTP/1.1",
                              0),
            0u)
      << requests[0];
}

TEST_F(HttpChannel, AConnectCheckThatIsNotAnsweredWith200FailsTheConnect) {
  ScriptedServer server([](int fd, const std::string&) {
    Send(fd, Answer(404, "no module"));
    return ScriptedServer::kGoOn;
  });
  HttpAppServerChannel channel(start_.session, Short());
  EXPECT_EQ(MessageOf([&] { channel.Open("127.0.0.1", server.port(), kModule); }),
            "Cannot connect to " + At(server.port()) + ": the server answered HTTP 404");
  EXPECT_NE(MessageOf([&] { channel.Call("GetDadosHttp", {""}); }).find("not connected"),
            std::string::npos);
}

// An answer's head, then chunks of body for as long as the client reads them.
ScriptedServer::Then EndlessChunks(int fd) {
  if (!Send(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) {
    return ScriptedServer::kClose;
  }
  const std::string chunk = "1000\r\n" + std::string(0x1000, 'x') + "\r\n";
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < end && Send(fd, chunk)) {
  }
  return ScriptedServer::kClose;
}

TEST_F(HttpChannel, EveryAnswerIsBoundedInTimeAndSize) {
  const std::string kResult = "{\"result\": \"abcdefghij\"}";
  const auto silent = [](int) { return ScriptedServer::kStall; };
  const auto trickled = [&](int fd) {
    Trickle(fd, Answer(200, kResult), 100ms);
    return ScriptedServer::kClose;
  };
  const auto body_trickled = [&](int fd) {
    Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kResult.size()) + "\r\n\r\n");
    Trickle(fd, kResult, 100ms);
    return ScriptedServer::kClose;
  };
  const auto declared_huge = [](int fd) {
    Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10000000000\r\n\r\n{\"result\": \"");
    return ScriptedServer::kStall;
  };
  const auto until_close = [](int fd) {
    Send(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(100000, 'x'));
    return ScriptedServer::kClose;
  };
  const auto header_flood = [](int fd) {
    Send(fd, "HTTP/1.1 200 OK\r\n");
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += "X-Filler: abcdefghijklmnopqrstuvwxyz\r\n";
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end && Send(fd, lines)) {
    }
    return ScriptedServer::kClose;
  };
  const struct {
    const char* what;
    std::function<ScriptedServer::Then(int)> behaviour;
    bool at_connect;  // the connect check misbehaves, else the call after it
    std::string cause;
    bool stalls;  // counts as the server having stopped answering
  } cases[] = {
      {"floods header lines", header_flood, false, "the answer's head exceeded 256 KiB", false},
      {"floods the connect check with header lines", header_flood, true,
       "the answer's head exceeded 256 KiB", false},
      {"accepts and never answers the connect check", silent, true, "no answer within 800 ms",
       true},
      {"trickles the connect check's answer", trickled, true, "no answer within 800 ms", true},
      {"never answers the call", silent, false, "no complete answer within 600 ms", true},
      {"trickles the call's head", trickled, false, "no complete answer within 600 ms", true},
      {"trickles the call's body", body_trickled, false, "no complete answer within 600 ms", true},
      {"streams an endless chunked answer to the call", EndlessChunks, false,
       "the answer exceeded 64 KiB", false},
      {"streams an endless answer to the connect check", EndlessChunks, true,
       "the answer exceeded 64 KiB", false},
      {"declares a body larger than the bound", declared_huge, false, "the answer exceeded 64 KiB",
       false},
      {"sends a body larger than the bound until it closes", until_close, false,
       "the answer exceeded 64 KiB", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ServerStall stall;  // each case a start of its own
    ScriptedServer server(c.at_connect ? Everything(c.behaviour) : CallsGet(c.behaviour));
    const std::string where = At(server.port());
    HttpAppServerChannel channel({}, stall, {800ms, 600ms, 64 * 1024});
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    if (c.at_connect) {
      message = MessageOf([&] { channel.Open("127.0.0.1", server.port(), kModule); });
      EXPECT_EQ(message, "Cannot connect to " + where + ": " + c.cause);
    } else {
      channel.Open("127.0.0.1", server.port(), kModule);
      message = MessageOf([&] { channel.Call("GetDadosHttp", {""}); });
      EXPECT_EQ(message, "Call GetDadosHttp on " + where + " failed: " + c.cause);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, (c.at_connect ? 800ms : 1400ms) + 1500ms);
    if (c.stalls) {
      // libcurl's timer may fire a fraction of a millisecond before the bound.
      EXPECT_GE(took, (c.at_connect ? 800ms : 600ms) - 5ms);
    }
    EXPECT_EQ(stall.Stalled(), c.stalls);
  }
}

TEST_F(HttpChannel, AnAnswerOfExactlyTheBoundIsTaken) {
  const std::string head = "{\"result\": \"";
  const std::string tail = "\"}";
  const std::size_t bound = 4096;
  for (const std::size_t size : {bound, bound + 1}) {
    const std::string result(size - head.size() - tail.size(), 'r');
    for (const bool chunked : {false, true}) {
      const std::string body = head + result + tail;
      const std::string bytes = chunked
                                    ? "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                          (std::stringstream() << std::hex << body.size()).str() +
                                          "\r\n" + body + "\r\n0\r\n\r\n"
                                    : Answer(200, body);
      ScriptedServer server(CallsAnswered(bytes));
      HttpAppServerChannel channel(start_.session, {1000ms, 1000ms, bound});
      channel.Open("127.0.0.1", server.port(), kModule);
      if (size == bound) {
        EXPECT_EQ(channel.Call("GetDadosHttp", {""}), result) << chunked;
      } else {
        EXPECT_NE(MessageOf([&] {
                    channel.Call("GetDadosHttp", {""});
                  }).find("the answer exceeded 4 KiB"),
                  std::string::npos)
            << chunked;
      }
    }
  }
}

TEST_F(HttpChannel, ALargeAnswerWithinTheBoundsIsTakenWhole) {
  const std::string result(16 << 20, 'r');
  ScriptedServer server(CallsAnswered(Answer(200, "{\"result\": \"" + result + "\"}")));
  HttpAppServerChannel channel(start_.session);
  channel.Open("127.0.0.1", server.port(), kModule);
  EXPECT_EQ(channel.Call("GetDadosHttp", {""}).size(), result.size())
      << "what the system received ahead of the head is no head flood";
}

TEST_F(HttpChannel, AfterAStallLaterConnectsAndCallsFailAtOnce) {
  ScriptedServer good(CallsAnswered(Answer(200, "{\"result\": \"ok\"}")));
  HttpAppServerChannel before(start_.session, Short());
  before.Open("127.0.0.1", good.port(), kModule);

  const int refused_port = RefusedPort();
  HttpAppServerChannel refused(start_.session, Short());
  EXPECT_NE(MessageOf([&] { refused.Open("127.0.0.1", refused_port, kModule); }).find("refused"),
            std::string::npos);
  EXPECT_FALSE(start_.session.Stall().Stalled()) << "a refused connection is no stall";
  EXPECT_EQ(before.Call("GetFileVersion", {"&x"}), "ok");

  ScriptedServer stalls(CallsAnswered("", ScriptedServer::kStall));
  HttpAppServerChannel stalled(start_.session, Short());
  stalled.Open("127.0.0.1", stalls.port(), kModule);
  MessageOf([&] { stalled.Call("GetDadosHttp", {""}); });
  ASSERT_TRUE(start_.session.Stall().Stalled());

  const std::string earlier = "the server stopped answering earlier (GetDadosHttp on " +
                              At(stalls.port()) + ": no complete answer within 300 ms)";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MessageOf([&] { before.Call("GetFileVersion", {"&x"}); }),
            "Call GetFileVersion on " + At(good.port()) + " failed: " + earlier);
  EXPECT_EQ(MessageOf([&] { stalled.Call("GetFileVersion", {"&x"}); }),
            "Call GetFileVersion on " + At(stalls.port()) + " failed: " + earlier);
  HttpAppServerChannel later(start_.session, Short());
  EXPECT_EQ(MessageOf([&] { later.Open("127.0.0.1", good.port(), kModule); }),
            "Cannot connect to " + At(good.port()) + ": " + earlier);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(good.requests().size(), 2u) << "nothing more reached the server";

  FakeSession next_start;
  HttpAppServerChannel next(next_start.session, Short());
  before.Close();  // the server serves one connection at a time
  next.Open("127.0.0.1", good.port(), kModule);
  EXPECT_EQ(next.Call("GetFileVersion", {"&x"}), "ok");
}

// A report runs on a channel of its own: when the server stalls it, the start's later calls still
// go out, and the report's codes name the register from then on.
TEST_F(HttpChannel, AReportThatStallsHoldsBackNoLaterCallOfTheStart) {
  ScriptedServer stalls(CallsAnswered("", ScriptedServer::kStall));
  UpdateReport report;
  report.filial = "0001";
  report.caixa = "002";
  {
    ThreadedUpdateReporter reporter(start_.session, Short());
    reporter.Send(report, {"127.0.0.1", stalls.port(), ""}, "/nonexistent", {});
    reporter.Wait();
  }
  const auto reported = stalls.requests();
  ASSERT_EQ(reported.size(), 2u) << "the connect check and the report reached the server";
  EXPECT_EQ(reported[1].rfind("POST /lum.rdmAtualizaEstrutura/ReportUpdate HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(reported[1].find("\r\nX-Jov-Register: 0001/002\r\n"), std::string::npos);
  EXPECT_FALSE(start_.session.Stall().Stalled());

  ScriptedServer good(CallsAnswered(Answer(200, "{\"result\": \"ok\"}")));
  HttpAppServerChannel later(start_.session, Short());
  later.Open("127.0.0.1", good.port(), kModule);
  EXPECT_EQ(later.Call("GetFileVersion", {"&x"}), "ok");
  ASSERT_EQ(good.requests().size(), 2u);
  EXPECT_NE(good.requests()[1].find("\r\nX-Jov-Register: 0001/002\r\n"), std::string::npos);
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
  HttpAppServerChannel channel(start_.session, Short());
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
