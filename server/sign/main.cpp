// jov-sign: the chain's signing tool for update archives.
//   jov-sign keygen KEYFILE          a new Ed25519 private key (PEM, mode 0600); prints the
//                                    "PublicKey=" line for clientlib.ini
//   jov-sign pubkey KEYFILE          prints the "PublicKey=" line of an existing key
//   jov-sign sign KEYFILE ARCHIVE... writes ARCHIVE.sig beside each archive
// Exits 0 on success, 2 on wrong arguments, 1 on any other failure (the cause on stderr).
#include <cstdio>
#include <string>
#include <vector>

#include "server/sign/signing.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: jov-sign keygen KEYFILE | jov-sign pubkey KEYFILE | "
               "jov-sign sign KEYFILE ARCHIVE...\n");
  return 2;
}

void PrintPublicKey(const jov::sign::SigningKey& key) {
  std::printf("PublicKey=%s\n", key.PublicKeyBase64().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage();
  const std::string& command = args[0];
  const std::string& key_file = args[1];
  if ((command == "keygen" || command == "pubkey") && args.size() != 2) return Usage();
  if (command != "keygen" && command != "pubkey" && command != "sign") return Usage();
  if (command == "sign" && args.size() < 3) return Usage();
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
    // Every archive is tried; one that fails does not keep the others unsigned.
    int status = 0;
    for (std::size_t i = 2; i < args.size(); ++i) {
      try {
        jov::sign::WriteSignatureFile(args[i], key);
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
