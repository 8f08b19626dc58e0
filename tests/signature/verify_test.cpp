// The register's check of an archive's signature, and the strict base64 it reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "clientlib/archive_signature.h"
#include "platform/base64.h"
#include "server/sign/signing.h"
#include "tests/server/server_support.h"
#include "tests/support/temp_dir.h"

namespace jov::testing {
namespace {

TEST(Base64Test, RoundTripsEveryPaddingLength) {
  const std::string bytes("\x00\xff\x10\x80\x7f\x01", 6);
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    const std::string encoded = base64::Encode(bytes.substr(0, n));
    EXPECT_EQ(encoded.size() % 4, 0u);
    EXPECT_EQ(base64::Decode(encoded), bytes.substr(0, n)) << encoded;
  }
  EXPECT_EQ(base64::Encode("Man"), "TWFu");
  EXPECT_EQ(base64::Encode("Ma"), "TWE=");
  EXPECT_EQ(base64::Decode("TWE=\r\n \t"), "Ma") << "white space at the end is allowed";
}

TEST(Base64Test, RefusesWhatIsNotCanonicalPaddedBase64) {
  for (const std::string text : {"TWE", "TW=E", "T===", "====", "TWE=TWFu", " TWFu", "TW Fu",
                                 "TWFu\nTWFu", "TW-u", "TW_u", "TWF=", "TR==", "TWFu="}) {
    EXPECT_FALSE(base64::Decode(text).has_value()) << text;
  }
  EXPECT_FALSE(base64::Decode(std::string("TWFu\0", 5)).has_value());
}

class VerifyTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string archive = dir.Write("JovTab.exe.ZIP", std::string(5000, 'z').append("PK\x05\x06"));
  sign::SigningKey key = sign::SigningKey::Generate();
  std::string public_key = key.PublicKeyBase64();
  std::string signature = key.SignFile(archive);
};

TEST_F(VerifyTest, AcceptsTheChainsSignatureWithOrWithoutALineEnd) {
  for (const std::string& text : {signature, signature + "\n", signature + "\r\n"}) {
    EXPECT_NO_THROW(VerifyArchiveSignature(archive, text, public_key));
  }
  EXPECT_NO_THROW(VerifyArchiveSignature(archive, signature, public_key + "\n"));
  const std::string empty = dir.Write("empty.ZIP", "");
  EXPECT_NO_THROW(VerifyArchiveSignature(empty, key.SignatureBase64(""), public_key));
}

TEST_F(VerifyTest, RefusesEverythingButTheRightSignatureOfTheWholeFile) {
  const std::string other_key = sign::SigningKey::Generate().PublicKeyBase64();
  const std::string by_other = sign::SigningKey::Generate().SignFile(archive);
  const std::string zero_signature = base64::Encode(std::string(64, '\0'));
  const std::string long_key = base64::Encode(std::string(33, 'k'));
  std::string wrapped = signature;
  wrapped.insert(44, "\n");
  struct Case {
    const char* what;
    std::string signature;
    std::string key;
    std::string cause;
  };
  const Case cases[] = {
      {"another key's signature", by_other, public_key, "does not match"},
      {"checked with another key", signature, other_key, "does not match"},
      {"64 zero bytes", zero_signature, public_key, "does not match"},
      {"truncated", signature.substr(0, 80), public_key, "not 64 bytes of base64"},
      {"short of its padding", signature.substr(0, 87), public_key, "not 64 bytes of base64"},
      {"not base64", std::string(86, '*') + "==", public_key, "not 64 bytes of base64"},
      {"line broken in the middle", wrapped, public_key, "not 64 bytes of base64"},
      {"twice the signature", signature + signature, public_key, "not 64 bytes of base64"},
      {"empty", "", public_key, "the signature is empty"},
      {"a bare line end", "\r\n", public_key, "the signature is empty"},
      {"empty key", signature, "", "the public key is not 32 bytes of base64"},
      {"truncated key", signature, public_key.substr(0, 40), "the public key is not 32 bytes"},
      {"33-byte key", signature, long_key, "the public key is not 32 bytes"},
      {"key not base64", signature, "-----BEGIN PUBLIC KEY-----", "the public key is not 32"},
  };
  for (const Case& c : cases) {
    std::string message;
    try {
      VerifyArchiveSignature(archive, c.signature, c.key);
      message = "accepted";
    } catch (const SignatureError& error) {
      message = error.what();
    }
    EXPECT_NE(message.find(c.cause), std::string::npos) << c.what << ": " << message;
    EXPECT_NE(message.find(archive), std::string::npos) << c.what << ": " << message;
  }
}

TEST_F(VerifyTest, RefusesAnArchiveWithOneByteChanged) {
  for (const std::size_t at : {std::size_t{0}, std::size_t{2500}, std::size_t{5003}}) {
    std::string bytes = TempDir::Read(archive);
    bytes[at] ^= 0x01;
    const std::string changed = dir.Write("changed.ZIP", bytes);
    EXPECT_THROW(VerifyArchiveSignature(changed, signature, public_key), SignatureError) << at;
  }
  const std::string longer = dir.Write("longer.ZIP", TempDir::Read(archive) + "x");
  EXPECT_THROW(VerifyArchiveSignature(longer, signature, public_key), SignatureError);
}

TEST_F(VerifyTest, AnArchiveThatCannotBeReadIsAnIoError) {
  EXPECT_THROW(VerifyArchiveSignature(dir.path() + "/missing.ZIP", signature, public_key), IoError);
  EXPECT_THROW(VerifyArchiveSignature(dir.path(), signature, public_key), IoError);
  // A sparse file just over the limit: refused from its size, without reading it.
  const std::string huge = dir.path() + "/huge.ZIP";
  const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, (off_t{1} << 30) + 1), 0);
  ::close(fd);
  const std::string message =
      MessageOf([&] { VerifyArchiveSignature(huge, signature, public_key); });
  EXPECT_NE(message.find("larger than"), std::string::npos) << message;
  EXPECT_THROW(VerifyArchiveSignature(huge, signature, public_key), IoError);
}

}  // namespace
}  // namespace jov::testing
