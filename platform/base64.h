// Standard base64 (RFC 4648, with padding): the text form of keys and signatures.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace jov::base64 {

// The padded base64 text of the bytes, on one line, without a line break.
std::string Encode(std::string_view bytes);

// The bytes of a canonical padded base64 text: only the alphabet, "=" padding only at the end,
// unused bits zero. ASCII white space is allowed after the text (a final line break), nowhere
// else. Nothing when the text is not such base64.
std::optional<std::string> Decode(std::string_view text);

}  // namespace jov::base64
