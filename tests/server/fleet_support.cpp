#include "tests/server/fleet_support.h"

#include <httplib.h>

#include "protocol/signed_text.h"

namespace jov::testing {

nlohmann::json FleetReport(const std::string& filial, const std::string& caixa,
                           const std::vector<std::pair<std::string, std::string>>& files,
                           const std::string& outcome, const std::string& reason) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& [name, stamp] : files) {
    list.push_back(
        {{"name", name}, {"stamp", stamp}, {"size", 1024}, {"sha256", std::string(64, 'a')}});
  }
  nlohmann::json failure = nullptr;
  if (!reason.empty())
    failure = {{"file", files.empty() ? "" : files.front().first}, {"reason", reason}};
  return {{"filial", filial},
          {"caixa", caixa},
          {"host", "caixa-" + filial + "-" + caixa},
          {"launcher", "2.1.0"},
          {"started", "2026-12-09T08:00:00-03:00"},
          {"seconds", 1.25},
          {"outcome", outcome},
          {"installed", nlohmann::json::array()},
          {"failure", failure},
          {"files", list}};
}

nlohmann::json FleetHealth(const std::string& filial, const std::string& caixa,
                           const std::string& name, int signal) {
  return {{"filial", filial},
          {"caixa", caixa},
          {"host", "caixa-" + filial + "-" + caixa},
          {"name", name},
          {"version", 42},
          {"stamp", "20261201000000"},
          {"signal", signal},
          {"exit", nullptr},
          {"seconds", 3.5},
          {"at", "2026-12-09T08:01:00-03:00"}};
}

std::string Signed(nlohmann::json object, const jov::sign::SigningKey& key, std::int64_t counter) {
  object["key"] = key.PublicKeyBase64();
  object["counter"] = counter;
  const std::string text = object.dump();
  return jov::protocol::AppendSignature(text, key.SignatureBase64(text));
}

namespace {

std::pair<int, std::string> Call(int port, const std::string& method, const std::string& text) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(30, 0);
  const auto answer = client.Post("/lum.rdmAtualizaEstrutura/" + method,
                                  nlohmann::json::array({text}).dump(), "application/json");
  return answer ? std::pair{answer->status, answer->body} : std::pair{0, std::string()};
}

}  // namespace

std::pair<int, std::string> SendReport(int port, const std::string& text) {
  return Call(port, "ReportUpdate", text);
}

std::pair<int, std::string> SendHealth(int port, const std::string& text) {
  return Call(port, "ReportHealth", text);
}

std::pair<int, std::string> GetFleet(int port, const std::string& path, const std::string& token) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(30, 0);
  httplib::Headers headers;
  if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
  const auto answer = client.Get(path, headers);
  return answer ? std::pair{answer->status, answer->body} : std::pair{0, std::string()};
}

}  // namespace jov::testing
