// jov-sign: the chain's signing tool for update archives.
//   jov-sign keygen KEYFILE          a new Ed25519 private key (PEM, mode 0600); prints the
//                                    "PublicKey=" line for clientlib.ini
//   jov-sign pubkey KEYFILE          prints the "PublicKey=" line of an existing key
//   jov-sign sign KEYFILE ARCHIVE... writes ARCHIVE.sig beside each archive
//   jov-sign sign KEYFILE --version N [--expires-days D] ARCHIVE...
//                                    also writes ARCHIVE.release (release N, valid for D
//                                    days, default 30) and ARCHIVE.release.sig
//   jov-sign sign KEYFILE --version N --delta OLD_PROGRAM... ARCHIVE...
//                                    also writes, beside each archive, the patch from each
//                                    earlier program file OLD_PROGRAM (--delta may be given
//                                    more than once) to the archive's one program file, and
//                                    lists it in the release
// The options may stand anywhere after the command.
// Exits 0 on success, 2 on wrong arguments, 1 on any other failure (the cause on stderr).
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_bytes.h"
#include "server/sign/signing.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: jov-sign keygen KEYFILE | jov-sign pubkey KEYFILE | "
               "jov-sign sign KEYFILE [--version N [--expires-days D] [--delta OLD_PROGRAM]...] "
               "ARCHIVE...\n");
  return 2;
}

void PrintPublicKey(const jov::sign::SigningKey& key) {
  std::printf("PublicKey=%s\n", key.PublicKeyBase64().c_str());
}

// A whole decimal number from 1 to max; nothing for any other text.
std::optional<long long> Number(const std::string& text, long long max) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > max) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  std::optional<long long> version;
  std::optional<long long> expires_days;
  std::vector<std::string> delta_from;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--delta") {
      if (i + 1 == argc) return Usage();
      delta_from.push_back(argv[++i]);
      continue;
    }
    if (arg != "--version" && arg != "--expires-days") {
      args.push_back(arg);
      continue;
    }
    if (i + 1 == argc) return Usage();
    std::optional<long long>& value = arg == "--version" ? version : expires_days;
    value = Number(argv[++i], arg == "--version" ? (1LL << 53) : 36500);
    if (!value) return Usage();
  }
  if ((expires_days || !delta_from.empty()) && !version) return Usage();
  if (args.size() < 2) return Usage();
  const std::string& command = args[0];
  const std::string& key_file = args[1];
  if ((command == "keygen" || command == "pubkey") && args.size() != 2) return Usage();
  if (command != "keygen" && command != "pubkey" && command != "sign") return Usage();
  if (command == "sign" && args.size() < 3) return Usage();
  if (version && command != "sign") return Usage();
  const std::int64_t expires =
      static_cast<std::int64_t>(std::time(nullptr)) + expires_days.value_or(30) * 24 * 3600;
  try {
    if (command == "keygen") {
      const jov::sign::SigningKey key = jov::sign::SigningKey::Generate();
      jov::sign::WriteNewKeyFile(key_file, key);
      PrintPublicKey(key);
      return 0;
    }
    const jov::sign::SigningKey key = jov::sign::SigningKey::Load(key_file);
    if (command == "pubkey") {
      PrintPublicKey(key);
      return 0;
    }
    // The earlier program files are read before anything is written: one that cannot be read
    // leaves every archive as it was.
    std::vector<std::string> earlier_programs;
    for (const std::string& path : delta_from) {
      earlier_programs.push_back(jov::ReadFileBytes(path, jov::sign::kMaxArchiveBytes));
    }
    // Every archive is tried; one that fails does not keep the others unsigned.
    int status = 0;
    for (std::size_t i = 2; i < args.size(); ++i) {
      try {
        if (version) {
          jov::sign::SignRelease(args[i], *version, expires, key, earlier_programs);
        } else {
          jov::sign::WriteSignatureFile(args[i], key);
        }
      } catch (const jov::Error& error) {
        std::fprintf(stderr, "jov-sign: %s\n", error.what());
        status = 1;
      }
    }
    return status;
  } catch (const jov::Error& error) {
    std::fprintf(stderr, "jov-sign: %s\n", error.what());
    return 1;
  }
}
