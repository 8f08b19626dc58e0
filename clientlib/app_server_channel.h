// The transport under TNetConnection: one connection to the application server's module.
#pragma once

#include <string>
#include <vector>

namespace jov {

class AppServerChannel {
 public:
  virtual ~AppServerChannel() = default;
  // Connects to the module server_name at host:port; throws Error saying why it failed.
  virtual void Open(const std::string& host, int port, const std::string& server_name) = 0;
  virtual void Close() = 0;
  // A late-bound call of the module's method with text arguments; returns the result text.
  // Throws Error when not open, on a transport failure, a non-200 answer or a bad body.
  virtual std::string Call(const std::string& method, const std::vector<std::string>& args) = 0;
};

}  // namespace jov
