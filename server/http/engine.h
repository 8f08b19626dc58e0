// The server's HTTP/1.1 engine: accepts connections, reads each request within its bounds,
// hands it to one handler and sends the answer (a text, or a file streamed from a descriptor).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "server/http/line_log.h"
#include "server/http/router.h"

namespace appserver::http {

// What one client may cost the server. A request that breaks a bound of its head is answered
// 431 (a line too long, too many lines) or 408 (not whole in time), a body over its limit 413
// (whether its length is announced or chunked), and the connection is closed.
struct Limits {
  std::chrono::milliseconds head_time{10000};  // from the request's first byte to its blank line
  std::size_t line_bytes = 8192;               // a line of the head with its CR LF
  std::size_t lines = 100;                     // the request line and the header lines
  std::size_t body_bytes = 1u << 20;
  std::chrono::milliseconds request_time{30000};  // the whole request, head and body
  // After the head, the body comes at least this fast on average, after a grace time.
  std::size_t body_bytes_per_second = 1024;
  std::chrono::milliseconds body_grace{5000};
  std::chrono::milliseconds idle_time{5000};    // a kept connection waiting for its next request
  std::chrono::milliseconds write_time{30000};  // each piece of an answer
  int max_per_address = 256;    // open connections of one peer address; more are closed at accept
  int max_connections = 10000;  // when full, the oldest idle connection is closed for a new one
  int backlog = 4096;
  // Threads that run the handler, apart from the engine's threads that read and write.
  int handler_threads = 64;
};

class Engine {
 public:
  // Every request goes to handler; one line per request goes to log.
  Engine(const Limits& limits, Handler handler, LineLog& log);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Binds host:port (0: a free port) and listens; returns the port. Throws std::runtime_error
  // with the system's reason when it cannot.
  int Listen(const std::string& host, int port);
  // Reads and writes on this thread and threads - 1 more until Stop; blocks.
  void Run(int threads);
  // Ends Run: no more accepts, every connection closed. Safe from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace appserver::http
