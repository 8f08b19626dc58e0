// The health event: a client program the launcher started ended badly soon after. What
// "ReportHealth" takes, and what a report carries of the events not yet taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/parsed.h"

namespace jov::protocol {

// The reader's bounds (the writer cuts host and stamp to them, so what it writes is taken).
inline constexpr std::size_t kMaxHealthBytes = 16 * 1024;
inline constexpr std::size_t kMaxHostBytes = 255;  // the register's host name
inline constexpr std::size_t kMaxStampBytes = 40;
inline constexpr int kMaxSignal = 64;
inline constexpr int kMaxExitCode = 255;

// Who signs a report or an event: the register's Ed25519 public key (base64 of its 32 raw bytes)
// and the number of the signed text, one more than the register's last. Both set, or neither
// (an unsigned text). The signature itself closes the text: see signed_text.h.
struct Signer {
  std::string key;
  std::optional<std::int64_t> counter;

  bool operator==(const Signer&) const = default;
};
inline constexpr std::size_t kMaxKeyBytes = 64;

// One event. Texts are UTF-8. Exactly one of signal (1 to kMaxSignal) and exit (1 to
// kMaxExitCode) is set: how the program ended.
struct HealthEvent {
  std::string filial;
  std::string caixa;
  std::string host;
  std::string name;                     // the program file
  std::optional<std::int64_t> version;  // its installed release, when one is recorded
  std::string stamp;                    // its last-write time, YYYYMMDDHHNNSS
  std::optional<int> signal;
  std::optional<int> exit;
  double seconds = 0;  // how long it ran
  std::string at;      // when it ended, ISO 8601 with the register's offset
  Signer signer;       // left out when unsigned

  bool operator==(const HealthEvent&) const = default;
};

// The event as plain ASCII JSON, fields in the order above. Never fails.
std::string WriteHealthEvent(const HealthEvent& event);

// The event in text (UTF-8 JSON, or Windows-1252 bytes): refused, with an English reason,
// when larger than kMaxHealthBytes, not JSON, nested deeper than a few levels or not of the
// shape; fields other than those above are left out. Never throws.
Parsed<HealthEvent> ReadHealthEvent(std::string_view text);

}  // namespace jov::protocol
