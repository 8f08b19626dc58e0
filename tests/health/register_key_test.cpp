// The register's key and counter in the working folder: made once, private, kept across
// starts, never replaced, and what they sign verifies.
#include "clientlib/register_key.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "protocol/health.h"
#include "tests/health/verified.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The key is made at the first start (and its working folder, when missing), readable by its
// owner alone, and is the same key at the
// next start; the counter goes on from where the last start left it, and each signed text
// verifies over its body.
TEST(RegisterKey, IsMadeOnceAndServesEveryStart) {
  TempDir root;
  const std::string work = root.path() + "/work";  // not there yet: made private
  std::string public_key;
  {
    RegisterKey key(work + "/");
    ASSERT_EQ(key.Problem(), "");
    public_key = key.PublicKey();
    EXPECT_EQ(base64::Decode(public_key).value_or("").size(), 32u);
    EXPECT_EQ(key.NextCounter(), 1);
    EXPECT_EQ(key.NextCounter(), 2);
  }
  struct stat st {};
  ASSERT_EQ(::stat(work.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::lstat((work + "/registro.key").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(TempDir::Read(work + "/registro.contador"), "2\n");
  EXPECT_EQ(FilesIn(work), (std::vector<std::string>{"registro.contador", "registro.key"}))
      << "no temporary left";

  const std::string key_file = TempDir::Read(work + "/registro.key");
  RegisterKey next(work);
  EXPECT_EQ(next.PublicKey(), public_key);
  EXPECT_EQ(TempDir::Read(work + "/registro.key"), key_file);
  protocol::HealthEvent event;
  event.filial = "0001";
  event.caixa = "002";
  event.name = "JovTab.exe";
  event.exit = 3;
  event.at = "2026-12-10T01:00:00-03:00";
  const std::string text = next.SignedText(event, &protocol::WriteHealthEvent);
  const std::optional<std::string> body = VerifiedBody(text);
  ASSERT_TRUE(body) << text;
  const protocol::Parsed<protocol::HealthEvent> signed_event = protocol::ReadHealthEvent(*body);
  ASSERT_TRUE(signed_event.value) << signed_event.why;
  EXPECT_EQ(signed_event.value->signer, (protocol::Signer{public_key, 3}));
  EXPECT_EQ(TempDir::Read(work + "/registro.contador"), "3\n") << "kept before it is used";
  std::string tampered = *body;
  tampered[tampered.find("\"exit\":3") + 7] = '4';
  EXPECT_FALSE(VerifiedBody(
      protocol::AppendSignature(tampered, protocol::SplitSignature(text).value().signature)))
      << "the signature covers the body";
}

// A key file that cannot serve is left as it is (a new key would be another register to the
// server) and nothing is signed; a counter file that cannot be read is never started again.
TEST(RegisterKey, WhatCannotServeIsLeftAsItIsAndNothingIsSigned) {
  const auto x25519_pem = [] {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> other(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519"), &EVP_PKEY_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    PEM_write_bio_PrivateKey(bio.get(), other.get(), nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
  }();
  const struct {
    const char* what;
    std::function<void(const TempDir&)> make;
    const char* file;  // left as it was
  } cases[] = {
      {"not a key", [](const TempDir& d) { d.Write("registro.key", "chave\n"); }, "registro.key"},
      {"another kind of key", [&](const TempDir& d) { d.Write("registro.key", x25519_pem); },
       "registro.key"},
      {"a folder",
       [](const TempDir& d) { std::filesystem::create_directory(d.path() + "/registro.key"); },
       nullptr},
      {"a FIFO", [](const TempDir& d) { ::mkfifo((d.path() + "/registro.key").c_str(), 0600); },
       nullptr},
      {"a counter that is not a number",
       [](const TempDir& d) { d.Write("registro.contador", "dez\n"); }, "registro.contador"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.make(dir);
    const std::string before = c.file ? TempDir::Read(dir.path() + "/" + c.file) : "";
    RegisterKey key(dir.path());
    protocol::HealthEvent event;
    event.name = "JovTab.exe";
    event.exit = 3;
    const std::string text = key.SignedText(event, &protocol::WriteHealthEvent);
    EXPECT_EQ(text, protocol::WriteHealthEvent(event)) << "sent unsigned";
    EXPECT_NE(key.Problem(), "");
    if (c.file) {
      EXPECT_EQ(TempDir::Read(dir.path() + "/" + c.file), before);
    }
  }
}

}  // namespace
}  // namespace jov::testing
