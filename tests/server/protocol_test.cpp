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
  auto before = std::make_unique<HttpAppServerChannel>(start_.session, Short());
  before->Open("127.0.0.1", good.port(), kModule);

  const int refused_port = RefusedPort();
  HttpAppServerChannel refused(start_.session, Short());
  EXPECT_NE(MessageOf([&] { refused.Open("127.0.0.1", refused_port, kModule); }).find("refused"),
            std::string::npos);
  EXPECT_FALSE(start_.session.Stall().Stalled()) << "a refused connection is no stall";
  EXPECT_EQ(before->Call("GetFileVersion", {"&x"}), "ok");

  ScriptedServer stalls(CallsAnswered("", ScriptedServer::kStall));
  HttpAppServerChannel stalled(start_.session, Short());
  stalled.Open("127.0.0.1", stalls.port(), kModule);
  MessageOf([&] { stalled.Call("GetDadosHttp", {""}); });
  ASSERT_TRUE(start_.session.Stall().Stalled());

  const std::string earlier = "the server stopped answering earlier (GetDadosHttp on " +
                              At(stalls.port()) + ": no complete answer within 300 ms)";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MessageOf([&] { before->Call("GetFileVersion", {"&x"}); }),
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
  before.reset();  // the server serves one connection at a time; Close keeps it
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

}  // namespace
}  // namespace jov::testing
