// A server that stops answering at any point of the start-up delays it once: the form's
// creation (the HTTP settings, then the nine version queries) over the real channel against
// a loopback server that goes silent at one request and never answers again.
#include <gtest/gtest.h>

#include <atomic>

#include "clientlib/http_channel.h"
#include "clientlib/server_stall.h"
#include "platform/cp1252.h"
#include "tests/server/launcher_support.h"
#include "tests/server/scripted_server.h"

namespace jov::testing {
namespace {

using namespace std::chrono_literals;

// The requests of one start on a server that answers them all: the connect check and
// "GetDadosHttp", then the connect check of the update and its nine "GetFileVersion".
constexpr int kRequestsOfAStart = 12;

class StalledServerStartTest : public LoopbackStartTest {
 protected:
  // A server that answers every request until the one numbered stall_at (from 0), which it
  // leaves unanswered, as it does every request after it.
  ScriptedServer::Script SilentFrom(int stall_at) {
    return [this, stall_at](int fd, const std::string& request) {
      if (seen++ >= stall_at) return ScriptedServer::kStall;
      Send(fd,
           request.rfind("GET ", 0) == 0 ? Answer(200, "ok") : Answer(200, "{\"result\": \"\"}"));
      return ScriptedServer::kGoOn;
    };
  }

  std::atomic<int> seen{0};
};

TEST_F(StalledServerStartTest, AStallAtAnyRequestDelaysTheStartOnceAndEndsTheTalking) {
  // One query after another, so that what reached the server stops at the stall (the queries
  // in flight together are in together_start_test.cpp); the scripted server serves one
  // connection at a time.
  const HttpAppServerChannel::Timeouts limits{700ms, 500ms, std::size_t{64} << 20, 1};
  // The connect checks, the settings call, the first, a middle and the last version query.
  for (const int stall_at : {0, 1, 2, 3, 7, kRequestsOfAStart - 1}) {
    SCOPED_TRACE("the server goes silent at request " + std::to_string(stall_at));
    ServerStall stall;  // each a start of its own
    seen = 0;
    ScriptedServer server(SilentFrom(stall_at));
    HttpAppServerChannel channel({}, stall, limits);
    const auto took = CreateForm(channel, server.port());
    EXPECT_GE(took, 500ms) << "the stall was waited for";
    EXPECT_LT(took, 700ms + 2s) << "and only once";
    EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(stall_at + 1))
        << "nothing reached the server after the stall";
    EXPECT_TRUE(stall.Stalled());
  }

  ServerStall stall;
  seen = 0;
  ScriptedServer answers(SilentFrom(kRequestsOfAStart));
  HttpAppServerChannel channel({}, stall, limits);
  EXPECT_LT(CreateForm(channel, answers.port()), 2s);
  EXPECT_EQ(answers.requests().size(), static_cast<std::size_t>(kRequestsOfAStart))
      << "a server that answers is asked everything";
  EXPECT_FALSE(stall.Stalled());
}

TEST_F(StalledServerStartTest, AServerThatAcceptsAndNeverAnswersCostsTheStartFiveSeconds) {
  ScriptedServer server(SilentFrom(0));
  ServerStall stall;
  // The limits the launcher runs with: the first connect check goes out on four connections.
  HttpAppServerChannel channel({}, stall, {.set_up_ahead = true});
  const auto took = CreateForm(channel, server.port());
  EXPECT_GE(took, 5s);
  EXPECT_LT(took, 8s);
  EXPECT_EQ(server.requests().size(), 4u) << "the first connect check, and nothing after it";
  const std::string where =
      "lum.rdmAtualizaEstrutura at 127.0.0.1:" + std::to_string(server.port());
  const std::string log = LogText();
  EXPECT_EQ(LinesWith(log, "Falha ao conectar com a Lum.dll: Cannot connect to " + where +
                               ": no answer within 5 s")
                .size(),
            1u)
      << log;
  EXPECT_EQ(LinesWith(log, "Falha na conexão Lum"_w).size(), 1u)
      << "the update gives up at once: " << log;
}

}  // namespace
}  // namespace jov::testing
