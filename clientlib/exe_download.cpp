#include "clientlib/exe_download.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>

#include "clientlib/archive_entry.h"
#include "clientlib/archive_signature.h"
#include "clientlib/client_ini.h"
#include "clientlib/delta_patch.h"
#include "clientlib/download_progress.h"
#include "clientlib/http_transport.h"
#include "clientlib/partial_download.h"
#include "clientlib/release_check.h"
#include "clientlib/server_stall.h"
#include "clientlib/versions.h"
#include "platform/atomic_file.h"
#include "platform/clock_linux.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/file_bytes.h"
#include "platform/hex.h"
#include "platform/host_path.h"
#include "protocol/file_names.h"
#include "protocol/release.h"

namespace jov {
namespace {

constexpr std::int64_t kProgressStep = 64 * 1024;
constexpr std::int64_t kSignatureLimit = 4096;

std::string SystemText(int error) { return std::strerror(error); }

// Text from outside, fit for a message.
std::string Printable(const std::string& text) { return cp1252::ForLog(text, 300); }

std::int64_t FreeSpace(const ExeDownloadSettings& s) {
  if (s.free_space) return s.free_space(s.working_directory);
  struct statvfs fs {};
  // A folder whose space cannot be told lets the writes tell.
  if (::statvfs(s.working_directory.c_str(), &fs) != 0) {
    return std::numeric_limits<std::int64_t>::max();
  }
  const unsigned long long bytes =
      static_cast<unsigned long long>(fs.f_bavail) * static_cast<unsigned long long>(fs.f_frsize);
  return bytes > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max())
             ? std::numeric_limits<std::int64_t>::max()
             : static_cast<std::int64_t>(bytes);
}

// Makes the working folder when it is missing, private to this user; refuses one that is not
// a folder, not this user's, or that others may write in: they could swap a file between its
// check and its install.
void PrepareWorkingFolder(const std::string& dir, const std::string& fail,
                          const std::string& local) {
  const std::string bare =
      dir.size() > 1 && dir.back() == '/' ? dir.substr(0, dir.size() - 1) : dir;
  std::error_code not_made;
  std::filesystem::create_directories(DirectoryOf(bare), not_made);
  if (::mkdir(bare.c_str(), 0700) != 0 && errno != EEXIST) {
    const int error = errno;
    throw IoError(fail + "cannot create " + dir + ": " + SystemText(error),
                  Cause::kWorkFolderNotMade,
                  {.subject = dir, .detail = SystemText(error), .file = local});
  }
  struct stat st {};
  if (::stat(bare.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw IoError(fail + dir + " is not a folder", Cause::kWorkFolderNotFolder,
                  {.subject = dir, .file = local});
  }
  if (st.st_uid != ::geteuid()) {
    throw IoError(fail + dir + " belongs to another user", Cause::kWorkFolderOtherOwner,
                  {.subject = dir, .file = local});
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw IoError(fail + "other users can write in " + dir, Cause::kWorkFolderOpenToOthers,
                  {.subject = dir, .file = local});
  }
}

// Counts what goes into the working folder against its free space, asking the system again
// only once what was measured is used up.
class SpaceAccount {
 public:
  SpaceAccount(const ExeDownloadSettings& s, std::string fail, std::string local)
      : settings_(s), fail_(std::move(fail)), local_(std::move(local)), room_(FreeSpace(s)) {}

  // Refuses, before writing a byte, a file of the given size that the folder cannot hold.
  void Reserve(std::int64_t bytes, const std::string& what) {
    if (bytes > room_) room_ = FreeSpace(settings_);
    if (bytes > room_) {
      throw IoError(fail_ + "no space left in " + settings_.working_directory + ": " + what +
                        " needs " + std::to_string(bytes) + " bytes, " + std::to_string(room_) +
                        " are free",
                    Cause::kWorkFolderFull, NoSpace());
    }
  }

  // Writes all the bytes to fd.
  void Write(int fd, const char* data, std::size_t size) {
    if (written_ + static_cast<std::int64_t>(size) - measured_at_ > room_) {
      room_ = FreeSpace(settings_);
      measured_at_ = written_;
      if (static_cast<std::int64_t>(size) > room_) ThrowNoSpace();
    }
    while (size > 0) {
      const ssize_t n = ::write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == ENOSPC || errno == EDQUOT)) ThrowNoSpace();
      if (n <= 0) {
        const int error = n < 0 ? errno : EIO;
        throw IoError(
            fail_ + "cannot write in " + settings_.working_directory + ": " + SystemText(error),
            Cause::kWorkFolderWrite, {.detail = SystemText(error), .file = local_});
      }
      data += n;
      size -= static_cast<std::size_t>(n);
      written_ += n;
    }
  }
  std::int64_t written() const { return written_; }

