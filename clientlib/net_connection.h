// TNetConnection: the form's connection component to the application server.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "clientlib/app_server_channel.h"

namespace jov {

class TNetConnection {
 public:
  explicit TNetConnection(AppServerChannel& channel) : channel_(channel) {}
  ~TNetConnection();

  std::string ServerName;
  bool ThrowException = false;
  std::string Host;
  int Port = 0;
  // Runs at every connect, before the channel opens; may set Host and Port.
  std::function<void(TNetConnection&)> BeforeConnect;

  bool Connected() const { return connected_; }
  // Connecting runs BeforeConnect and opens the channel; failures raise. Disconnecting closes.
  void SetConnected(bool value);
  // The late-bound call on the server object; raises when not connected or the call fails.
  std::string AppServer(const std::string& method, const std::string& argument);
  // The method called with each argument (see AppServerChannel::CallAll); raises only when not
  // connected, each call's failure is in its outcome.
  std::vector<CallOutcome> AppServerAll(const std::string& method,
                                        const std::vector<std::string>& arguments);
  // Connects (as SetConnected(true)) and calls the method with each argument, the calls
  // perhaps in flight while the connection is checked: raises only what connecting raises
  // (and then stays disconnected), each call's failure is in its outcome.
  std::vector<CallOutcome> ConnectAndCallAll(const std::string& method,
                                             const std::vector<std::string>& arguments);

 private:
  AppServerChannel& channel_;
  bool connected_ = false;
};

// Disconnects the connection when the scope ends, however it ends; closing never reports.
struct DisconnectOnExit {
  TNetConnection& connection;
  ~DisconnectOnExit() {
    try {
      connection.SetConnected(false);
    } catch (...) {
      // the connection is dropped either way
    }
  }
};

}  // namespace jov
