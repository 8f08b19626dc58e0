// The update report of a start: what "ReportUpdate" takes from a register and the chain's
// server keeps of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/health.h"
#include "protocol/parsed.h"

namespace jov::protocol {

// The bounds, the same on both sides: the reader refuses a report past any of them; the writer
// cuts host, launcher, stamps and the failure's texts to them and keeps the first entries of
// each list, so what it writes is taken.
inline constexpr std::size_t kMaxReportBytes = 64 * 1024;
inline constexpr std::size_t kMaxLauncherBytes = 64;
inline constexpr std::size_t kMaxReasonBytes = 600;
inline constexpr std::size_t kMaxReportFiles = 64;   // entries of "files" and of "installed"
inline constexpr std::size_t kMaxReportHealth = 64;  // events of "health"

// How a start's update ended.
enum class Outcome { kNothing, kInstalled, kFailed };
// "nothing", "installed", "failed".
std::string_view OutcomeText(Outcome outcome);
// The outcome a text names; nothing for any other text.
std::optional<Outcome> OutcomeOf(std::string_view text);

// A client program present on the register.
struct ReportedFile {
  std::string name;
  std::string stamp;  // its last-write time, YYYYMMDDHHNNSS local time
  std::int64_t size = 0;
  std::string sha256;                   // 64 hex digits
  std::optional<std::int64_t> version;  // its installed release, when one is recorded

  bool operator==(const ReportedFile&) const = default;
};

// The first failure of the update: the program file it concerns (empty for the connection) and
// its reason in Portuguese.
struct ReportedFailure {
  std::string file;
  std::string reason;

  bool operator==(const ReportedFailure&) const = default;
};

// One start's report. Texts are UTF-8.
struct Report {
  std::string filial;
  std::string caixa;
  std::string host;
  std::string launcher;  // the launcher's version
  std::string started;   // ISO 8601 with the register's offset
  double seconds = 0;    // how long the update took
  Outcome outcome = Outcome::kNothing;
  std::vector<std::string> installed;  // file names
  std::optional<ReportedFailure> failure;
  std::vector<ReportedFile> files;
  std::vector<HealthEvent> health;  // events the server has not taken yet; left out when none
  Signer signer;                    // left out when unsigned

  bool operator==(const Report&) const = default;
};

// The report as plain ASCII JSON, fields in the order above; the events of health without
// their signer (the report's signature covers them). Never fails.
std::string WriteReport(const Report& report);

// The report in text (UTF-8 JSON, or Windows-1252 bytes as a register may write it): refused,
// with an English reason, when larger than kMaxReportBytes, not JSON, nested more than 8 deep,
// or not of the shape; fields other than those above are left out. Never throws.
Parsed<Report> ReadReport(std::string_view text);

}  // namespace jov::protocol