 private:
  ErrorContext NoSpace() const { return {.subject = settings_.working_directory, .file = local_}; }
  [[noreturn]] void ThrowNoSpace() const {
    throw IoError(fail_ + "no space left in " + settings_.working_directory + " after " +
                      std::to_string(written_) + " bytes",
                  Cause::kWorkFolderFull, NoSpace());
  }

  const ExeDownloadSettings& settings_;
  std::string fail_;
  std::string local_;
  std::int64_t room_ = 0;  // free bytes when last measured
  std::int64_t written_ = 0;
  std::int64_t measured_at_ = 0;  // written_ then
};

// An unnamed file in the working folder: no other program can open it, and nothing is left
// of it when this process ends, however it ends.
class UnnamedFile {
 public:
  UnnamedFile(const std::string& dir, const std::string& fail, const std::string& local) {
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      // A file system without unnamed files: a named one, removed at once.
      std::string path = TemporaryPrefix(dir + local) + "XXXXXX";
      fd_ = ::mkostemp(path.data(), O_CLOEXEC);
      if (fd_ >= 0) ::unlink(path.c_str());
    }
    if (fd_ < 0) {
      const int error = errno;
      throw IoError(fail + "cannot create a file in " + dir + ": " + SystemText(error),
                    Cause::kWorkFolderCreateFile,
                    {.subject = dir, .detail = SystemText(error), .file = local});
    }
  }
  ~UnnamedFile() { ::close(fd_); }
  UnnamedFile(const UnnamedFile&) = delete;
  UnnamedFile& operator=(const UnnamedFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Ends the progress of one file on every path once it has begun.
struct ProgressScope {
  DownloadProgress* progress = nullptr;
  bool begun = false;
  std::int64_t reported = 0;
  ~ProgressScope() {
    if (begun) progress->End();
  }
};

// Raises the failure of an exchange for the file local; a time bound that ran out marks the
// server stalled.
[[noreturn]] void FailExchange(const ExeDownloadSettings& s, const std::string& fail,
                               const std::string& local, const std::string& what,
                               const HttpResult& result, const HttpLimits& limits) {
  HttpCause cause = DescribeFailure(result, limits);
  ErrorContext context{.detail = cause.reason, .file = local};
  Cause kind = Cause::kExchangeFailed;
  if (result.failure == HttpFailure::kTooLarge) {
    const std::string limit = SizeText(limits.max_body);
    cause.message = result.length > limits.max_body
                        ? "the archive has " + std::to_string(result.length) +
                              " bytes, more than the limit of " + limit
                        : "the archive is larger than the limit of " + limit;
    kind = Cause::kArchiveTooLarge;
    context.number = limits.max_body;
  }
  if (cause.stall && s.stall != nullptr) {
    s.stall->Note("the download of " + what + ": " + cause.message,
                  "o download de "_w + local + ": " + cause.reason);
  }
  throw Error(fail + cause.message, kind, std::move(context));
}

HttpLimits DownloadLimits(const ExeDownloadSettings& s) {
  HttpLimits limits;
  limits.connect = s.connect_timeout;
  limits.total = s.total_timeout;
  limits.stall_bytes_per_second = 1024;
  limits.stall_time =
      std::max(std::chrono::seconds(1), std::chrono::ceil<std::chrono::seconds>(s.stall_timeout));
  limits.max_body = s.max_bytes;
  limits.max_redirects = s.max_redirects;
  limits.max_receive_rate = s.max_kbps * 1024;
  return limits;
}

// A companion file of the archive at url, at most limit bytes (a larger one is refused with
// the cause too_large, naming the limit); nothing when the server has none, its status then in
// status when given.
std::optional<std::string> FetchCompanion(HttpTransport& transport, const ExeDownloadSettings& s,
                                          const std::string& name, const std::string& local,
                                          const std::string& url, std::int64_t limit,
                                          Cause too_large, int* status = nullptr) {
  const std::string fail = "Cannot download " + name + " from " + Printable(url) + ": ";
  HttpLimits limits = DownloadLimits(s);
  limits.max_body = limit;
  std::string bytes;
  const HttpResult result = transport.Get(
      url, limits,
      {nullptr, [&](const char* data, std::size_t size) { bytes.append(data, size); }});
  if (result.failure == HttpFailure::kTooLarge) {
    throw Error(fail + "larger than " + SizeText(limit), too_large,
                {.number = limit, .file = local});
  }
  if (!result.ok()) FailExchange(s, fail, local, name, result, limits);
  if (status != nullptr) *status = result.status;
  if (result.status != 200) return std::nullopt;
  return bytes;
}

// The archive's signature text, fetched from url; raises SignatureError when the server has
// none.
std::string FetchSignature(HttpTransport& transport, const ExeDownloadSettings& s,
                           const std::string& name, const std::string& local,
                           const std::string& url) {
  int status = 0;
  std::optional<std::string> signature = FetchCompanion(
      transport, s, name + ".sig", local, url, kSignatureLimit, Cause::kSignatureTooLarge, &status);
  if (!signature) {
    throw SignatureError("Cannot install " + name + ": no signature at " + Printable(url),
                         Cause::kSignatureMissing,
                         {.subject = Printable(name), .number = status, .file = local});
  }
  return *signature;
}

// Seconds since 1970 UTC by the register's clock.
std::int64_t UtcNow(const ExeDownloadSettings& s) {
  ClockLinux system;
  Clock& clock = s.clock != nullptr ? *s.clock : system;
  const std::optional<timespec> now = LocalTimeSpec(clock.Now());
  // A time the C library cannot hold is later than any expiry.
  return now ? now->tv_sec : std::numeric_limits<std::int64_t>::max();
}

// The SHA-256 of bytes, 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    return {};
  }
  return LowerHex(digest, length);
}

