// Whether a downloaded archive may be installed by its signed release statement, and the
// statement of the file last placed in the working folder, for the install that follows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/errors.h"
#include "protocol/release.h"

namespace jov {

class InstalledVersions;

// A release statement that is missing where one is needed, or that refuses the archive. The
// reason ("<program file>: ...") says which rule, in Portuguese.
class ReleaseError : public Error {
 public:
  using Error::Error;
};

// The archive being checked: its server name, the program file it holds, its bytes' count and
// SHA-256 (64 lower-case hex digits).
struct ArchiveFacts {
  std::string name;
  std::string local;
  std::int64_t size = 0;
  std::string sha256;
};

// The size and SHA-256 of the file open at fd, read from its start with pread (the offset is
// left as it was). Throws IoError naming name when it cannot be read.
ArchiveFacts ArchiveFactsOf(int fd, const std::string& name, const std::string& local);

// A companion file of the archive from the server: its bytes, or nothing when the server has
// none (an HTTP status other than 200). Throws on any other failure.
using CompanionFetch = std::function<std::optional<std::string>(const std::string& server_name)>;

// Fetches "<archive>.release" and, when there is one, "<archive>.release.sig", and returns the
// statement's text when the archive may be installed by it: its signature verifies with
// public_key, its file is archive.local (letter case aside), its size and sha256 are the
// archive's, it expires after now (seconds since 1970 UTC), and its version is not below the
// one installed of that program (equal only with the same sha256). Returns nothing when the
// server has no statement and none is needed: no version of the program is recorded. Throws
// ReleaseError with the reason otherwise; an unreadable record of versions refuses every
// archive (it must never let an older build in unnoticed). Blocks on fetch.
std::optional<std::string> CheckRelease(const CompanionFetch& fetch, const ArchiveFacts& archive,
                                        const std::string& public_key, std::int64_t now,
                                        const InstalledVersions& installed);

// The statement accepted with the file local last placed in working_dir: kept there as
// ".<local>.jov-release" (a name no server file lands under) from the download until the next
// download of that file. Keep writes it (through a temporary) or, given nothing, removes it;
// throws IoError. Accepted reads it back (bounded, regular file only): nothing when there is
// none or it is no valid statement. Never throws.
void KeepAcceptedRelease(const std::string& working_dir, const std::string& local,
                         const std::optional<std::string>& statement);
std::optional<protocol::Release> AcceptedRelease(const std::string& working_dir,
                                                 const std::string& local);

// "dd/MM/yyyy HH:mm:ss" of seconds since 1970 UTC, as the reasons show a release's expiry.
std::string UtcDateTimeText(std::int64_t seconds);

}  // namespace jov
