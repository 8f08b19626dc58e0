// AppServerChannel over HTTP/1.1: the application server's protocol.
#pragma once

#include <chrono>
#include <memory>

#include "clientlib/app_server_channel.h"

namespace jov {

// Open checks GET /<server name>/ for 200; Call posts a JSON array of the arguments to
// /<server name>/<method> and takes "result" from the JSON object answered with 200. Texts
// travel as JSON strings of their Windows-1252 characters. One keep-alive connection serves
// every call until Close. Every call blocks for at most the connect plus the read time-out.
class HttpAppServerChannel : public AppServerChannel {
 public:
  struct Timeouts {
    std::chrono::milliseconds connect{5000};
    std::chrono::milliseconds read{30000};
  };

  HttpAppServerChannel();
  explicit HttpAppServerChannel(Timeouts timeouts);
  ~HttpAppServerChannel() override;
  void Open(const std::string& host, int port, const std::string& server_name) override;
  void Close() override;
  std::string Call(const std::string& method, const std::vector<std::string>& args) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jov
