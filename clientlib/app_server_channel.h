// The transport under TNetConnection: one connection to the application server's module.
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace jov {

// What one call of AppServerChannel::CallAll came to: the result text, or what Call would
// have thrown.
struct CallOutcome {
  std::string result;
  std::exception_ptr error;
};

class AppServerChannel {
 public:
  virtual ~AppServerChannel() = default;
  // Connects to the module server_name at host:port; throws Error saying why it failed.
  virtual void Open(const std::string& host, int port, const std::string& server_name) = 0;
  virtual void Close() = 0;
  // A late-bound call of the module's method with text arguments; returns the result text.
  // Throws Error when not open, on a transport failure, a non-200 answer or a bad body.
  virtual std::string Call(const std::string& method, const std::vector<std::string>& args) = 0;
  // The method called once with each argument list; the outcomes in the order of arguments,
  // each what Call would have come to had the calls been made one after another in that order.
  // This one makes them so; a channel may make them together.
  virtual std::vector<CallOutcome> CallAll(const std::string& method,
                                           const std::vector<std::vector<std::string>>& arguments) {
    std::vector<CallOutcome> outcomes(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      try {
        outcomes[i].result = Call(method, arguments[i]);
      } catch (...) {
        outcomes[i].error = std::current_exception();
      }
    }
    return outcomes;
  }
  // Open, then CallAll: throws what Open throws (and then makes no call); each call's failure
  // is in its outcome. A channel may make the calls while the connection is being checked,
  // using what they bring only once the check has passed.
  virtual std::vector<CallOutcome> OpenAndCallAll(
      const std::string& host, int port, const std::string& server_name, const std::string& method,
      const std::vector<std::vector<std::string>>& arguments) {
    Open(host, port, server_name);
    try {
      return CallAll(method, arguments);
    } catch (...) {
      std::vector<CallOutcome> outcomes(arguments.size());
      for (CallOutcome& outcome : outcomes) outcome.error = std::current_exception();
      return outcomes;
    }
  }
};

}  // namespace jov
