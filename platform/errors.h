// The one error type through which the launcher signals failures, and the reasons it gives.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace jov {

// Why something failed, as the register's log tells it. Each cause has one Portuguese
// rendering (RenderReason); what it names comes from the error's context.
enum class Cause {
  kUnspecified,  // raised with a developer's message only; the log says "falha interna"
  // Files and folders: subject is the file, detail the system's text.
  kCannotOpen,
  kCannotOpenFile,  // the same, said as a data file's reader says it
  kCannotRead,
  kCannotWrite,
  kCannotWriteBeside,  // the temporary beside subject
  kCannotCopy,         // other, when given, is where to
  kCannotReplace,
  kCannotMove,  // other is where to
  kCannotSetTime,
  kNotRegular,
  kTooLarge,  // number is the limit in bytes
  // Programs and modules: subject is the file.
  kCannotRun,      // detail is why
  kNoBatchFile,    // subject is the command line
  kModuleLoad,     // detail is the loader's text
  kModuleNoEntry,  // other is the entry's name
  // Data packets: subject is where the packet came from.
  kPacketTooLarge,   // number is the limit
  kPacketMalformed,  // number is the line, other the column
  kPacketTextHasNul,
  kPacketFieldTwice,     // subject is the field
  kPacketFieldReserved,  // subject is the field
  // Databases and their records.
  kSettingInvalid,   // other is the setting, subject its value
  kDatabaseConnect,  // subject is the database, detail the driver's text
  kDatabaseNotConnected,
  kDatabaseFailed,  // detail is the driver's text
  kQueryWithoutConnection,
  kFieldMissing,     // subject is the field
  kColumnMissing,    // subject is the column
  kFieldNotInteger,  // subject is the field, detail its text
  // The application server.
  kServerAddressInvalid,
  kNotConnected,    // subject names the connection, if known
  kServerStalled,   // detail is the earlier stall's reason
  kExchangeFailed,  // detail is the transport's words for the failure
  kServerStatus,    // number is the HTTP status; subject, when given, what was asked for
  kServerError,     // detail is the server's text
  kReplyTooDeep,    // number is the depth
  kReplyNotJson,
  kReplyNoResult,
  kStampInvalid,  // detail is the stamp as the server gave it
  // The registry hive: subject is the hive's file; a value is named by other (its key) and
  // subject (its name, empty for the default value).
  kRegistryKeyEmptyName,  // subject is the key
  kRegistryKeyInvalid,    // subject is the key
  kRegistryTextRefused,   // detail is the text
  kHiveTooLarge,          // number is the limit in bytes
  kHiveCorrupt,           // number is the line
  kHiveNotRegular,
  kHiveUnreadable,        // detail is the system's text
  kHiveUnwritable,        // other, when given, is the lock file; detail the system's text
  kHiveFolderUnwritable,  // other is the folder, detail the system's text
  kHiveLockNotRegular,    // other is the lock file
  kHiveCannotLock,        // detail is the system's text
  kHiveLocked,
  kHiveReadOnly,
  kHiveWouldGrow,  // number is the limit in bytes
  kValueMissing,
  kValueKeyMissing,
  kValueNotText,
  kValueNotInteger,
  // The working folder of downloads: subject is the folder.
  kWorkFolderNotMade,  // detail is the system's text
  kWorkFolderNotFolder,
  kWorkFolderOtherOwner,
  kWorkFolderOpenToOthers,
  kWorkFolderFull,
  kWorkFolderWrite,       // detail is the system's text, when there is one
  kWorkFolderCreateFile,  // detail is the system's text
  // Signatures of downloaded archives.
  kPublicKeyInvalid,
  kPublicKeyNotEd25519,
  kSignatureEmpty,
  kSignatureMalformed,
  kSignatureCheckSetup,
  kSignatureMismatch,
  kSignatureTooLarge,  // number is the limit in bytes
  kSignatureMissing,   // subject is the archive's name, number the HTTP status
  // Downloaded archives: subject is the entry.
  kArchiveNotZip,
  kArchiveCorrupt,
  kArchiveCrc,
  kArchiveTooLarge,  // number is the limit in bytes
  kArchiveNoEntry,
  kProgramTooLarge,     // number is the limit in bytes
  kHashSetup,           // the SHA-256 of a download could not be started
  kDownloadUnreadable,  // detail is the system's text
  kPartialNotKept,      // a download cut short could not be kept; detail is the system's text
  // Release statements of downloaded archives.
  kReleaseMissing,           // subject is the statement's name, number the installed version
  kReleaseSignatureMissing,  // subject is the signature's name
  kReleaseSignatureRefused,  // detail is the signature check's reason
  kReleaseMalformed,         // detail is the statement reader's Portuguese reason
  kReleaseOtherFile,         // subject is the file it names, other the program file
  kReleaseSizeMismatch,      // number is the archive's size, other the statement's
  kReleaseShaMismatch,
  kReleaseExpired,                // subject is the expiry as the log shows times
  kReleaseOlder,                  // number is the published version, other the installed one
  kReleaseSameVersionOtherBytes,  // number is the version
  kReleaseTooLarge,               // number is the limit in bytes
  kReleaseSignatureTooLarge,      // number is the limit in bytes
  kReleaseNotRemoved,             // detail is the system's text
  // The records of installed versions: subject is the record file.
  kRecordNotJsonObject,
  kRecordBadVersion,
  kRecordBadHash,
  kVersionsUnreadable,  // detail is why the records cannot be read
};

// What a failure concerns; which fields a cause uses is said at the cause.
struct ErrorContext {
  // Every member has its default, so that a throw names only the ones its cause uses.
  std::string subject{};    // the file, folder, field, module or server concerned
  std::string other{};      // a second name: where to, a setting's name, a column
  std::string detail{};     // the system's, library's or server's own text
  std::int64_t number = 0;  // a limit, a line, a status
  std::string file{};       // the program file the reason opens with ("JovTab.exe: ..."), if any
};

// The Portuguese reason (Windows-1252) for a cause with its context, as the register's log
// shows it after " ----         : ". The context's texts go in as they are: the log replaces
// control characters and cuts the line.
std::string RenderReason(Cause cause, const ErrorContext& context);

// Base of every failure the launcher raises. what() is English, for developers: it names the
// thing and the cause. reason() is the same for the register's log, in Portuguese, naming the
// program file or folder concerned, never a temporary.
class Error : public std::runtime_error {
 public:
  // A failure with a message only (a programming fault, or one the log never shows).
  explicit Error(const std::string& message)
      : std::runtime_error(message), cause_(Cause::kUnspecified) {}
  Error(const std::string& message, Cause cause, ErrorContext context = {})
      : std::runtime_error(message), cause_(cause), context_(std::move(context)) {}

  Cause cause() const noexcept { return cause_; }
  const ErrorContext& context() const noexcept { return context_; }
  // The Portuguese reason; never empty.
  std::string reason() const { return RenderReason(cause_, context_); }

 private:
  Cause cause_;
  ErrorContext context_;
};

// An input/output failure (a file that cannot be created, opened, written or moved).
class IoError : public Error {
 public:
  using Error::Error;
};

// The silent abort: ends an event handler without the default error display showing it.
class Abort : public Error {
 public:
  Abort() : Error("Operation aborted") {}
};

// The reason a failure gives for the log, always in Portuguese: an Error's own; for anything
// else (memory exhausted, a system error, a library's exception) an internal failure.
std::string ReasonOf(const std::exception& failure);

}  // namespace jov
