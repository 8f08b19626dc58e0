#include "tests/server/launcher_support.h"

namespace jov::testing {

std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < log.size();) {
    std::size_t end = log.find("\r\n", start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    const auto dash = line.find(" - ");
    if (line != " " && dash != std::string::npos) line = line.substr(dash + 3);
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> LinesWith(const std::string& log, const std::string& text) {
  std::vector<std::string> found;
  for (const std::string& line : LogLines(log)) {
    if (line.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

bool CountingRegistry::OpenKey(const std::string& key, bool create) {
  return inner_.OpenKey(key, create);
}
bool CountingRegistry::ValueExists(const std::string& key, const std::string& name) {
  return inner_.ValueExists(key, name);
}
std::string CountingRegistry::ReadString(const std::string& key, const std::string& name) {
  return inner_.ReadString(key, name);
}
std::int32_t CountingRegistry::ReadInteger(const std::string& key, const std::string& name) {
  return inner_.ReadInteger(key, name);
}
void CountingRegistry::WriteString(const std::string& key, const std::string& name,
                                   const std::string& value) {
  changed.push_back("WriteString " + name);
  inner_.WriteString(key, name, value);
}
void CountingRegistry::WriteInteger(const std::string& key, const std::string& name,
                                    std::int32_t value) {
  changed.push_back("WriteInteger " + name);
  inner_.WriteInteger(key, name, value);
}
bool CountingRegistry::DeleteValue(const std::string& key, const std::string& name) {
  changed.push_back("DeleteValue " + name);
  return inner_.DeleteValue(key, name);
}

void LoopbackStartTest::SetUp() {
  LauncherTest::SetUp();
  fake.console.outputs = {
      "    Pacotes: Enviados = 1, Recebidos = 1, Perdidos = 0 (0% de perda),\r\n"};
  fake.library.web_url = "127.0.0.1";
}

std::chrono::steady_clock::duration LoopbackStartTest::CreateForm(HttpAppServerChannel& channel,
                                                                  int port) {
  fake.library.web_port = port;
  Services services = fake.Wire({.server = &channel});
  const auto start = std::chrono::steady_clock::now();
  auto form = std::make_unique<Cli_jov00000::TfrmEscolheSistema>(services);
  const auto took = std::chrono::steady_clock::now() - start;
  form.reset();
  return took;
}

}  // namespace jov::testing
