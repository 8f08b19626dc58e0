// Program-file downloads: an archive per file over HTTP(S), unpacked into the working folder.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "clientlib/downloader.h"

namespace jov {

class Clock;
class DownloadProgress;
class RegisterIdentity;
class ServerStall;
struct ClientIni;

struct ExeDownloadSettings {
  // Where the files land, ending with "/"; the temporaries are made there too. Made (0700)
  // when missing; refused when it is not this user's or others may write in it.
  std::string working_directory;
  // The largest archive accepted, and the largest file unpacked from one.
  std::int64_t max_bytes = std::int64_t{512} << 20;
  // Base64 Ed25519 key; when set, every archive must carry a matching "<name>.sig", and a
  // signed release statement that lets it in (clientlib/release_check.h) once a version of its
  // program is recorded, or whenever the server publishes one.
  std::string public_key;
  // The program folder whose records say which version of each program is installed
  // (clientlib/versions.h); empty: none is recorded.
  std::string program_directory;
  // The register's clock, against which a release expires; nullptr: the system's.
  Clock* clock = nullptr;
  // PEM certificate authorities for https; empty: the system's store.
  std::string ca_file;
  // libcurl's proxy syntax; empty: no proxy, whatever the environment says.
  std::string proxy;
  std::chrono::milliseconds connect_timeout{5000};
  // Less than 1 KiB/s over this long (whole seconds, at least one), from the first byte of a
  // request, ends a download and, through stall, every later exchange of this start.
  std::chrono::milliseconds stall_timeout{30000};
  // The longest one file's download may take, however steadily its bytes come.
  std::chrono::milliseconds total_timeout{std::chrono::minutes(30)};
  int max_redirects = 5;
  // The fastest a download may come, in KiB per second; 0: no cap.
  std::int64_t max_kbps = 0;
  // The start's stall state, noted and heeded; nullptr: a call remembers nothing for the next.
  ServerStall* stall = nullptr;
  // Who asks (X-Jov-Host, X-Jov-Register); the identity, when given, outlives the call.
  std::string host_name;
  const RegisterIdentity* identity = nullptr;
  // Free bytes in a folder; empty: statvfs. Tests put a small disk in its place.
  std::function<std::int64_t(const std::string& folder)> free_space;
};

// The settings that clientlib.ini gives: working folder, size limit, key, proxy.
ExeDownloadSettings ExeDownloadSettingsFromIni(const ClientIni& ini);

// Fetches each "<name>=<stamp>" line's archive as GET <source><name> (source: an http or https
// base URL; the name percent-encoded), over one kept connection, checks its signature when a
// key is set, and places its entry named like the local file under working_directory, flushed,
// through a rename: that name holds the previous file or the whole new one, never a part. The
// local name is the file-name part of local_paths' entry for the line when they are equal but
// for letter case (the program folder's spelling), else the server's. The archive is
// downloaded, checked and unpacked through one unnamed file that no other program can reach.
// A line that names no program archive (IsProgramArchiveName) is passed over: an update never
// lists one. Fails at once when
// the settings' stall state says the server stalled earlier in this start. progress, when given,
// is told about each archive as its bytes arrive. Blocks per file for at most total_timeout (plus
// connect_timeout for each redirect). Throws Error naming the file and the cause, with a Portuguese
// reason that names the program file (SignatureError for a missing or refused signature,
// ReleaseError for a release statement that is missing or refuses the archive, IoError for the
// working folder); whatever fails, no temporary of this call is left behind. The statement
// accepted with each file is kept for its install (AcceptedRelease). With a key: when the
// signed release offers a patch from the installed program file, the file is rebuilt from it
// instead, and any fault of the patch falls back to the archive without a word; an archive
// cut short is kept (PartialDownload) and resumed with a range by the next call while the
// release's sha256 is the same, then checked whole as any archive is.
void DownloadExeFiles(const std::vector<std::string>& server_lines, const std::string& source,
                      const ExeDownloadSettings& settings, DownloadProgress* progress,
                      const std::vector<std::string>& local_paths = {});

// Whether a server file-list name is a program archive, "<local name>.zip" (letter case aside),
// and not its signature (".zip.sig"), its release statement (".zip.release", ".zip.release.sig")
// or anything else.
bool IsProgramArchiveName(const std::string& server_name);

// Removes the temporaries that downloads cut short (by a power cut) left in the working
// folder. Never fails; call it when no download of this register runs.
void RemoveDownloadTemporaries(const std::string& working_directory);

// GetExeFile over settings of its own instead of clientlib.ini's: for a program that updates
// a folder other than its own (a benchmark, a load test). Sets the flag when all are there.
class SettingsDownloader : public Downloader {
 public:
  explicit SettingsDownloader(ExeDownloadSettings settings) : settings_(std::move(settings)) {}
  void GetExeFile(const std::vector<std::string>& local_paths,
                  const std::vector<std::string>& server_lines, const std::string& source,
                  bool& flag) override;

 private:
  ExeDownloadSettings settings_;
};

}  // namespace jov
