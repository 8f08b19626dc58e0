// The nine version queries of a start in flight together: the update log, the outcome and the
// stall are those of the queries made one after another, whatever order the answers come in
// and whichever of them fail, or when the update's connect check fails while they are in flight;
// the whole start shares at most four connections.
#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "Cli_jov00000/update/baixa_exe.h"
#include "clientlib/http_channel.h"
#include "clientlib/server_stall.h"
#include "tests/server/launcher_support.h"

namespace jov::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How the server answers the version query of one file.
struct Reply {
  std::chrono::milliseconds delay{0};
  int status = 200;
  std::string result;   // the "result" text of a 200 answer
  bool silent = false;  // never answers (until the server ends)
};

// The application server on loopback, answering each connection on a thread of its own: the
// connect checks and "GetDadosHttp" at once, except that once "GetDadosHttp" has been answered
// the connect checks answer as late_check says; each version query as replies says (by the name
// asked, "&JovTab.exe"). Records the order answers were sent in and the connections used.
class TogetherServer {
 public:
  TogetherServer(std::map<std::string, Reply> replies, Reply late_check)
      : replies_(std::move(replies)), late_check_(late_check) {
    server_.set_keep_alive_max_count(100);
    // An answer goes out at once, as the server's own does, never held for the last one's ACK.
    server_.set_tcp_nodelay(true);
    server_.Get(R"(/lum\.rdmAtualizaEstrutura/)",
                [this](const httplib::Request& req, httplib::Response& res) { Check(req, res); });
    server_.Post(R"(/lum\.rdmAtualizaEstrutura/(\w+))",
                 [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(1ms);
  }
  ~TogetherServer() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    wake_.notify_all();
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::vector<std::string> answered() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
  }
  // The connections the start's requests came over.
  std::set<int> connections() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ports_;
  }

 private:
  void Note(const httplib::Request& req) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ports_.insert(req.remote_port);
  }

  void Check(const httplib::Request& req, httplib::Response& res) {
    Note(req);
    std::unique_lock<std::mutex> lock(mutex_);
    const Reply reply = dados_answered_ ? late_check_ : Reply{};
    wake_.wait_for(lock, reply.silent ? 10s : reply.delay, [this] { return ending_; });
    res.status = reply.status;
    res.set_content("ok", "text/plain");
  }

  void Answer(const httplib::Request& req, httplib::Response& res) {
    Note(req);
    if (req.matches[1] != "GetFileVersion") {
      const std::lock_guard<std::mutex> lock(mutex_);
      dados_answered_ = dados_answered_ || req.matches[1] == "GetDadosHttp";
      res.set_content(R"({"result": ""})", "application/json");
      return;
    }
    const std::string name = req.body.substr(2, req.body.size() - 4);  // ["&X"] -> &X
    const Reply reply = replies_.count(name) != 0 ? replies_.at(name) : Reply{};
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, reply.silent ? 10s : reply.delay, [this] { return ending_; });
    answered_.push_back(name);
    res.status = reply.status;
    res.set_content(JsonResult(reply.result), "application/json");
  }
  static std::string JsonResult(const std::string& text) {
    return "{\"result\": \"" + text + "\"}";
  }

  std::map<std::string, Reply> replies_;
  Reply late_check_;
  bool dados_answered_ = false;
  httplib::Server server_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::vector<std::string> answered_;
  std::set<int> ports_;
  std::thread thread_;
};

class TogetherStartTest : public LoopbackStartTest {
 protected:
  // One start against a fresh server: its update log, whether it stalled, how long the form
  // took, the connections and the order of the answers.
  struct Run {
    std::string log;
    bool stalled = false;
    Clock::duration took{};
    std::set<int> connections;
    std::vector<std::string> answered;
  };

  // The queries made together (up to four, their connections set up beside the first connect
  // check) or one after another (1); the update's connect check answered as late_check says.
  Run Start(const std::map<std::string, Reply>& replies, int together, Reply late_check = {}) {
    ClearLog();
    TogetherServer server(replies, late_check);
    ServerStall stall;
    HttpAppServerChannel channel({}, stall,
                                 {700ms, 500ms, std::size_t{64} << 20, together, together > 1});
    Run run;
    run.took = CreateForm(channel, server.port());
    run.stalled = stall.Stalled();
    run.connections = server.connections();
    run.answered = server.answered();
    run.log = LogText();
    return run;
  }
};

