// The "GetFileVersion" reply: written by the chain's server, read by the register field by
// field, positionally, as the register has always read it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/date_time.h"
#include "protocol/file_names.h"

namespace jov::protocol {

// The bounds of the reader. A field past its bound never changes how the other fields read:
// a source longer than kMaxSourceBytes reads as empty (there is no such download source, and
// a cut one would name another); a flag is cut at kMaxFlagBytes (a cut flag still differs from
// "0"); list lines after the first kMaxListLines are not read; a server name longer than
// kMaxNameBytes has no local file name; an error reply's text is cut at kMaxErrorTextBytes
// (the log cuts it there already); a stamp is read from its first kStampDigits characters.
inline constexpr std::size_t kMaxSourceBytes = 2048;
inline constexpr std::size_t kMaxFlagBytes = 16;
inline constexpr std::size_t kMaxListLines = 256;
inline constexpr std::size_t kMaxErrorTextBytes = 1000;
inline constexpr std::size_t kStampDigits = 14;

// One line of the file list: the server's file name and its stamp YYYYMMDDHHNNSS.
struct VersionEntry {
  std::string name;
  std::string stamp;
};

// "<source>\r\n<name>=<stamp>\r\n...&<flag>", the flag "1" when the register is to ask the
// operator before downloading, "0" otherwise.
std::string WriteVersionReply(std::string_view source, const std::vector<VersionEntry>& entries,
                              bool ask);
// "EXCEPT " and the text.
std::string WriteErrorReply(std::string_view text);

// The three fields of a reply, split positionally: the source is the text before the first
// CR LF (without one it is empty and the reply's first character is lost), the list what
// follows up to the first "&" (without one it is empty and all the rest is the flag), the flag
// the rest, "0" when nothing is left.
struct VersionReply {
  std::string source;
  std::string list;
  std::string flag;
};
VersionReply SplitVersionReply(std::string_view reply);

// Whether the reply is an error reply: it begins with "EXCEPT".
bool IsErrorReply(std::string_view reply);
// An error reply's text: from its eighth character on.
std::string ErrorReplyText(std::string_view reply);

// The lines of a file list as a string list takes them: a break is CR LF, CR or LF, a final
// break adds no empty line. A NUL byte ends the text: no file name can hold one.
std::vector<std::string> ListLines(std::string_view list);

// "name=stamp": the name before the first "=", the value after it; a line without "=" has
// neither.
std::pair<std::string, std::string> NameAndValue(std::string_view line);

// A date-time as a server stamp, YYYYMMDDHHNNSS (milliseconds left out).
std::string EncodeStamp(const DateTime& value);
// The date-time of a server stamp (its first kStampDigits characters), with zero milliseconds.
// Throws jov::Error for a shorter stamp, a character other than a digit, or digits that name
// no valid date or time.
DateTime DecodeStamp(std::string_view stamp);

}  // namespace jov::protocol
