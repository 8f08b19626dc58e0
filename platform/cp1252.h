// Windows-1252 byte strings: conversion to and from Unicode, and the ASCII-only case rules.
#pragma once

#include <string>
#include <string_view>

class QString;

namespace jov::cp1252 {

// UTF-8 text (a source literal) to Windows-1252 bytes; characters it lacks become "?".
std::string FromUtf8(std::string_view utf8);
// Windows-1252 bytes to UTF-8.
std::string ToUtf8(std::string_view bytes);

QString ToQString(std::string_view bytes);
std::string FromQString(const QString& text);

// Appends the UTF-8 encoding of a Unicode code point.
void AppendUtf8(std::string& out, char32_t code_point);

// Equal when upper-casing only the letters a to z; other bytes, accented letters included,
// must match exactly. Allocates nothing.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Upper- or lower-cases only the letters a to z; every other byte stays as it is.
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);

// Text from outside (a server, a file, a command) fit for one log line or message: every
// control byte (below 0x20, and 0x7F) becomes "?", and the text is cut at limit bytes.
std::string ForLog(std::string_view outside, std::size_t limit = 1000);

}  // namespace jov::cp1252

// Shorthand for a Windows-1252 string written as a UTF-8 source literal.
inline std::string operator""_w(const char* text, std::size_t size) {
  return jov::cp1252::FromUtf8(std::string_view(text, size));
}
