#include "protocol/signed_text.h"

namespace jov::protocol {
namespace {

constexpr std::string_view kMember = ",\"signature\":\"";

bool IsBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string AppendSignature(std::string_view object_text, std::string_view signature_base64) {
  if (object_text.empty() || object_text.back() != '}') return std::string(object_text);
  std::string text(object_text.substr(0, object_text.size() - 1));
  text += kMember;
  text += signature_base64;
  text += "\"}";
  return text;
}

std::optional<SignedText> SplitSignature(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.size() < 2 || text.back() != '}' || text[text.size() - 2] != '"') return std::nullopt;
  const std::string_view inner = text.substr(0, text.size() - 2);  // ...,"signature":"BASE64
  const std::size_t member = inner.rfind(kMember);
  if (member == std::string_view::npos) return std::nullopt;
  const std::string_view signature = inner.substr(member + kMember.size());
  if (signature.empty() || signature.size() > kMaxSignatureBytes) return std::nullopt;
  for (const char c : signature) {
    if (!IsBase64(c)) return std::nullopt;
  }
  SignedText parts;
  parts.body = std::string(text.substr(0, member)) + "}";
  parts.signature = std::string(signature);
  return parts;
}

}  // namespace jov::protocol
