// The readers' and writers' shared JSON steps: a parse bounded in size and depth, and the
// field checks every message makes the same way. Internal to the protocol library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace jov::protocol::json_fields {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// The text as JSON when it is at most max_bytes long, valid UTF-8 JSON and nested at most
// max_depth deep; the depth is checked by a first pass that builds nothing. Never throws.
std::optional<Json> ParseBounded(std::string_view text, std::size_t max_bytes, int max_depth);
// The same for text that is UTF-8, or else Windows-1252 bytes (as a register may write it).
std::optional<Json> ParseUtf8OrCp1252(std::string_view text, std::size_t max_bytes, int max_depth);

// Plain ASCII JSON text: everything above 127 escaped, invalid UTF-8 replaced.
std::string Dump(const OrderedJson& json);

// text cut to at most max bytes without cutting a UTF-8 character in two.
std::string CutUtf8(std::string_view text, std::size_t max);

// A string of at most max bytes (and not empty unless allow_empty).
bool IsText(const Json& value, std::size_t max, bool allow_empty = true);
// A branch or register code: 1 to 32 bytes of printable ASCII without "/".
bool IsCode(const Json& value);
inline constexpr std::size_t kMaxCodeBytes = 32;
// 64 hex digits, lower case only unless any_case.
bool IsSha256(const Json& value, bool any_case);
// "YYYY-MM-DDTHH:MM:SS", optional fraction of 1 to 9 digits, then "Z" or an offset "+HH",
// "+HHMM" or "+HH:MM"; at most 40 bytes.
bool IsIsoTime(const Json& value);
// A finite number not below zero.
bool IsSeconds(const Json& value);
// An integer from 1 to the largest int64.
std::optional<std::int64_t> PositiveInteger(const Json& value);
// An integer from 0 to the largest int64.
std::optional<std::int64_t> Count(const Json& value);

}  // namespace jov::protocol::json_fields
