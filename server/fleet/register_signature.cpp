#include "server/fleet/register_signature.h"

#include <openssl/evp.h>

#include <memory>
#include <optional>

#include "platform/base64.h"
#include "protocol/signed_text.h"

namespace appserver::fleet {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

bool SignatureVerifies(const std::string& key_base64, std::string_view body,
                       const std::string& signature_base64) {
  const std::optional<std::string> raw = jov::base64::Decode(key_base64);
  const std::optional<std::string> signature = jov::base64::Decode(signature_base64);
  if (!raw || raw->size() != 32 || !signature || signature->size() != 64) return false;
  const std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_PKEY_new_raw_public_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(raw->data()), raw->size()));
  const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  return key && context &&
         EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature->data()),
                          signature->size(), reinterpret_cast<const unsigned char*>(body.data()),
                          body.size()) == 1;
}

bool SignedBy(const std::string& key_base64, std::string_view text) {
  if (key_base64.empty()) return false;
  const std::optional<jov::protocol::SignedText> parts = jov::protocol::SplitSignature(text);
  return parts && SignatureVerifies(key_base64, parts->body, parts->signature);
}

}  // namespace appserver::fleet
