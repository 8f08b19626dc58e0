#include "clientlib/http_channel.h"

#include "platform/errors.h"

namespace jov {

struct HttpAppServerChannel::Impl {};

HttpAppServerChannel::HttpAppServerChannel() : impl_(std::make_unique<Impl>()) {}
HttpAppServerChannel::~HttpAppServerChannel() = default;

void HttpAppServerChannel::Open(const std::string& host, int port, const std::string& server_name) {
  throw Error("Cannot connect to " + server_name + " at " + host + ":" + std::to_string(port) +
              ": not available");
}
void HttpAppServerChannel::Close() {}
std::string HttpAppServerChannel::Call(const std::string& method, const std::vector<std::string>&) {
  throw Error("Cannot call " + method + ": not connected");
}

}  // namespace jov
