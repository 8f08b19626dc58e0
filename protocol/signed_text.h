// The signature that closes a signed report or health event: the object's text ends with
// ,"signature":"<base64>"} and what is signed is that text without the member.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace jov::protocol {

inline constexpr std::size_t kMaxSignatureBytes = 128;  // base64 of a 64-byte Ed25519 signature

// object_text, a JSON object as a writer of this library writes it (ending in "}"), with the
// signature added as its last member. Never fails; a text that does not end in "}" is returned
// as it is.
std::string AppendSignature(std::string_view object_text, std::string_view signature_base64);

struct SignedText {
  std::string body;       // the text that was signed
  std::string signature;  // base64, as sent
};
// The signed body and the signature of a text whose last member is "signature" (a base64 text
// of at most kMaxSignatureBytes; only blanks may follow the closing brace); nothing for a text
// without one, which is unsigned. Checks nothing else: reading the object is the reader's.
std::optional<SignedText> SplitSignature(std::string_view text);

}  // namespace jov::protocol