// The new program file rebuilt from the installed one and the patch its signed release offers
// for it, with the statement that lets it in (kept in statement). Nothing, and nothing said,
// when there is no key, no release, no patch from the installed file, or when anything fails
// (the patch missing, corrupt, too large, or not giving the release's program): the caller
// then fetches the whole archive, whose failures say why. Blocks on the server.
std::optional<std::string> ProgramByDelta(HttpTransport& transport, const std::string& name,
                                          const std::string& local, const std::string& source,
                                          const ExeDownloadSettings& s, std::string& statement) {
  if (s.public_key.empty() || s.program_directory.empty()) return std::nullopt;
  try {
    std::map<std::string, std::optional<std::string>> fetched;
    const auto fetch = [&](const std::string& companion) -> std::optional<std::string> {
      if (const auto known = fetched.find(companion); known != fetched.end()) {
        return known->second;
      }
      const std::string url = source + EncodePathSegment(companion);
      std::optional<std::string> bytes =
          protocol::IsReleaseSignatureName(companion)
              ? FetchCompanion(transport, s, companion, local, url, kSignatureLimit,
                               Cause::kReleaseSignatureTooLarge)
              : FetchCompanion(transport, s, companion, local, url,
                               static_cast<std::int64_t>(protocol::kMaxReleaseBytes),
                               Cause::kReleaseTooLarge);
      fetched.emplace(companion, bytes);
      return bytes;
    };
    const std::optional<std::string> text = fetch(protocol::ReleaseNameOf(name));
    if (!text) return std::nullopt;
    const protocol::Parsed<protocol::Release> parsed = protocol::ReadRelease(*text);
    if (!parsed.ok() || !parsed.value->program) return std::nullopt;
    const protocol::Release& release = *parsed.value;
    const protocol::ReleasedProgram& program = *release.program;
    if (program.size > s.max_bytes) return std::nullopt;
    // The statement passes the same rules (signature, file, expiry, version) as for the
    // archive it describes; the rebuilt file is then held to the program it describes.
    const std::optional<std::string> accepted =
        CheckRelease(fetch, ArchiveFacts{name, local, release.size, release.sha256}, s.public_key,
                     UtcNow(s), InstalledVersions::Read(s.program_directory));
    if (!accepted) return std::nullopt;
    const std::string folder =
        s.program_directory.ends_with('/') ? s.program_directory : s.program_directory + "/";
    const std::string installed =
        ReadFileBytes(folder + local, static_cast<std::size_t>(s.max_bytes));
    const std::string from = Sha256Hex(installed);
    const auto delta =
        std::find_if(release.deltas.begin(), release.deltas.end(),
                     [&](const protocol::ReleaseDelta& d) { return d.from == from; });
    if (delta == release.deltas.end() || delta->size > s.max_bytes) return std::nullopt;
    HttpLimits limits = DownloadLimits(s);
    limits.max_body = delta->size;
    std::string bytes;
    const HttpResult result = transport.Get(
        source + EncodePathSegment(delta->file), limits,
        {nullptr, [&](const char* data, std::size_t size) { bytes.append(data, size); }});
    if (!result.ok() || result.status != 200 ||
        static_cast<std::int64_t>(bytes.size()) != delta->size) {
      return std::nullopt;
    }
    std::optional<std::string> rebuilt = ApplyDelta(installed, bytes, program.size);
    if (!rebuilt || static_cast<std::int64_t>(rebuilt->size()) != program.size ||
        Sha256Hex(*rebuilt) != program.sha256) {
      return std::nullopt;
    }
    statement = *accepted;
    return rebuilt;
  } catch (const Error&) {
    return std::nullopt;
  }
}

