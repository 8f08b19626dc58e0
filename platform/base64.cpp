#include "platform/base64.h"

#include <cstdint>

namespace jov::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]))
                                << 8 |
                            static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += kAlphabet[n >> 6 & 63];
    out += kAlphabet[n & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t n = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += rest == 2 ? kAlphabet[n >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> Decode(std::string_view text) {
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    const int value = Value(text[i]);
    if (value < 0) return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16 & 0xFF);
      out += static_cast<char>(bits >> 8 & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      bits = 0;
      count = 0;
    }
  }
  // What padding leaves: three symbols carry two bytes, two carry one; the spare bits are zero.
  if (count == 3) {
    if ((bits & 0x3) != 0) return std::nullopt;
    out += static_cast<char>(bits >> 10 & 0xFF);
    out += static_cast<char>(bits >> 2 & 0xFF);
  } else if (count == 2) {
    if ((bits & 0xF) != 0) return std::nullopt;
    out += static_cast<char>(bits >> 4 & 0xFF);
  } else if (count != 0) {
    return std::nullopt;
  }
  return out;
}

}  // namespace jov::base64
