// The reference application server, started for a test on a free loopback port.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "tests/support/child_process.h"

namespace jov::testing {

// The message of the exception of type E (a jov::Error by default) that the action raises;
// "no error" when it raises none. Another exception goes on to the caller.
template <typename E = Error>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& error) {
    return error.what();
  }
  return "no error";
}

// The jov::Error the action raises, with its message and reason; Error("no error") when it
// raises none.
inline Error ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error;
  }
  return Error("no error");
}

// jov-appserver on a free loopback port, started with the extra arguments.
class AppServer {
 public:
  explicit AppServer(const std::vector<std::string>& args, const std::string& stderr_path,
                     const std::vector<std::string>& env = {});
  int port() const { return port_; }
  Process& process() { return process_; }

 private:
  Process process_;
  int port_ = 0;
};

// A socket connected to 127.0.0.1:port from the loopback address from (as registers come
// from several hosts); -1 when the bind or the connect fails.
int ConnectedFrom(int port, const std::string& from = "127.0.0.1");

}  // namespace jov::testing