// The release statement the server publishes for the archive, unchecked: it only names the
// bytes a download cut short may be resumed under, which are checked whole against the
// signed statement before anything is installed. Nothing without a key or a readable one.
std::optional<protocol::Release> PeekRelease(HttpTransport& transport, const std::string& name,
                                             const std::string& local, const std::string& source,
                                             const ExeDownloadSettings& s) {
  if (s.public_key.empty()) return std::nullopt;
  try {
    const std::string release_name = protocol::ReleaseNameOf(name);
    const std::optional<std::string> text = FetchCompanion(
        transport, s, release_name, local, source + EncodePathSegment(release_name),
        static_cast<std::int64_t>(protocol::kMaxReleaseBytes), Cause::kReleaseTooLarge);
    if (!text) return std::nullopt;
    protocol::Parsed<protocol::Release> parsed = protocol::ReadRelease(*text);
    if (!parsed.ok() || parsed.value->size > s.max_bytes) return std::nullopt;
    return std::move(*parsed.value);
  } catch (const Error&) {
    return std::nullopt;
  }
}

void DownloadExeFile(HttpTransport& transport, const std::string& name, const std::string& local,
                     const std::string& source, const ExeDownloadSettings& s,
                     DownloadProgress* progress) {
  const std::string url = source + EncodePathSegment(name);
  const std::string fail = "Cannot download " + name + " from " + Printable(url) + ": ";
  PrepareWorkingFolder(s.working_directory, fail, local);
  // What a previous download accepted says nothing of this one.
  KeepAcceptedRelease(s.working_directory, local, std::nullopt);
  std::string delta_statement;
  if (const std::optional<std::string> program =
          ProgramByDelta(transport, name, local, source, s, delta_statement)) {
    // Installed as an unpacked archive is: through a temporary, flushed and renamed.
    const std::string patch_fail = "Cannot install " + local + " from a delta of " + name + ": ";
    PendingFile rebuilt(TemporaryPrefix(s.working_directory + local), local);
    SpaceAccount patch_space(s, patch_fail, local);
    patch_space.Reserve(static_cast<std::int64_t>(program->size()), "the program file");
    patch_space.Write(rebuilt.fd(), program->data(), program->size());
    try {
      rebuilt.Commit(s.working_directory + local, 0755);
    } catch (const IoError& error) {
      throw IoError(patch_fail + error.what(), Cause::kWorkFolderWrite, {.file = local});
    }
    KeepAcceptedRelease(s.working_directory, local, delta_statement);
    RemovePartialDownloads(s.working_directory, local);
    return;
  }
  // With a release to check the whole against, the bytes are kept across starts under its
  // sha256 and a download cut short resumes where it stopped; without one, they go to a file
  // that nothing can reach and that goes with the process.
  const std::optional<protocol::Release> expected = PeekRelease(transport, name, local, source, s);
  std::optional<UnnamedFile> unnamed;
  std::optional<PartialDownload> partial;
  if (expected) {
    partial.emplace(s.working_directory, local, expected->sha256, expected->size);
  } else {
    unnamed.emplace(s.working_directory, fail, local);
  }
  struct PartialScope {
    std::optional<PartialDownload>& partial;
    bool keep = false;
    ~PartialScope() {
      if (partial && !keep) partial->Remove();
    }
  } partial_scope{partial};
  const int archive_fd = partial ? partial->fd() : unnamed->fd();
  SpaceAccount space(s, fail, local);
  ProgressScope shown{progress};
  const HttpLimits limits = DownloadLimits(s);
  const auto fetch = [&](std::int64_t from) {
    return transport.Get(url, limits,
                         {[&](int status, std::int64_t length) {
                            if (status == 200 && from > 0) partial->Restart();
                            if (length > 0) space.Reserve(length, "the archive");
                            if (progress != nullptr && !shown.begun) {
                              progress->Begin(local, length);
                              shown.begun = true;
                            }
                          },
                          [&](const char* data, std::size_t size) {
                            space.Write(archive_fd, data, size);
                            if (shown.begun && space.written() - shown.reported >= kProgressStep) {
                              shown.reported = space.written();
                              progress->Advance(shown.reported);
                            }
                          }},
                         from);
  };
  const std::int64_t kept = partial ? partial->Kept() : 0;
  HttpResult result;
  result.status = 200;
  if (!partial || kept < expected->size) result = fetch(kept);
  if (result.ok() && kept > 0 && result.status != 200) {
    // Only the rest, exactly as asked, continues the bytes kept; anything else (416, a range
    // or length other than asked) starts over with the whole archive.
    const std::string asked = "bytes " + std::to_string(kept) + "-" +
                              std::to_string(expected->size - 1) + "/" +
                              std::to_string(expected->size);
    if (result.status != 206 || result.content_range != asked ||
        result.length != expected->size - kept) {
      partial->Restart();
      result = fetch(0);
    } else {
      result.status = 200;
    }
  }
  if (!result.ok()) {
    partial_scope.keep = true;
    FailExchange(s, fail, local, name, result, limits);
  }
  if (result.status != 200) {
    throw Error(fail + "the server answered HTTP " + std::to_string(result.status),
                Cause::kServerStatus,
                {.subject = Printable(name), .number = result.status, .file = local});
  }
  if (shown.begun && shown.reported != space.written()) progress->Advance(space.written());

  std::optional<std::string> statement;
  if (!s.public_key.empty()) {
    const std::string signature = FetchSignature(transport, s, name, local, url + ".sig");
    try {
      VerifyArchiveSignatureFd(archive_fd, name, signature, s.public_key);
    } catch (const SignatureError& refused) {
      ErrorContext context = refused.context();
      context.file = local;
      throw SignatureError(refused.what(), refused.cause(), std::move(context));
    }
    statement = CheckRelease(
        [&](const std::string& companion) {
          const std::string companion_url = source + EncodePathSegment(companion);
          return protocol::IsReleaseSignatureName(companion)
                     ? FetchCompanion(transport, s, companion, local, companion_url,
                                      kSignatureLimit, Cause::kReleaseSignatureTooLarge)
                     : FetchCompanion(transport, s, companion, local, companion_url,
                                      static_cast<std::int64_t>(protocol::kMaxReleaseBytes),
                                      Cause::kReleaseTooLarge);
        },
        ArchiveFactsOf(archive_fd, name, local), s.public_key, UtcNow(s),
        s.program_directory.empty() ? InstalledVersions{}
                                    : InstalledVersions::Read(s.program_directory));
  }
  const std::string unpack_fail = "Cannot unpack " + local + " from " + name + ": ";
  PendingFile unpacked(TemporaryPrefix(s.working_directory + local), local);
  SpaceAccount unpack_space(s, unpack_fail, local);
  UnpackEntry(
      archive_fd, name, local, s.max_bytes,
      [&](std::int64_t size) { unpack_space.Reserve(size, "the entry"); },
      [&](const char* data, std::size_t size) { unpack_space.Write(unpacked.fd(), data, size); });
  try {
    unpacked.Commit(s.working_directory + local, 0755);
  } catch (const IoError& error) {
    throw IoError(unpack_fail + error.what(), Cause::kWorkFolderWrite, {.file = local});
  }
  if (statement) KeepAcceptedRelease(s.working_directory, local, statement);
}

