#include "clientlib/release_check.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "clientlib/archive_signature.h"
#include "clientlib/versions.h"
#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/file_bytes.h"
#include "platform/hex.h"
#include "platform/system_text.h"
#include "protocol/file_names.h"

namespace jov {
namespace {

struct MdFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string KeptPath(const std::string& working_dir, const std::string& local) {
  const std::string folder = working_dir.ends_with('/') ? working_dir : working_dir + "/";
  return folder + "." + local + ".jov-release";
}

// Text from outside, fit for a reason.
std::string Printable(const std::string& text) { return cp1252::ForLog(text, 300); }

}  // namespace

ArchiveFacts ArchiveFactsOf(int fd, const std::string& name, const std::string& local) {
  ArchiveFacts facts{name, local, 0, {}};
  const std::unique_ptr<EVP_MD_CTX, MdFree> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw IoError("Cannot hash " + name, Cause::kHashSetup, {.file = local});
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, facts.size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      throw IoError("Cannot read " + name + ": " + SystemErrorText(error),
                    Cause::kDownloadUnreadable, {.detail = SystemErrorText(error), .file = local});
    }
    if (n == 0) break;
    EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(n));
    facts.size += n;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context.get(), digest, &length);
  facts.sha256 = LowerHex(digest, length);
  return facts;
}

std::string UtcDateTimeText(std::int64_t seconds) {
  // "YYYY-MM-DDTHH:MM:SSZ" rearranged.
  const std::string iso = protocol::UtcTimeText(seconds);
  return iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4) + " " +
         iso.substr(11, 8);
}

std::optional<std::string> CheckRelease(const CompanionFetch& fetch, const ArchiveFacts& archive,
                                        const std::string& public_key, std::int64_t now,
                                        const InstalledVersions& installed) {
  const std::string& local = archive.local;
  const auto refuse = [&](const std::string& why, Cause cause, ErrorContext context = {}) {
    context.file = local;
    throw ReleaseError("Cannot install " + archive.name + ": " + why, cause, std::move(context));
  };
  if (!installed.readable()) {
    refuse("the installed versions cannot be read", Cause::kVersionsUnreadable,
           {.detail = installed.problem()});
  }
  const std::optional<InstalledBuild> recorded = installed.Find(local);
  const std::string release_name = protocol::ReleaseNameOf(archive.name);
  const std::optional<std::string> statement = fetch(release_name);
  if (!statement) {
    if (!recorded) return std::nullopt;
    refuse("no release statement " + release_name, Cause::kReleaseMissing,
           {.subject = Printable(release_name), .number = recorded->version});
  }
  const std::string signature_name = protocol::ReleaseSignatureNameOf(archive.name);
  const std::optional<std::string> signature = fetch(signature_name);
  if (!signature) {
    refuse("no signature " + signature_name, Cause::kReleaseSignatureMissing,
           {.subject = Printable(signature_name)});
  }
  try {
    VerifySignatureOfBytes(*statement, release_name, *signature, public_key);
  } catch (const SignatureError& error) {
    refuse(error.what(), Cause::kReleaseSignatureRefused, {.detail = error.reason()});
  }
  const protocol::Parsed<protocol::Release> parsed = protocol::ReadRelease(*statement);
  if (!parsed.ok()) {
    refuse("the release statement is malformed", Cause::kReleaseMalformed, {.detail = parsed.why});
  }
  const protocol::Release& release = *parsed.value;
  const std::string file = cp1252::FromUtf8(release.file);
  if (!cp1252::EqualsIgnoringAsciiCase(file, local)) {
    refuse("the release names " + release.file, Cause::kReleaseOtherFile,
           {.subject = Printable(file), .other = local});
  }
  if (release.size != archive.size) {
    refuse("the release says " + std::to_string(release.size) + " bytes",
           Cause::kReleaseSizeMismatch,
           {.other = std::to_string(release.size), .number = archive.size});
  }
  if (release.sha256 != archive.sha256) {
    refuse("the archive's SHA-256 is not the release's", Cause::kReleaseShaMismatch);
  }
  if (release.expires <= now) {
    refuse("the release expired at " + protocol::UtcTimeText(release.expires),
           Cause::kReleaseExpired, {.subject = UtcDateTimeText(release.expires)});
  }
  if (recorded && release.version < recorded->version) {
    refuse("version " + std::to_string(release.version) + " is older than the installed " +
               std::to_string(recorded->version),
           Cause::kReleaseOlder,
           {.other = std::to_string(recorded->version), .number = release.version});
  }
  if (recorded && release.version == recorded->version && release.sha256 != recorded->sha256) {
    refuse("version " + std::to_string(release.version) + " is installed with other bytes",
           Cause::kReleaseSameVersionOtherBytes, {.number = release.version});
  }
  return statement;
}

void KeepAcceptedRelease(const std::string& working_dir, const std::string& local,
                         const std::optional<std::string>& statement) {
  const std::string path = KeptPath(working_dir, local);
  if (statement) {
    WriteFileAtomically(path, *statement, 0600, local + ".release");
  } else if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    throw IoError("Cannot remove " + path + ": " + SystemErrorText(error),
                  Cause::kReleaseNotRemoved, {.detail = SystemErrorText(error), .file = local});
  }
}

std::optional<protocol::Release> AcceptedRelease(const std::string& working_dir,
                                                 const std::string& local) {
  const std::string path = KeptPath(working_dir, local);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  try {
    return protocol::ReadRelease(ReadFdBytes(fd, protocol::kMaxReleaseBytes, path)).value;
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace jov
