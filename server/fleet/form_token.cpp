#include "server/fleet/form_token.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <charconv>
#include <string_view>

#include "platform/hex.h"

namespace appserver::fleet {
namespace {

constexpr std::int64_t kClockSkew = 60;

std::string Mac(const std::string& fleet_token, std::string_view issued) {
  const std::string message = "fleet-form:" + std::string(issued);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), fleet_token.data(), static_cast<int>(fleet_token.size()),
           reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest,
           &length) == nullptr) {
    return {};
  }
  return jov::LowerHex(digest, length);
}

}  // namespace

std::string IssueFormToken(const std::string& fleet_token, std::int64_t now) {
  const std::string issued = std::to_string(now);
  return issued + "." + Mac(fleet_token, issued);
}

bool FormTokenValid(const std::string& fleet_token, const std::string& form_token,
                    std::int64_t now) {
  if (fleet_token.empty()) return false;
  const std::size_t dot = form_token.find('.');
  if (dot == std::string::npos || dot == 0 || dot > 20) return false;
  const std::string_view issued_text(form_token.data(), dot);
  std::int64_t issued = 0;
  const auto [end, error] =
      std::from_chars(issued_text.data(), issued_text.data() + issued_text.size(), issued);
  if (error != std::errc() || end != issued_text.data() + issued_text.size()) return false;
  if (issued > now + kClockSkew || now - issued >= kFormTokenSeconds) return false;
  const std::string expected = Mac(fleet_token, issued_text);
  const std::string_view given = std::string_view(form_token).substr(dot + 1);
  return !expected.empty() && given.size() == expected.size() &&
         CRYPTO_memcmp(given.data(), expected.data(), expected.size()) == 0;
}

}  // namespace appserver::fleet
