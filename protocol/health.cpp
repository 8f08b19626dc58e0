#include "protocol/health.h"

#include "protocol/file_names.h"
#include "protocol/health_fields.h"

namespace jov::protocol {
namespace health_fields {

using json_fields::Json;
using json_fields::OrderedJson;

void AddSigner(const Signer& signer, OrderedJson& json) {
  if (signer.key.empty() || !signer.counter) return;
  json["key"] = json_fields::CutUtf8(signer.key, kMaxKeyBytes);
  json["counter"] = *signer.counter;
}

std::optional<Signer> SignerOf(const Json& in, std::string& why) {
  Signer signer;
  const bool has_key = in.contains("key"), has_counter = in.contains("counter");
  if (!has_key && !has_counter) return signer;
  if (!has_key || !has_counter || !json_fields::IsText(in["key"], kMaxKeyBytes, false)) {
    why = "bad \"key\" or \"counter\"";
    return std::nullopt;
  }
  signer.counter = json_fields::PositiveInteger(in["counter"]);
  if (!signer.counter) {
    why = "bad \"key\" or \"counter\"";
    return std::nullopt;
  }
  signer.key = in["key"].get<std::string>();
  return signer;
}

OrderedJson ToJson(const HealthEvent& event, bool with_signer) {
  const auto or_null = [](const auto& value) {
    return value ? OrderedJson(*value) : OrderedJson(nullptr);
  };
  OrderedJson json = {{"filial", event.filial},
                      {"caixa", event.caixa},
                      {"host", json_fields::CutUtf8(event.host, kMaxHostBytes)},
                      {"name", event.name},
                      {"version", or_null(event.version)},
                      {"stamp", json_fields::CutUtf8(event.stamp, kMaxStampBytes)},
                      {"signal", or_null(event.signal)},
                      {"exit", or_null(event.exit)},
                      {"seconds", event.seconds},
                      {"at", event.at}};
  if (with_signer) AddSigner(event.signer, json);
  return json;
}

std::optional<HealthEvent> FromJson(const Json& in, std::string& why) {
  if (!in.is_object()) {
    why = "the health event is not a JSON object";
    return std::nullopt;
  }
  for (const char* key :
       {"filial", "caixa", "host", "name", "version", "stamp", "signal", "exit", "seconds", "at"}) {
    if (!in.contains(key)) {
      why = std::string("no \"") + key + "\" in the health event";
      return std::nullopt;
    }
  }
  const auto refuse = [&](const char* what) {
    why = std::string("bad ") + what + " in the health event";
    return std::nullopt;
  };
  HealthEvent event;
  if (!json_fields::IsCode(in["filial"]) || !json_fields::IsCode(in["caixa"])) {
    return refuse("\"filial\" or \"caixa\"");
  }
  if (!json_fields::IsText(in["host"], kMaxHostBytes)) return refuse("\"host\"");
  if (!in["name"].is_string() || !SafeFileName(in["name"].get_ref<const std::string&>())) {
    return refuse("\"name\"");
  }
  if (!in["version"].is_null()) {
    event.version = json_fields::PositiveInteger(in["version"]);
    if (!event.version) return refuse("\"version\"");
  }
  if (!json_fields::IsText(in["stamp"], kMaxStampBytes)) return refuse("\"stamp\"");
  const auto small = [&](const Json& value, int max, std::optional<int>& out) {
    if (value.is_null()) return true;
    const std::optional<std::int64_t> number = json_fields::PositiveInteger(value);
    if (!number || *number > max) return false;
    out = static_cast<int>(*number);
    return true;
  };
  if (!small(in["signal"], kMaxSignal, event.signal) ||
      !small(in["exit"], kMaxExitCode, event.exit) ||
      event.signal.has_value() == event.exit.has_value()) {
    return refuse("\"signal\" or \"exit\" (one of them, not both)");
  }
  if (!json_fields::IsSeconds(in["seconds"])) return refuse("\"seconds\"");
  if (!json_fields::IsIsoTime(in["at"])) return refuse("\"at\"");
  event.filial = in["filial"].get<std::string>();
  event.caixa = in["caixa"].get<std::string>();
  event.host = in["host"].get<std::string>();
  event.name = in["name"].get<std::string>();
  event.stamp = in["stamp"].get<std::string>();
  event.seconds = in["seconds"].get<double>();
  event.at = in["at"].get<std::string>();
  std::optional<Signer> signer = SignerOf(in, why);
  if (!signer) return std::nullopt;
  event.signer = std::move(*signer);
  return event;
}

}  // namespace health_fields

std::string WriteHealthEvent(const HealthEvent& event) {
  return json_fields::Dump(health_fields::ToJson(event, true));
}

Parsed<HealthEvent> ReadHealthEvent(std::string_view text) {
  constexpr int kMaxDepth = 4;
  Parsed<HealthEvent> parsed;
  if (text.size() > kMaxHealthBytes) {
    parsed.why = "the health event is larger than 16 KiB";
    return parsed;
  }
  const std::optional<json_fields::Json> json =
      json_fields::ParseUtf8OrCp1252(text, kMaxHealthBytes, kMaxDepth);
  if (!json) {
    parsed.why = "the health event is not JSON";
    return parsed;
  }
  parsed.value = health_fields::FromJson(*json, parsed.why);
  return parsed;
}

}  // namespace jov::protocol
