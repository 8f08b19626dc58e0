// The register's own Ed25519 key, with which it signs what it reports, and its report counter.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/health.h"
#include "protocol/signed_text.h"

namespace jov {

// registro.key in the working folder holds the private key (PEM, 0600); registro.contador the
// last counter the register used. Thread-safe.
class RegisterKey {
 public:
  // The key is <working_dir>/registro.key, read at the first use (which blocks on the disk), or
  // made then when there is none: written to a temporary, flushed and linked in place, so that
  // a crash leaves no half key and two starts at once end with one key (a missing working
  // folder is made, private). A key file that is there but unreadable, not a regular file or no
  // Ed25519 private key is left as it is, and nothing is signed (a new key would be another
  // register to the server); Problem says why. Never throws.
  explicit RegisterKey(const std::string& working_dir);
  RegisterKey(const RegisterKey&) = delete;
  RegisterKey& operator=(const RegisterKey&) = delete;
  ~RegisterKey();

  // Why nothing is signed (English, for tests and the technician); empty while the key serves.
  std::string Problem();
  // The base64 of the 32-byte raw public key; empty when there is no usable key.
  std::string PublicKey();

  // Held by a sender from taking its counter until its text is sent, so that the server gets
  // the counters of a register in the order they were taken.
  std::unique_lock<std::mutex> Turn() { return std::unique_lock<std::mutex>(turn_); }

  // One more than the last counter, written atomically to registro.contador before it is
  // returned, so that no crash ever has a counter used twice. Nothing when there is no usable
  // key, or the counter file cannot be read (it is then left as it is) or written; Problem
  // says why. Blocks on the disk.
  std::optional<std::int64_t> NextCounter();

  // The base64 Ed25519 signature of text; nothing when there is no usable key.
  std::optional<std::string> Sign(std::string_view text);

  // object's text (write makes it) naming its signer (key and counter) and closed by the
  // signature, made over the text without it; when nothing can be signed, object's text as it
  // is. T is a protocol::Report or HealthEvent. Call it holding Turn().
  template <typename T>
  std::string SignedText(T object, std::string (*write)(const T&)) {
    const std::optional<std::int64_t> counter = NextCounter();
    if (!counter) return write(object);
    object.signer = {PublicKey(), *counter};
    const std::string body = write(object);
    const std::optional<std::string> signature = Sign(body);
    return signature ? protocol::AppendSignature(body, *signature) : body;
  }

 private:
  struct Key;
  // Reads or makes the key once; called holding mutex_.
  void Load();

  const std::string working_dir_;  // ends with "/"
  std::mutex mutex_;               // what follows and the files
  bool loaded_ = false;
  std::unique_ptr<Key> key_;  // null when there is no usable key
  std::string public_key_;
  std::string problem_;
  std::mutex turn_;
};

}  // namespace jov