// An error reply naming its file, so that the log tells the files apart.
Reply Failing(const std::string& name) { return {0ms, 200, "EXCEPT " + name, false}; }

TEST_F(TogetherStartTest, AnswersInReverseOrderAreLoggedInTheOrderAsked) {
  const std::vector<std::string> names = Cli_jov00000::ExecutaveisDoCliente();
  std::map<std::string, Reply> replies;
  for (std::size_t i = 0; i < names.size(); ++i) {
    // The first asked is answered last; every other file is missing on the server.
    Reply reply = i % 2 == 0 ? Failing(names[i]) : Reply{};
    reply.delay = std::chrono::milliseconds(40 * (names.size() - i));
    replies["&" + names[i]] = reply;
  }
  const Run together = Start(replies, 4);
  EXPECT_FALSE(together.stalled);
  ASSERT_EQ(together.answered.size(), names.size());
  EXPECT_EQ(together.answered.front(), "&" + names[3])
      << "the last of the first four asked came first";
  EXPECT_EQ(together.answered.back(), "&" + names[8]);
  EXPECT_LE(together.connections.size(), 4u)
      << "the queries go over the connections set up beside the first connect check";
  EXPECT_GE(together.connections.size(), 2u) << "the queries were in flight together";

  const Run serial = Start(replies, 1);
  EXPECT_EQ(together.log, serial.log);
  EXPECT_LT(together.took, serial.took);
  const std::vector<std::string> asked = LinesWith(together.log, "GetFileVersion(BPL&");
  ASSERT_EQ(asked.size(), names.size()) << together.log;
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_NE(asked[i].find("GetFileVersion(BPL&" + names[i] + ")"), std::string::npos);
  }
}

// Failing queries, and an update connect check failing while the queries are in flight (their
// answers then dropped unread): the log and the stall of one query after another.
TEST_F(TogetherStartTest, FailuresLogAsOneAfterAnother) {
  const std::string tab = "&JovTab.exe";
  const std::string imp = "&JovImp.exe";
  const std::string last = "&Altera_Permissoes_Calvora.EXE";
  const struct {
    const char* what;
    std::map<std::string, Reply> replies;
    bool stalls;
    Reply check{};  // the update's connect check
    bool check_fails = false;
  } cases[] = {
      {"error answers", {{tab, {0ms, 500, ""}}, {imp, {30ms, 404, ""}}}, false},
      {"error replies and one answered late",
       {{tab, Failing("JovTab.exe")}, {last, {100ms, 200, ""}}},
       false},
      {"a query goes silent before a failing one",
       {{imp, {0ms, 200, "", true}}, {tab, {0ms, 500, ""}}},
       true},
      {"the last query goes silent", {{last, {0ms, 200, "", true}}}, true},
      {"a late answer after the limit", {{tab, {900ms, 200, ""}}}, true},
      {"the check answers an error after the queries", {}, false, {200ms, 500, ""}, true},
      {"the check gives no answer within its limit", {}, true, {0ms, 200, "", true}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Run together = Start(c.replies, 4, c.check);
    const Run serial = Start(c.replies, 1, c.check);
    EXPECT_EQ(together.log, serial.log);
    EXPECT_EQ(together.stalled, c.stalls);
    EXPECT_EQ(serial.stalled, c.stalls);
    EXPECT_LT(together.took, 700ms + 1500ms) << "a stall is waited for once";
    if (c.check_fails) {
      EXPECT_FALSE(together.answered.empty()) << "queries were in flight while the check was";
      EXPECT_EQ(LinesWith(together.log, "GetFileVersion(BPL&").size(), 0u) << together.log;
      EXPECT_NE(together.log.find("Falha na conex"), std::string::npos) << together.log;
    }
  }
}

}  // namespace
}  // namespace jov::testing
