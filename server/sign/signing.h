// Ed25519 keys and archive signatures for the chain's side: making a key, signing archives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "protocol/release.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace jov::sign {

// Archives are signed whole in memory; larger ones are refused (IoError).
inline constexpr std::size_t kMaxArchiveBytes = std::size_t{1} << 30;

// A private Ed25519 key held in memory.
class SigningKey {
 public:
  // A new random key.
  static SigningKey Generate();
  // The key in a PEM file (PKCS#8, unencrypted, as "openssl genpkey -algorithm ed25519"
  // writes it). Throws IoError when the file cannot be read, Error when it holds no
  // unencrypted Ed25519 private key. Never asks for a pass phrase.
  static SigningKey Load(const std::string& path);

  // The PEM PKCS#8 text of the private key.
  std::string PrivatePem() const;
  // The base64 of the 32-byte raw public key, the value of clientlib.ini's [Update] PublicKey.
  std::string PublicKeyBase64() const;
  // The base64 of the 64-byte signature of the bytes, on one line without a line break.
  std::string SignatureBase64(std::string_view bytes) const;
  // The same for the whole file at path (read once, bounded by kMaxArchiveBytes).
  std::string SignFile(const std::string& path) const;

 private:
  struct Free {
    void operator()(EVP_PKEY* key) const;
  };
  explicit SigningKey(EVP_PKEY* key) : key_(key) {}
  std::unique_ptr<EVP_PKEY, Free> key_;
};

// Writes the key's PEM to a new file created with mode 0600; refuses (IoError) a path that
// exists already, and leaves no partial file behind on failure.
void WriteNewKeyFile(const std::string& path, const SigningKey& key);

// Writes "<archive>.sig": the archive's signature text and a line break, through a temporary
// file in the same folder that is flushed and renamed over any older signature. Returns the
// path written. Throws IoError or Error naming the file.
std::string WriteSignatureFile(const std::string& archive_path, const SigningKey& key);

// The SHA-256 of the bytes, 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

// The release statement of the archive at path: its file (the archive's name less ".zip"),
// version, size, sha256 and expires, and its program (size and sha256 of the single entry)
// when the archive holds exactly one file. Reads the archive once (bounded by
// kMaxArchiveBytes, its entry likewise). Throws IoError or Error naming the archive.
jov::protocol::Release ReleaseOf(const std::string& archive_path, std::int64_t version,
                                 std::int64_t expires);

// Writes "<archive>.sig", "<archive>.release" (ReleaseOf) and "<archive>.release.sig" (the
// signature of the release file's bytes), each through a flushed temporary renamed in place,
// the signatures before the statement's. For each earlier program file's bytes, first writes
// the patch from it to the archive's program beside the archive (DeltaNameOf) and lists it in
// the release's deltas (one per earlier file's sha256). Returns the release written. Throws as
// ReleaseOf and WriteSignatureFile do, and Error when patches are asked of an archive that
// does not hold exactly one file.
jov::protocol::Release SignRelease(const std::string& archive_path, std::int64_t version,
                                   std::int64_t expires, const SigningKey& key,
                                   const std::vector<std::string>& earlier_programs = {});

}  // namespace jov::sign
