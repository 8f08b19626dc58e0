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
#include "protocol/report.h"
#include "protocol/version_reply.h"

namespace Cli_jov00000 {

// The nine client executables that the update asks the server about, in the order it asks.
std::vector<std::string> ExecutaveisDoCliente();

// Appends one line to the update log; may throw IoError.
using UpdateLogLine = std::function<void(const std::string&)>;

// The reply's reading is the protocol's.
using jov::protocol::DecodeStamp;
using jov::protocol::SplitVersionReply;
using jov::protocol::VersionReply;

// Whether a file-list entry's local file name may be installed: it begins (in upper case)
// with the name of one of the nine client executables, and it names a file of the program
// directory itself (no "/", "\\", ".." or control character).
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

// Asks the server about every name (the queries together, their answers read in the order of
// names, as if asked one after another), collects the files whose server stamp is later than the
// local file in program_dir (ending with "/"; a name is matched to the file there without
// regard to letter case), asks question when the server wants it, downloads them in one call
// and installs them in order, each taking its server stamp as last-write time. A file installed
// from a signed release has its version recorded (clientlib/versions.h); one whose release is
// the build already installed is not installed again and only takes the stamp. Reports through
// the log only, every failure line followed by its reason; text from the server reaches the
// log with control characters replaced and cut at 1,000 characters. Leaves the connection
// open; an exception leaves it only when the log itself fails.
// What the update of a start came to, for the report to the chain's server.
struct UpdateOutcome {
  jov::protocol::Outcome outcome = jov::protocol::Outcome::kNothing;
  std::vector<std::string> installed;  // the local file names installed
  // The first failure: the program file it concerns (empty for the connection) and its reason.
  std::optional<std::pair<std::string, std::string>> failure;
};

UpdateOutcome UpdateExecutables(const ExeUpdateSeams& seams, const std::vector<std::string>& names,
                                const std::string& program_dir, const std::string& question);

// The server stamp of the last entry the server lists for file_name's file-name part (the
// zero value when it lists none); nothing when the reply is empty or an error reply. Leaves
// the connection closed; a failing connect is thrown to the caller, every other failure is
// logged.
// Removes what an update cut short (by a power cut, a kill) left behind: the temporaries of
// files being replaced in program_dir and the download temporaries in the working folder.
// Never fails.
void RemoveUpdateTemporaries(jov::FileSystem& files, const std::string& program_dir,
                             const std::string& working_dir);

std::optional<jov::DateTime> FetchFileStamp(jov::TNetConnection& connection,
                                            const UpdateLogLine& log, const std::string& file_name);

}  // namespace Cli_jov00000
