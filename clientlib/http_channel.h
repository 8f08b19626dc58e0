// AppServerChannel over HTTP/1.1: the application server's protocol.
#pragma once

#include <memory>

#include "clientlib/app_server_channel.h"

namespace jov {

class HttpAppServerChannel : public AppServerChannel {
 public:
  HttpAppServerChannel();
  ~HttpAppServerChannel() override;
  void Open(const std::string& host, int port, const std::string& server_name) override;
  void Close() override;
  std::string Call(const std::string& method, const std::vector<std::string>& args) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jov
