// Reading the application server's "GetFileVersion" reply: its fields, list lines and stamps.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/date_time.h"

namespace jov {

// The three fields of a "GetFileVersion" reply, split positionally: the source is the text
// before the first CR LF (without one it is empty and the reply's first character is lost),
// the list what follows up to the first "&" (without one it is empty and all the rest is the
// flag), the flag the rest, "0" when nothing is left.
struct VersionReply {
  std::string source;
  std::string list;
  std::string flag;
};
VersionReply SplitVersionReply(const std::string& reply);

// Whether the reply is an error reply: it begins with "EXCEPT".
bool IsErrorReply(const std::string& reply);
// An error reply's text: from its eighth character on.
std::string ErrorReplyText(const std::string& reply);

// The lines of a file list as a string list takes them: a break is CR LF, CR or LF, a final
// break adds no empty line. A NUL byte ends the text: no file name can hold one.
std::vector<std::string> ListLines(const std::string& list);

// "name=stamp": the name before the first "=", the value after it; a line without "=" has
// neither.
std::pair<std::string, std::string> NameAndValue(const std::string& line);

// The server's file name cut before its first ".ZIP" (any case); empty when it holds none.
std::string NameBeforeZip(const std::string& server_name);

// The local file name of a server archive name: NameBeforeZip, and empty unless it is a plain
// file name (not empty, no "/", "\", ".." or control character).
std::string LocalFileNameOf(const std::string& server_name);

// The date-time of a server stamp YYYYMMDDHHNNSS (its first 14 characters), with zero
// milliseconds. Throws jov::Error for a shorter stamp, a character other than a digit, or
// digits that name no valid date or time.
DateTime DecodeStamp(const std::string& stamp);

}  // namespace jov
