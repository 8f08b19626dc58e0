#include "clientlib/archive_signature.h"

#include <openssl/evp.h>

#include <functional>
#include <memory>

#include "platform/base64.h"
#include "platform/cp1252.h"
#include "platform/file_bytes.h"

namespace jov {
namespace {

// An archive is read whole (Ed25519 signs a message in one piece); this bounds the memory.
constexpr std::size_t kMaxArchiveBytes = std::size_t{1} << 30;
constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

[[noreturn]] void Refuse(const std::string& archive_path, const std::string& why, Cause cause) {
  throw SignatureError("Cannot accept " + archive_path + ": " + why, cause);
}

void Verify(const std::string& archive_path, const std::function<std::string()>& read,
            const std::string& signature_text, const std::string& public_key_text);

}  // namespace

void VerifyArchiveSignature(const std::string& archive_path, const std::string& signature_text,
                            const std::string& public_key_text) {
  Verify(
      archive_path, [&] { return ReadFileBytes(archive_path, kMaxArchiveBytes); }, signature_text,
      public_key_text);
}

void VerifyArchiveSignatureFd(int archive_fd, const std::string& name,
                              const std::string& signature_text,
                              const std::string& public_key_text) {
  Verify(
      name, [&] { return ReadFdBytes(archive_fd, kMaxArchiveBytes, name); }, signature_text,
      public_key_text);
}

void VerifySignatureOfBytes(const std::string& bytes, const std::string& name,
                            const std::string& signature_text, const std::string& public_key_text) {
  Verify(
      name, [&] { return bytes; }, signature_text, public_key_text);
}

namespace {

void Verify(const std::string& archive_path, const std::function<std::string()>& read,
            const std::string& signature_text, const std::string& public_key_text) {
  const std::optional<std::string> key = base64::Decode(public_key_text);
  if (!key || key->size() != kPublicKeyBytes) {
    Refuse(archive_path, "the public key is not 32 bytes of base64", Cause::kPublicKeyInvalid);
  }
  const std::unique_ptr<EVP_PKEY, PkeyFree> pkey(EVP_PKEY_new_raw_public_key(
      EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key->data()), key->size()));
  if (!pkey) {
    Refuse(archive_path, "the public key is not an Ed25519 key", Cause::kPublicKeyNotEd25519);
  }

  if (signature_text.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
    Refuse(archive_path, "the signature is empty", Cause::kSignatureEmpty);
  }
  const std::optional<std::string> signature = base64::Decode(signature_text);
  if (!signature || signature->size() != kSignatureBytes) {
    Refuse(archive_path, "the signature is not 64 bytes of base64", Cause::kSignatureMalformed);
  }

  const std::string bytes = read();
  const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
    Refuse(archive_path, "the signature check cannot be set up", Cause::kSignatureCheckSetup);
  }
  const int verified = EVP_DigestVerify(
      context.get(), reinterpret_cast<const unsigned char*>(signature->data()), signature->size(),
      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  if (verified != 1) {
    Refuse(archive_path, "the signature does not match the archive and the public key",
           Cause::kSignatureMismatch);
  }
}

}  // namespace

}  // namespace jov
