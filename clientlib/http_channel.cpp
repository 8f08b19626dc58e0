#include "clientlib/http_channel.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {
namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(std::chrono::milliseconds span) {
  const auto ms = span.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
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

}  // namespace

struct HttpAppServerChannel::Impl {
  Timeouts timeouts;
  std::unique_ptr<httplib::Client> client;
  std::string server_name;
  std::string where;  // "lum.x at host:port", for messages

  // Why a request got no answer, told apart by how long it took.
  std::string Cause(httplib::Error error, Clock::duration took) const {
    switch (error) {
      case httplib::Error::Connection:
        return took >= timeouts.connect ? "no connection within " + Seconds(timeouts.connect)
                                        : "the connection was refused or the host is unreachable";
      case httplib::Error::ConnectionTimeout:
        return "no connection within " + Seconds(timeouts.connect);
      case httplib::Error::Read:
        return took >= timeouts.read ? "no answer within " + Seconds(timeouts.read)
                                     : "the connection closed before the answer was complete";
      case httplib::Error::Write:
        return "the connection failed while sending the request";
      default:
        return httplib::to_string(error);
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
  if (bare.empty() || port <= 0 || port > 65535) {
    throw Error("Cannot connect to " + where + ": no server address");
  }
  auto client = std::make_unique<httplib::Client>(bare, port);
  client->set_keep_alive(true);
  // A request goes out as two writes (head, body): without this, the body waits for the
  // server's delayed acknowledgement, some 40-90 ms per call.
  client->set_tcp_nodelay(true);
  client->set_url_encode(false);
  client->set_connection_timeout(impl_->timeouts.connect);
  client->set_read_timeout(impl_->timeouts.read);
  client->set_write_timeout(impl_->timeouts.read);
  impl_->server_name = server_name;
  impl_->where = where;
  const auto start = Clock::now();
  const httplib::Result answer = client->Get("/" + PathPart(server_name) + "/");
  if (!answer) {
    throw Error("Cannot connect to " + where + ": " +
                impl_->Cause(answer.error(), Clock::now() - start));
  }
  if (answer->status != 200) {
    throw Error("Cannot connect to " + where + ": the server answered HTTP " +
                std::to_string(answer->status));
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
  nlohmann::json body = nlohmann::json::array();
  for (const std::string& arg : args) body.push_back(cp1252::ToUtf8(arg));
  const std::string what = "Call " + method + " on " + impl_->where + " failed: ";
  const auto start = Clock::now();
  const httplib::Result answer = impl_->client->Post(
      "/" + PathPart(impl_->server_name) + "/" + PathPart(method), body.dump(), "application/json");
  if (!answer) throw Error(what + impl_->Cause(answer.error(), Clock::now() - start));
  if (answer->status != 200) {
    throw Error(what + "the server answered HTTP " + std::to_string(answer->status));
  }
  nlohmann::json reply;
  try {
    reply = nlohmann::json::parse(answer->body);
  } catch (const nlohmann::json::exception&) {
    throw Error(what + "the answer is not valid JSON");
  }
  if (!reply.is_object() || !reply.contains("result") || !reply["result"].is_string()) {
    throw Error(what + "the answer has no text \"result\"");
  }
  return cp1252::FromUtf8(reply["result"].get<std::string>());
}

}  // namespace jov
