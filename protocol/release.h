// The release statement published beside a signed archive ("<archive>.release"): which build
// of which program the archive holds, until when it may be installed, and the patches that
// lead to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/parsed.h"

namespace jov::protocol {

// The reader's bounds.
inline constexpr std::size_t kMaxReleaseBytes = 64 * 1024;
inline constexpr std::size_t kMaxReleaseDeltas = 64;

// The program file inside the archive.
struct ReleasedProgram {
  std::int64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits

  bool operator==(const ReleasedProgram&) const = default;
};

// A zstd patch from an earlier program file to this release's.
struct ReleaseDelta {
  std::string from;  // the SHA-256 of the earlier program file, 64 lower-case hex digits
  std::string file;  // DeltaNameOf(the release's file, from)
  std::int64_t size = 0;

  bool operator==(const ReleaseDelta&) const = default;
};

struct Release {
  std::string file;          // the local file name of the program, UTF-8
  std::int64_t version = 0;  // positive, raised at every release of the program
  std::int64_t size = 0;     // of the archive
  std::string sha256;        // of the archive, 64 lower-case hex digits
  std::int64_t expires = 0;  // seconds since 1970-01-01 00:00:00 UTC
  std::optional<ReleasedProgram> program;
  std::vector<ReleaseDelta> deltas;

  bool operator==(const Release&) const = default;
};

// The statement as plain ASCII JSON: file, version, size, sha256, expires (as
// "YYYY-MM-DDTHH:MM:SSZ"), then program and deltas when there are any. Never fails.
std::string WriteRelease(const Release& release);

// The statement in text (UTF-8 JSON): refused, with the reason in Portuguese (Windows-1252, as
// the register's log takes it), when larger than kMaxReleaseBytes, not JSON, nested more than 4
// deep, or when a field is missing or wrong: file not a safe file name, version not a positive
// integer, a size not an integer from 0, a sha256 not 64 lower-case hex digits, expires not
// "YYYY-MM-DDTHH:MM:SSZ" of a real date and time, more than kMaxReleaseDeltas deltas, a delta's
// file not "<file>.<first 16 hex digits of from>.zst". Other fields are left out. Never throws.
Parsed<Release> ReadRelease(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ" of seconds since 1970 UTC, and back (nothing for any other text or
// for a date or time that does not exist).
std::string UtcTimeText(std::int64_t seconds);
std::optional<std::int64_t> ParseUtcTime(std::string_view text);

}  // namespace jov::protocol
