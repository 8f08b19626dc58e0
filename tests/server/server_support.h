// The reference application server, started for a test on a free loopback port.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace jov::testing {

// The message of the jov::Error the action raises; "no error" when it raises none.
std::string MessageOf(const std::function<void()>& action);

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

}  // namespace jov::testing
