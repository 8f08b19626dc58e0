// A loopback server for the protocol tests that answers, or fails to answer, as its script says.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace jov::testing {

// A socket listening on a free 127.0.0.1 port; port receives the port.
int Listener(int& port);
// Sends the bytes whole; false once the peer has gone.
bool Send(int fd, const std::string& bytes);
// A complete HTTP/1.1 answer with a Content-Length.
std::string Answer(int status, const std::string& body);
// Sends the bytes one at a time, pause apart, for at most limit; false once the peer has gone.
bool Trickle(int fd, const std::string& bytes, std::chrono::milliseconds pause,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// Answers each request as its script says, one connection at a time. The script sees the
// request (head and body) and writes to the socket; what it returns says whether the
// connection goes on, closes, or is left open and unanswered until the server ends.
class ScriptedServer {
 public:
  enum Then { kGoOn, kClose, kStall };
  using Script = std::function<Then(int fd, const std::string& request)>;

  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  int port() const { return port_; }
  int connections() const { return connections_; }
  std::vector<std::string> requests();

 private:
  void Serve();
  bool Converse(int fd);

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::vector<int> stalled_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace jov::testing
