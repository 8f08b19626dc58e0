#include "clientlib/net_connection.h"

#include "platform/cp1252.h"
#include "platform/errors.h"

namespace jov {

TNetConnection::~TNetConnection() {
  if (connected_) {
    try {
      channel_.Close();
    } catch (...) {
    }
  }
}

void TNetConnection::SetConnected(bool value) {
  if (value == connected_) return;
  if (!value) {
    connected_ = false;
    channel_.Close();
    return;
  }
  if (BeforeConnect) BeforeConnect(*this);
  channel_.Open(Host, Port, ServerName);
  connected_ = true;
}

std::string TNetConnection::AppServer(const std::string& method, const std::string& argument) {
  if (!connected_) {
    throw Error("Connection to " + ServerName + " is not open", Cause::kNotConnected,
                {.subject = ServerName});
  }
  return channel_.Call(method, {argument});
}

}  // namespace jov
