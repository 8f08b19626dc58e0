#include "protocol/report.h"

#include <algorithm>

#include "protocol/file_names.h"
#include "protocol/health_fields.h"
#include "protocol/json_fields.h"

namespace jov::protocol {
namespace {

using json_fields::CutUtf8;
using json_fields::Json;
using json_fields::OrderedJson;

constexpr int kMaxDepth = 8;
constexpr std::string_view kOutcomes[] = {"nothing", "installed", "failed"};

template <typename T>
std::size_t Kept(const std::vector<T>& list, std::size_t max) {
  return std::min(list.size(), max);
}

OrderedJson ToJson(const Report& report) {
  OrderedJson installed = OrderedJson::array();
  for (std::size_t i = 0; i < Kept(report.installed, kMaxReportFiles); ++i) {
    installed.push_back(CutUtf8(report.installed[i], kMaxNameBytes));
  }
  OrderedJson failure = nullptr;
  if (report.failure) {
    failure = {{"file", CutUtf8(report.failure->file, kMaxNameBytes)},
               {"reason", CutUtf8(report.failure->reason, kMaxReasonBytes)}};
  }
  OrderedJson files = OrderedJson::array();
  for (std::size_t i = 0; i < Kept(report.files, kMaxReportFiles); ++i) {
    const ReportedFile& file = report.files[i];
    files.push_back({{"name", CutUtf8(file.name, kMaxNameBytes)},
                     {"stamp", CutUtf8(file.stamp, kMaxStampBytes)},
                     {"size", file.size},
                     {"sha256", file.sha256},
                     {"version", file.version ? OrderedJson(*file.version) : nullptr}});
  }
  OrderedJson json = {{"filial", report.filial},
                      {"caixa", report.caixa},
                      {"host", CutUtf8(report.host, kMaxHostBytes)},
                      {"launcher", CutUtf8(report.launcher, kMaxLauncherBytes)},
                      {"started", report.started},
                      {"seconds", report.seconds},
                      {"outcome", OutcomeText(report.outcome)},
                      {"installed", installed},
                      {"failure", failure},
                      {"files", files}};
  if (!report.health.empty()) {
    OrderedJson health = OrderedJson::array();
    for (std::size_t i = 0; i < Kept(report.health, kMaxReportHealth); ++i) {
      health.push_back(health_fields::ToJson(report.health[i], false));
    }
    json["health"] = health;
  }
  health_fields::AddSigner(report.signer, json);
  return json;
}

// The report of a parsed value; the reason of the first field that is wrong in why when none.
std::optional<Report> FromJson(const Json& in, std::string& why) {
  const auto refuse = [&](std::string reason) {
    why = std::move(reason);
    return std::nullopt;
  };
  if (!in.is_object()) return refuse("the report is not a JSON object");
  for (const char* key : {"filial", "caixa", "host", "launcher", "started", "seconds", "outcome",
                          "installed", "failure", "files"}) {
    if (!in.contains(key)) return refuse(std::string("no \"") + key + "\"");
  }
  Report report;
  if (!json_fields::IsCode(in["filial"]) || !json_fields::IsCode(in["caixa"])) {
    return refuse("bad \"filial\" or \"caixa\"");
  }
  if (!json_fields::IsText(in["host"], kMaxHostBytes) ||
      !json_fields::IsText(in["launcher"], kMaxLauncherBytes)) {
    return refuse("bad \"host\" or \"launcher\"");
  }
  if (!json_fields::IsIsoTime(in["started"])) {
    return refuse("\"started\" is not an ISO 8601 time with its offset");
  }
  if (!json_fields::IsSeconds(in["seconds"])) return refuse("bad \"seconds\"");
  const std::optional<Outcome> outcome =
      in["outcome"].is_string() ? OutcomeOf(in["outcome"].get_ref<const std::string&>())
                                : std::nullopt;
  if (!outcome) return refuse("\"outcome\" is not \"nothing\", \"installed\" or \"failed\"");
  const Json& installed = in["installed"];
  if (!installed.is_array() || installed.size() > kMaxReportFiles) {
    return refuse("bad \"installed\"");
  }
  for (const Json& name : installed) {
    if (!json_fields::IsText(name, kMaxNameBytes, false)) return refuse("bad \"installed\"");
    report.installed.push_back(name.get<std::string>());
  }
  const Json& failure = in["failure"];
  if (!failure.is_null()) {
    if (!failure.is_object() || !failure.contains("file") || !failure.contains("reason") ||
        !json_fields::IsText(failure["file"], kMaxNameBytes) ||
        !json_fields::IsText(failure["reason"], kMaxReasonBytes)) {
      return refuse("\"failure\" is neither null nor {\"file\", \"reason\"}");
    }
    report.failure =
        ReportedFailure{failure["file"].get<std::string>(), failure["reason"].get<std::string>()};
  }
  const Json& files = in["files"];
  if (!files.is_array() || files.size() > kMaxReportFiles) return refuse("bad \"files\"");
  for (const Json& file : files) {
    if (!file.is_object() || !file.contains("name") || !file.contains("stamp") ||
        !file.contains("size") || !file.contains("sha256") ||
        !json_fields::IsText(file["name"], kMaxNameBytes, false) ||
        !json_fields::IsText(file["stamp"], kMaxStampBytes) || !json_fields::Count(file["size"]) ||
        !json_fields::IsSha256(file["sha256"], true)) {
      return refuse("bad entry of \"files\"");
    }
    ReportedFile entry{file["name"].get<std::string>(), file["stamp"].get<std::string>(),
                       *json_fields::Count(file["size"]), file["sha256"].get<std::string>(),
                       std::nullopt};
    if (file.contains("version") && !file["version"].is_null()) {
      entry.version = json_fields::PositiveInteger(file["version"]);
      if (!entry.version) return refuse("bad \"version\" of an entry of \"files\"");
    }
    report.files.push_back(std::move(entry));
  }
  if (in.contains("health") && !in["health"].is_null()) {
    const Json& health = in["health"];
    if (!health.is_array() || health.size() > kMaxReportHealth) return refuse("bad \"health\"");
    for (const Json& event : health) {
      std::optional<HealthEvent> taken = health_fields::FromJson(event, why);
      if (!taken) return std::nullopt;
      taken->signer = {};  // the report's signature covers its events
      report.health.push_back(std::move(*taken));
    }
  }
  report.filial = in["filial"].get<std::string>();
  report.caixa = in["caixa"].get<std::string>();
  report.host = in["host"].get<std::string>();
  report.launcher = in["launcher"].get<std::string>();
  report.started = in["started"].get<std::string>();
  report.seconds = in["seconds"].get<double>();
  report.outcome = *outcome;
  std::optional<Signer> signer = health_fields::SignerOf(in, why);
  if (!signer) return std::nullopt;
  report.signer = std::move(*signer);
  return report;
}

}  // namespace

std::string_view OutcomeText(Outcome outcome) {
  return kOutcomes[static_cast<std::size_t>(outcome)];
}

std::optional<Outcome> OutcomeOf(std::string_view text) {
  for (std::size_t i = 0; i < std::size(kOutcomes); ++i) {
    if (text == kOutcomes[i]) return static_cast<Outcome>(i);
  }
  return std::nullopt;
}

std::string WriteReport(const Report& report) { return json_fields::Dump(ToJson(report)); }

Parsed<Report> ReadReport(std::string_view text) {
  Parsed<Report> parsed;
  if (text.size() > kMaxReportBytes) {
    parsed.why = "the report is larger than 64 KiB";
    return parsed;
  }
  const std::optional<Json> json = json_fields::ParseUtf8OrCp1252(text, kMaxReportBytes, kMaxDepth);
  if (!json) {
    parsed.why = "the report is not JSON";
    return parsed;
  }
  parsed.value = FromJson(*json, parsed.why);
  return parsed;
}

}  // namespace jov::protocol
