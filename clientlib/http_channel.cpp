#include "clientlib/http_channel.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "clientlib/server_stall.h"
#include "clientlib/socket_bytes.h"
#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {
namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(std::chrono::milliseconds span) {
  const auto ms = span.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string Bytes(std::size_t size) {
  if (size != 0 && size % (std::size_t{1} << 20) == 0) return std::to_string(size >> 20) + " MiB";
  if (size != 0 && size % 1024 == 0) return std::to_string(size >> 10) + " KiB";
  return std::to_string(size) + " bytes";
}

// Everything but the unreserved characters is percent-encoded, so that a name cannot change
// the request line.
std::string PathPart(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Ends the client's request in flight when the deadline passes, or when the check (looked at
// every 50 ms) says the request has gone wrong, before Disarm: a server that sends nothing,
// or its head a byte at a time, gives the content receiver no chance to look at the clock.
// The client's stop() is the one call it allows from another thread; it only shuts the socket
// down, so the request fails with a read error on the calling thread.
class Watchdog {
 public:
  Watchdog(httplib::Client& client, Clock::time_point deadline, std::function<bool()> check)
      : check_(std::move(check)), thread_([this, &client, deadline] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!done_) {
            const auto now = Clock::now();
            if (now >= deadline) {
              late_ = true;
            } else if (check_()) {
              overrun_ = true;
            } else {
              woken_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(50)));
              continue;
            }
            client.stop();
            return;
          }
        }) {}
  ~Watchdog() { Disarm(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Joins the watchdog; it never stops the request after this.
  void Disarm() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    woken_.notify_one();
    thread_.join();
  }
  // Valid after Disarm: whether the deadline passed, or the check fired, and the request
  // was ended.
  bool late() const { return late_; }
  bool overrun() const { return overrun_; }

 private:
  std::function<bool()> check_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool done_ = false;
  bool late_ = false;
  bool overrun_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

// The most of an answer the client may read before it finds the head's end: header lines are
// kept in memory at many times their size, so a flood of them is ended early (some 100 MB at
// the most). Counted from what the client has taken from the socket, not what the system
// holds for it, so that a loaded machine parsing a normal head late is not taken for a flood;
// the receive buffer is kept small (kReceiveBuffer) all the same.
constexpr std::size_t kMaxHead = std::size_t{4} << 20;
constexpr int kReceiveBuffer = 256 * 1024;

// One request and its answer, bounded in time and size.
struct Exchange {
  httplib::Error error = httplib::Error::Success;
  int status = 0;
  std::string body;
  bool too_big = false;
  bool head_too_big = false;
  bool late = false;  // the time limit passed before the answer was complete
  bool connect_failed = false;
};

// socket is the client's current socket, as its socket options callback stores it.
Exchange Send(httplib::Client& client, const std::atomic<int>& socket, httplib::Request request,
              std::chrono::milliseconds connect_limit, std::chrono::milliseconds limit,
              std::size_t max_bytes) {
  Exchange out;
  std::atomic<bool> head_done{false};
  // What a kept-alive socket had received before this request; a new one starts at zero.
  const int kept = socket.load();
  const std::uint64_t before = TcpBytesTaken(kept).value_or(0);
  // What the client itself has read of this answer without finding the head's end: bytes that
  // only wait in the system's queue are no flood, however late a loaded machine parses them.
  auto head_too_long = [&] {
    if (head_done) return false;
    const int now = socket.load();
    const std::optional<std::uint64_t> received = TcpBytesTaken(now);
    if (!received) return false;
    // A reconnect may get the old descriptor number back with a counter that starts anew.
    const std::uint64_t base = now == kept && *received >= before ? before : 0;
    return *received - base > kMaxHead;
  };
  const auto start = Clock::now();
  const auto deadline = start + limit;
  client.set_connection_timeout(std::min(connect_limit, limit));
  client.set_read_timeout(limit);
  client.set_write_timeout(limit);
  request.response_handler = [&](const httplib::Response& head) {
    head_done = true;
    // A declared length over the bound ends the call before any of the body is read.
    const std::string length = head.get_header_value("Content-Length");
    if (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > max_bytes) {
      out.too_big = true;
      return false;
    }
    return true;
  };
  request.content_receiver = [&](const char* data, std::size_t size, std::uint64_t, std::uint64_t) {
    head_done = true;  // body bytes come only after a whole head
    if (Clock::now() >= deadline) {
      out.late = true;
      return false;
    }
    if (size > max_bytes - out.body.size()) {
      out.too_big = true;
      return false;
    }
    out.body.append(data, size);
    return true;
  };
  httplib::Response response;
  bool ok = false;
  {
    Watchdog watchdog(client, deadline, head_too_long);
    ok = client.send(request, response, out.error);
    watchdog.Disarm();
    if (watchdog.late()) out.late = true;
    if (watchdog.overrun()) out.head_too_big = true;
  }
  if (ok) {
    out.status = response.status;
    out.late = false;  // complete after all
    return out;
  }
  if (out.error == httplib::Error::Success) out.error = httplib::Error::Unknown;
  out.connect_failed =
      out.error == httplib::Error::Connection || out.error == httplib::Error::ConnectionTimeout;
  if (out.too_big || out.head_too_big) return out;
  // A read that ran into the per-read time-out at the deadline, or a connect into its own.
  const auto took = Clock::now() - start;
  if (took >= limit) out.late = true;
  if (out.connect_failed &&
      (out.error == httplib::Error::ConnectionTimeout || took >= std::min(connect_limit, limit))) {
    out.late = true;
  }
  return out;
}

}  // namespace

