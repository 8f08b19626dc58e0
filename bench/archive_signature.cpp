// The register's signature check of a downloaded archive, beside what any check must do at
// least: read the file, and hash it once with SHA-512 (the hash inside Ed25519).
#include "clientlib/archive_signature.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "platform/file_bytes.h"
#include "server/sign/signing.h"

namespace {

// An archive of the given size in the temporary folder, with its signature and public key.
struct Fixture {
  explicit Fixture(std::size_t size) {
    path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/bench-archive-" +
           std::to_string(::getpid()) + "-" + std::to_string(size) + ".ZIP";
    std::string bytes(size, '\0');
    std::mt19937_64 random(size);
    for (char& c : bytes) c = static_cast<char>(random());
    std::ofstream(path, std::ios::binary) << bytes;
    const jov::sign::SigningKey key = jov::sign::SigningKey::Generate();
    signature = key.SignatureBase64(bytes);
    public_key = key.PublicKeyBase64();
  }
  ~Fixture() { ::unlink(path.c_str()); }
  std::string path, signature, public_key;
};

void BM_VerifyArchiveSignature(benchmark::State& state) {
  const Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    jov::VerifyArchiveSignature(fixture.path, fixture.signature, fixture.public_key);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_BaselineReadAndSha512(benchmark::State& state) {
  const Fixture fixture(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[64];
  for (auto _ : state) {
    const std::string bytes = jov::ReadFileBytes(fixture.path, std::size_t{1} << 30);
    EVP_Digest(bytes.data(), bytes.size(), digest, nullptr, EVP_sha512(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_VerifyArchiveSignature)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineReadAndSha512)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
