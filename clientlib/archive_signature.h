// Checks that a downloaded archive was signed with the chain's Ed25519 key.
#pragma once

#include <string>

#include "platform/errors.h"

namespace jov {

// A signature that is missing, malformed, made with another key, or checked against a
// malformed public key. The message says which, naming the archive.
class SignatureError : public Error {
 public:
  using Error::Error;
};

// Verifies the file at archive_path against signature_text (base64 of the 64-byte Ed25519
// signature of the whole file; one line, a final line break allowed) with public_key_text
// (base64 of the 32-byte raw public key, as clientlib.ini's [Update] PublicKey holds it).
// Reads the file once; returns normally only when the signature matches. Throws
// SignatureError for a bad key, a bad or non-matching signature, IoError when the file
// cannot be read.
void VerifyArchiveSignature(const std::string& archive_path, const std::string& signature_text,
                            const std::string& public_key_text);

// The same for the archive open at archive_fd (read from its start), named name in messages.
void VerifyArchiveSignatureFd(int archive_fd, const std::string& name,
                              const std::string& signature_text,
                              const std::string& public_key_text);

// The same for bytes in memory (a release statement), named name in messages.
void VerifySignatureOfBytes(const std::string& bytes, const std::string& name,
                            const std::string& signature_text, const std::string& public_key_text);

}  // namespace jov
