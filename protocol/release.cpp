#include "protocol/release.h"

#include <cstdio>

#include "platform/cp1252.h"
#include "protocol/file_names.h"
#include "protocol/json_fields.h"

namespace jov::protocol {
namespace {

using json_fields::Json;
using json_fields::OrderedJson;

constexpr int kMaxDepth = 4;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// The release of a parsed value; the reason for the first field that is wrong in why when
// none.
std::optional<Release> FromJson(const Json& in, std::string& why) {
  const auto refuse = [&](const char* reason) {
    why = cp1252::FromUtf8(reason);
    return std::nullopt;
  };
  if (!in.is_object()) return refuse("a publicação não é um objeto JSON");
  Release release;
  if (!in.contains("file") || !in["file"].is_string() ||
      !SafeFileName(in["file"].get_ref<const std::string&>())) {
    return refuse("a publicação não indica um nome de arquivo válido");
  }
  release.file = in["file"].get<std::string>();
  const auto version =
      in.contains("version") ? json_fields::PositiveInteger(in["version"]) : std::nullopt;
  if (!version) return refuse("a versão da publicação não é um inteiro positivo");
  release.version = *version;
  const auto size = in.contains("size") ? json_fields::Count(in["size"]) : std::nullopt;
  if (!size) return refuse("o tamanho da publicação não é um inteiro não negativo");
  release.size = *size;
  if (!in.contains("sha256") || !json_fields::IsSha256(in["sha256"], false)) {
    return refuse("o sha256 da publicação não tem 64 dígitos hexadecimais minúsculos");
  }
  release.sha256 = in["sha256"].get<std::string>();
  const auto expires = in.contains("expires") && in["expires"].is_string()
                           ? ParseUtcTime(in["expires"].get_ref<const std::string&>())
                           : std::nullopt;
  if (!expires) return refuse("a validade da publicação não é uma data AAAA-MM-DDTHH:MM:SSZ");
  release.expires = *expires;
  if (in.contains("program") && !in["program"].is_null()) {
    const Json& program = in["program"];
    const auto program_size = program.is_object() && program.contains("size")
                                  ? json_fields::Count(program["size"])
                                  : std::nullopt;
    if (!program_size || !program.contains("sha256") ||
        !json_fields::IsSha256(program["sha256"], false)) {
      return refuse("o programa da publicação não traz tamanho e sha256 válidos");
    }
    release.program = ReleasedProgram{*program_size, program["sha256"].get<std::string>()};
  }
  if (in.contains("deltas") && !in["deltas"].is_null()) {
    const Json& deltas = in["deltas"];
    if (!deltas.is_array() || deltas.size() > kMaxReleaseDeltas) {
      return refuse("as diferenças da publicação não são uma lista de até 64 itens");
    }
    for (const Json& delta : deltas) {
      const auto delta_size = delta.is_object() && delta.contains("size")
                                  ? json_fields::Count(delta["size"])
                                  : std::nullopt;
      if (!delta_size || !delta.contains("from") || !json_fields::IsSha256(delta["from"], false)) {
        return refuse("uma diferença da publicação não traz origem e tamanho válidos");
      }
      const std::string from = delta["from"].get<std::string>();
      if (!delta.contains("file") || delta["file"] != DeltaNameOf(release.file, from)) {
        return refuse(
            "uma diferença da publicação não se chama <arquivo>.<16 dígitos hexadecimais>.zst");
      }
      release.deltas.push_back({from, delta["file"].get<std::string>(), *delta_size});
    }
  }
  return release;
}

}  // namespace

std::string UtcTimeText(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days since 1970-01-01.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  // Exactly "YYYY-MM-DDTHH:MM:SSZ".
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  const auto number = [&](std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0) || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string WriteRelease(const Release& release) {
  OrderedJson json = {{"file", release.file},
                      {"version", release.version},
                      {"size", release.size},
                      {"sha256", release.sha256},
                      {"expires", UtcTimeText(release.expires)}};
  if (release.program) {
    json["program"] = {{"size", release.program->size}, {"sha256", release.program->sha256}};
  }
  if (!release.deltas.empty()) {
    OrderedJson deltas = OrderedJson::array();
    for (const ReleaseDelta& delta : release.deltas) {
      deltas.push_back({{"from", delta.from}, {"file", delta.file}, {"size", delta.size}});
    }
    json["deltas"] = deltas;
  }
  return json_fields::Dump(json);
}

Parsed<Release> ReadRelease(std::string_view text) {
  Parsed<Release> parsed;
  if (text.size() > kMaxReleaseBytes) {
    parsed.why = cp1252::FromUtf8("a publicação tem mais de 64 KiB");
    return parsed;
  }
  const std::optional<Json> json = json_fields::ParseBounded(text, kMaxReleaseBytes, kMaxDepth);
  if (!json) {
    parsed.why = cp1252::FromUtf8("a publicação não é JSON");
    return parsed;
  }
  parsed.value = FromJson(*json, parsed.why);
  return parsed;
}

}  // namespace jov::protocol
