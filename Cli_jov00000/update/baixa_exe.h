// The executable update from the server, as free functions over the seams it needs.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "clientlib/downloader.h"
#include "clientlib/library_settings.h"
#include "clientlib/net_connection.h"
#include "platform/date_time.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "platform/process_table.h"
#include "platform/program_launcher.h"

namespace Cli_jov00000 {

// The nine client executables that the update asks the server about, in the order it asks.
std::vector<std::string> ExecutaveisDoCliente();

// Appends one line to the update log; may throw IoError.
using UpdateLogLine = std::function<void(const std::string&)>;

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

// The date-time of a server stamp YYYYMMDDHHNNSS (its first 14 characters), with zero
// milliseconds. Throws jov::Error for a shorter stamp, a character other than a digit, or
// digits that name no valid date or time.
jov::DateTime DecodeStamp(const std::string& stamp);

// Whether a file-list entry's local file name may be installed: it begins (in upper case)
// with the name of one of the nine client executables, and it names a file of the program
// directory itself (no "/", "\\" or "..").
bool IsAcceptedLocalName(const std::string& local_name);

// What the update works over. The connection is the form's netLocalCache.
struct ExeUpdateSeams {
  jov::TNetConnection& connection;
  jov::FileSystem& files;
  jov::ProcessTable& processes;
  jov::ProgramLauncher& programs;
  jov::Dialogs& dialogs;
  jov::Downloader& downloads;
  jov::LibrarySettings& library;
  UpdateLogLine log;
};

// Asks the server about each name, collects the files whose server stamp is later than the
// local file in program_dir (ending with "/"), asks question when the server wants it,
// downloads them in one call and installs them in order. Reports through the log only and
// leaves the connection open; an exception leaves it only when the log itself fails.
void UpdateExecutables(const ExeUpdateSeams& seams, const std::vector<std::string>& names,
                       const std::string& program_dir, const std::string& question);

// The server stamp of the last entry the server lists for file_name's file-name part (the
// zero value when it lists none); nothing when the reply is empty or an error reply. Leaves
// the connection closed; a failing connect is thrown to the caller, every other failure is
// logged.
std::optional<jov::DateTime> FetchFileStamp(jov::TNetConnection& connection,
                                            const UpdateLogLine& log, const std::string& file_name);

}  // namespace Cli_jov00000
