// A register's signature on what it reports: Ed25519 over the text without its signature.
#pragma once

#include <string>
#include <string_view>

namespace appserver::fleet {

// Whether signature_base64 (64 bytes) is the Ed25519 signature of body under key_base64 (the
// 32-byte raw public key). False for anything that is not such base64. Never throws; cheap
// enough for a request's thread.
bool SignatureVerifies(const std::string& key_base64, std::string_view body,
                       const std::string& signature_base64);

// Whether text ends with a signature that verifies under key_base64. An unsigned text, or an
// empty key, is false.
bool SignedBy(const std::string& key_base64, std::string_view text);

}  // namespace appserver::fleet
