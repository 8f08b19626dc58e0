#include "platform/system_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

#include "platform/cp1252.h"

namespace jov {
namespace {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsUtf8Codeset(std::string_view codeset) {
  return cp1252::EqualsIgnoringAsciiCase(codeset, "UTF-8") ||
         cp1252::EqualsIgnoringAsciiCase(codeset, "UTF8");
}

// Converts through iconv, one "?" for each byte it cannot decode or the code page lacks;
// every byte not ASCII becomes "?" when the locale's character set is unknown to iconv.
std::string ConvertWithIconv(std::string_view text, const char* codeset) {
  std::string out;
  iconv_t cd = ::iconv_open("WINDOWS-1252", codeset);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (char c : text) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return out;
  }
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char buffer[256];
  while (in_left > 0) {
    char* dest = buffer;
    std::size_t dest_left = sizeof buffer;
    const std::size_t r = ::iconv(cd, &in, &in_left, &dest, &dest_left);
    out.append(buffer, static_cast<std::size_t>(dest - buffer));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // EILSEQ (no such character, or an invalid sequence) or EINVAL (cut short).
      out += '?';
      ++in;
      --in_left;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace

std::string LocaleTextToCp1252(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  const char* codeset = ::nl_langinfo(CODESET);
  if (codeset == nullptr || IsUtf8Codeset(codeset)) return cp1252::FromUtf8(text);
  return ConvertWithIconv(text, codeset);
}

std::string SystemErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r: returns either the buffer or a static text; thread-safe.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return LocaleTextToCp1252(text != nullptr ? text : "");
}

}  // namespace jov
