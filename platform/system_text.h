// The operating system's texts (errno descriptions) in the register's Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace jov {

// Text in the character set of the current LC_CTYPE locale (UTF-8, ASCII, ISO 8859-x, ...)
// converted to Windows-1252; what the code page lacks, or bytes that do not decode, become
// "?". Never throws for bad input.
std::string LocaleTextToCp1252(std::string_view text);

// The C library's description of the errno value `error`, in the language of the process
// locale, as Windows-1252 bytes: every system text that reaches a log, a message or an
// exception goes through here, so that a UTF-8 locale never writes UTF-8 into the log.
std::string SystemErrorText(int error);

}  // namespace jov
