// Helpers of the server tests that drive the launcher form.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "clientlib/http_channel.h"
#include "platform/registry.h"
#include "tests/support/launcher_fixture.h"

namespace jov::testing {

// The texts of the log's lines, time stamps left off ("08/12/2026 10:30:15 - text" -> "text").
std::vector<std::string> LogLines(const std::string& log);
// The log's lines that hold the text.
std::vector<std::string> LinesWith(const std::string& log, const std::string& text);

// A registry that records the values it was asked to change, in order, and passes every
// call on.
class CountingRegistry : public Registry {
 public:
  explicit CountingRegistry(Registry& inner) : inner_(inner) {}
  std::vector<std::string> changed;  // "WriteString HttpPort", "DeleteValue HttpPort", ...

  bool OpenKey(const std::string& key, bool create) override;
  bool ValueExists(const std::string& key, const std::string& name) override;
  std::string ReadString(const std::string& key, const std::string& name) override;
  std::int32_t ReadInteger(const std::string& key, const std::string& name) override;
  void WriteString(const std::string& key, const std::string& name,
                   const std::string& value) override;
  void WriteInteger(const std::string& key, const std::string& name, std::int32_t value) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;

 private:
  Registry& inner_;
};

// The launcher's form over a real channel to a server on loopback: the reachability test
// answers, and the library's server is 127.0.0.1.
class LoopbackStartTest : public LauncherTest {
 protected:
  void SetUp() override;
  // Creates the form, whose start talks to the server at port over the channel, and ends it;
  // returns how long the creation took.
  std::chrono::steady_clock::duration CreateForm(HttpAppServerChannel& channel, int port);
};

}  // namespace jov::testing
