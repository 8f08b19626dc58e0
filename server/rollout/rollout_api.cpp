#include "server/rollout/rollout_api.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "server/http/message.h"
#include "server/rollout/waves.h"

namespace appserver::rollout {
namespace {

using nlohmann::json;

json ToJson(const Rollout& r) {
  return {{"file", r.file},
          {"version", r.version},
          {"state", r.state},
          {"wave", r.wave},
          {"waves", r.waves},
          {"installed", r.installed},
          {"failed", r.failed},
          {"waiting", r.waiting},
          {"reasons", r.reasons},
          {"halt_at", r.halt_at},
          {"soak_minutes", r.soak_minutes},
          {"wave_started", r.wave_started}};
}

std::optional<StartRequest> FromJson(const std::string& body, std::string& why) {
  const json in = json::parse(body, nullptr, false);
  if (!in.is_object()) {
    why = "the body must be a JSON object";
    return std::nullopt;
  }
  StartRequest request;
  if (!in.contains("file") || !in["file"].is_string()) {
    why = "file must be a text";
    return std::nullopt;
  }
  request.file = in["file"].get<std::string>();
  if (!in.contains("waves") || !in["waves"].is_array() || in["waves"].size() > kMaxWaves) {
    why = "waves must be a list of texts";
    return std::nullopt;
  }
  for (const json& wave : in["waves"]) {
    if (!wave.is_string()) {
      why = "waves must be a list of texts";
      return std::nullopt;
    }
    request.waves.push_back(wave.get<std::string>());
  }
  if (!in.contains("halt_at") || !in["halt_at"].is_number()) {
    why = "halt_at must be a number";
    return std::nullopt;
  }
  request.halt_at = in["halt_at"].get<double>();
  if (!in.contains("soak_minutes") || !in["soak_minutes"].is_number_integer()) {
    why = "soak_minutes must be a whole number";
    return std::nullopt;
  }
  const auto soak = in["soak_minutes"].get<std::int64_t>();
  request.soak_minutes = soak < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(soak, 1 << 30));
  return request;
}

std::optional<StartRequest> FromForm(const std::string& body, std::string& why) {
  http::Request form;
  form.query = body;
  const auto file = form.Param("file");
  const auto waves = form.Param("waves");
  const auto halt_at = form.Param("halt_at");
  const auto soak = form.Param("soak_minutes");
  if (!file || !waves || !halt_at || !soak) {
    why = "the form needs file, waves, halt_at and soak_minutes";
    return std::nullopt;
  }
  StartRequest request;
  request.file = *file;
  std::size_t start = 0;
  while ((start = waves->find_first_not_of(" \t\r\n", start)) != std::string::npos) {
    const std::size_t end = waves->find_first_of(" \t\r\n", start);
    request.waves.push_back(waves->substr(start, end - start));
    if (request.waves.size() > kMaxWaves) break;
    start = end;
  }
  // The whole text must be the number: "0.05x" is no number.
  const auto number = [](const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && std::isfinite(value);
  };
  double soak_value = 0;
  if (!number(*halt_at, request.halt_at)) {
    why = "halt_at must be a number";
    return std::nullopt;
  }
  if (!number(*soak, soak_value) || soak_value != std::floor(soak_value)) {
    why = "soak_minutes must be a whole number";
    return std::nullopt;
  }
  request.soak_minutes = soak_value < 0 ? -1 : static_cast<int>(std::min(soak_value, 1e9));
  return request;
}

}  // namespace

std::optional<StartRequest> ReadStartRequest(const std::string& body, bool form, std::string& why) {
  if (body.size() > kMaxRequestBytes) {
    why = "the request is larger than " + std::to_string(kMaxRequestBytes) + " bytes";
    return std::nullopt;
  }
  return form ? FromForm(body, why) : FromJson(body, why);
}

std::optional<Action> ActionOf(std::string_view name) {
  if (name == "halt") return Action::kHalt;
  if (name == "resume") return Action::kResume;
  if (name == "advance") return Action::kAdvance;
  if (name == "undo") return Action::kUndo;
  return std::nullopt;
}

std::string RolloutJson(const Rollout& rollout) {
  return ToJson(rollout).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string RolloutsJson(const std::vector<Rollout>& rollouts) {
  json list = json::array();
  for (const Rollout& r : rollouts) list.push_back(ToJson(r));
  return json{{"rollouts", list}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace appserver::rollout
