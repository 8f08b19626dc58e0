// Bytes as lower-case hexadecimal text, as digests and tokens are written.
#pragma once

#include <cstddef>
#include <string>

namespace jov {

// Two lower-case hex digits per byte, in order; empty for no bytes.
inline std::string LowerHex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

}  // namespace jov