// The file-name part of the local path given for a server name, when it is that name but for
// letter case.
std::string LandingName(const std::string& local, const std::vector<std::string>& local_paths,
                        std::size_t index) {
  if (index >= local_paths.size()) return local;
  const std::string given = FileNameOf(local_paths[index]);
  return cp1252::EqualsIgnoringAsciiCase(given, local) ? given : local;
}

}  // namespace

ExeDownloadSettings ExeDownloadSettingsFromIni(const ClientIni& ini) {
  ExeDownloadSettings s;
  s.working_directory = ini.working_directory;
  s.max_bytes = ini.max_download_mb << 20;
  s.public_key = ini.public_key;
  s.proxy = ini.proxy;
  s.max_kbps = ini.max_kbps;
  return s;
}

void DownloadExeFiles(const std::vector<std::string>& server_lines, const std::string& source,
                      const ExeDownloadSettings& settings, DownloadProgress* progress,
                      const std::vector<std::string>& local_paths) {
  const auto refuse_after_stall = [&](const std::string& what, const std::string& local) {
    if (settings.stall != nullptr && settings.stall->Stalled()) {
      throw Error("Cannot download " + what + ": the server stopped answering earlier (" +
                      settings.stall->Cause() + ")",
                  Cause::kServerStalled, {.detail = settings.stall->Reason(), .file = local});
    }
  };
  // Only archives are fetched; the update never lists anything else.
  std::vector<std::pair<std::string, std::string>> files;  // server name, local name
  for (std::size_t i = 0; i < server_lines.size(); ++i) {
    const std::string name = server_lines[i].substr(0, server_lines[i].find('='));
    if (!IsProgramArchiveName(name)) continue;
    files.emplace_back(name, LandingName(protocol::LocalFileNameOf(name), local_paths, i));
  }
  refuse_after_stall("from " + Printable(source), files.empty() ? "" : files.front().second);
  RemoveDownloadTemporaries(settings.working_directory);
  HttpTransport::Options options;
  options.proxy = settings.proxy;
  options.ca_file = settings.ca_file;
  options.host_name = settings.host_name;
  options.identity = settings.identity;
  HttpTransport transport(options);
  for (const auto& [name, local] : files) {
    refuse_after_stall(Printable(name), local);
    DownloadExeFile(transport, name, local, source, settings, progress);
  }
}

bool IsProgramArchiveName(const std::string& server_name) {
  const std::string local = protocol::LocalFileNameOf(server_name);
  return !local.empty() && server_name.size() == local.size() + 4;
}

void RemoveDownloadTemporaries(const std::string& working_directory) {
  DIR* dir = ::opendir(working_directory.c_str());
  if (dir == nullptr) return;
  const std::string folder =
      working_directory.ends_with('/') ? working_directory : working_directory + "/";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat st {};
    const std::string path = folder + name;
    if (IsOwnTemporary(name) && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      ::unlink(path.c_str());
    }
  }
  ::closedir(dir);
}

void SettingsDownloader::GetExeFile(const std::vector<std::string>& local_paths,
                                    const std::vector<std::string>& server_lines,
                                    const std::string& source, bool& flag) {
  DownloadExeFiles(server_lines, source, settings_, nullptr, local_paths);
  flag = true;
}

}  // namespace jov