struct HttpAppServerChannel::Impl {
  Timeouts timeouts;
  std::unique_ptr<httplib::Client> client;
  std::atomic<int> socket{-1};  // the client's socket, for the head's bound
  std::string server_name;
  std::string where;  // "lum.x at host:port", for messages

  // Why an exchange got no usable answer; a time-out is remembered as a stall of the server.
  // what names the exchange for the stall's later messages.
  std::string Cause(const Exchange& exchange, std::chrono::milliseconds limit,
                    const std::string& what) const {
    if (exchange.head_too_big) return "the answer's head exceeded " + Bytes(kMaxHead);
    if (exchange.too_big) return "the answer exceeded " + Bytes(timeouts.max_answer_bytes);
    if (exchange.late) {
      std::string cause;
      if (exchange.connect_failed) {
        cause = "no connection within " + Seconds(std::min(timeouts.connect, limit));
      } else if (what == "the connect check") {
        cause = "no answer within " + Seconds(limit);
      } else {
        cause = "no complete answer within " + Seconds(limit);
      }
      NoteServerStall(what + " on " + where + ": " + cause);
      return cause;
    }
    switch (exchange.error) {
      case httplib::Error::Connection:
        return "the connection was refused or the host is unreachable";
      case httplib::Error::Read:
      case httplib::Error::Canceled:
        return "the connection closed before the answer was complete";
      case httplib::Error::Write:
        return "the connection failed while sending the request";
      default:
        return httplib::to_string(exchange.error);
    }
  }

  // Fails at once when an earlier exchange of this process ran out of time.
  void RefuseAfterStall(const std::string& failure) const {
    if (ServerHasStalled()) {
      throw Error(failure + "the server stopped answering earlier (" + ServerStallCause() + ")");
    }
  }
};

HttpAppServerChannel::HttpAppServerChannel() : HttpAppServerChannel(Timeouts{}) {}

HttpAppServerChannel::HttpAppServerChannel(Timeouts timeouts) : impl_(std::make_unique<Impl>()) {
  impl_->timeouts = timeouts;
}

HttpAppServerChannel::~HttpAppServerChannel() = default;

void HttpAppServerChannel::Open(const std::string& host, int port, const std::string& server_name) {
  Close();
  std::string bare = host;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  const std::string where = server_name + " at " + host + ":" + std::to_string(port);
  const std::string failure = "Cannot connect to " + where + ": ";
  if (bare.empty() || port <= 0 || port > 65535) throw Error(failure + "no server address");
  impl_->RefuseAfterStall(failure);
  auto client = std::make_unique<httplib::Client>(bare, port);
  client->set_keep_alive(true);
  // A request goes out as two writes (head, body): without this, the body waits for the
  // server's delayed acknowledgement, some 40-90 ms per call.
  client->set_tcp_nodelay(true);
  client->set_url_encode(false);
  impl_->socket = -1;
  client->set_socket_options([socket = &impl_->socket](int fd) {
    const int size = kReceiveBuffer;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    socket->store(fd);
  });
  impl_->server_name = server_name;
  impl_->where = where;
  httplib::Request request;
  request.method = "GET";
  request.path = "/" + PathPart(server_name) + "/";
  const Timeouts& limits = impl_->timeouts;
  const Exchange answer = Send(*client, impl_->socket, std::move(request), limits.connect,
                               limits.connect, limits.max_answer_bytes);
  if (answer.error != httplib::Error::Success) {
    throw Error(failure + impl_->Cause(answer, limits.connect, "the connect check"));
  }
  if (answer.status != 200) {
    throw Error(failure + "the server answered HTTP " + std::to_string(answer.status));
  }
  impl_->client = std::move(client);
}

void HttpAppServerChannel::Close() {
  if (impl_->client) impl_->client->stop();
  impl_->client.reset();
}

std::string HttpAppServerChannel::Call(const std::string& method,
                                       const std::vector<std::string>& args) {
  if (!impl_->client) throw Error("Cannot call " + method + ": not connected");
  const std::string what = "Call " + method + " on " + impl_->where + " failed: ";
  impl_->RefuseAfterStall(what);
  nlohmann::json body = nlohmann::json::array();
  for (const std::string& arg : args) body.push_back(cp1252::ToUtf8(arg));
  httplib::Request request;
  request.method = "POST";
  request.path = "/" + PathPart(impl_->server_name) + "/" + PathPart(method);
  request.set_header("Content-Type", "application/json");
  request.body = body.dump();
  const Timeouts& limits = impl_->timeouts;
  const Exchange answer = Send(*impl_->client, impl_->socket, std::move(request), limits.connect,
                               limits.answer, limits.max_answer_bytes);
  if (answer.error != httplib::Error::Success) {
    throw Error(what + impl_->Cause(answer, limits.answer, method));
  }
  if (answer.status != 200) {
    throw Error(what + "the server answered HTTP " + std::to_string(answer.status));
  }
  nlohmann::json reply;
  try {
    reply = nlohmann::json::parse(answer.body);
  } catch (const nlohmann::json::exception&) {
    throw Error(what + "the answer is not valid JSON");
  }
  if (!reply.is_object() || !reply.contains("result") || !reply["result"].is_string()) {
    throw Error(what + "the answer has no text \"result\"");
  }
  return cp1252::FromUtf8(reply["result"].get<std::string>());
}

}  // namespace jov
