// Checking a register's signature the way the chain's server does: OpenSSL over the body.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/base64.h"
#include "protocol/signed_text.h"

namespace jov::testing {

// The body of a signed text when its signature verifies with the key the body names; nothing
// when it carries no signature, no key, or a signature that does not verify.
inline std::optional<std::string> VerifiedBody(const std::string& text) {
  const std::optional<protocol::SignedText> split = protocol::SplitSignature(text);
  if (!split) return std::nullopt;
  const std::string& body = split->body;
  const nlohmann::json object = nlohmann::json::parse(body, nullptr, false);
  if (!object.is_object() || !object.contains("key") || !object["key"].is_string()) {
    return std::nullopt;
  }
  const std::optional<std::string> key = base64::Decode(object["key"].get<std::string>());
  const std::optional<std::string> signature = base64::Decode(split->signature);
  if (!key || key->size() != 32 || !signature) return std::nullopt;
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                  reinterpret_cast<const unsigned char*>(key->data()), key->size()),
      &EVP_PKEY_free);
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  if (!pkey || !context ||
      EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1 ||
      EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature->data()),
                       signature->size(), reinterpret_cast<const unsigned char*>(body.data()),
                       body.size()) != 1) {
    return std::nullopt;
  }
  return std::string(body);
}

}  // namespace jov::testing
