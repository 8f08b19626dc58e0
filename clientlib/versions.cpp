#include "clientlib/versions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/file_bytes.h"
#include "platform/system_text.h"
#include "protocol/json_fields.h"

namespace jov {
namespace {

using protocol::json_fields::Json;
using protocol::json_fields::OrderedJson;

constexpr std::size_t kMaxRecordBytes = 64 * 1024;
constexpr int kMaxDepth = 2;

std::string Folder(const std::string& program_dir) {
  return program_dir.ends_with('/') ? program_dir + "Dados/Jov_Bpl/"
                                    : program_dir + "/Dados/Jov_Bpl/";
}

// The object in the file at path; nothing when there is no file. Throws Error with the
// Portuguese reason when the file cannot be read or is no JSON object.
std::optional<Json> ReadObject(const std::string& path) {
  // Non-blocking: a FIFO in its place must not hold the start up.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0 && errno == ENOENT) return std::nullopt;
  if (fd < 0) {
    const int error = errno;
    throw Error("Cannot open " + path, Cause::kCannotOpen,
                {.subject = path, .detail = SystemErrorText(error)});
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    throw Error(path + " is not a regular file", Cause::kNotRegular, {.subject = path});
  }
  // Raises IoError naming the file when it cannot be read or passes the bound.
  const std::string text = ReadFdBytes(fd, kMaxRecordBytes, path);
  std::optional<Json> json = protocol::json_fields::ParseBounded(text, kMaxRecordBytes, kMaxDepth);
  if (!json || !json->is_object()) {
    throw Error(path + " is not a JSON object", Cause::kRecordNotJsonObject, {.subject = path});
  }
  return json;
}

// Writes the object at path through a temporary, flushed and renamed.
void WriteObject(const std::string& path, const OrderedJson& json) {
  WriteFileAtomically(path, protocol::json_fields::Dump(json) + "\n", 0644);
}

}  // namespace

std::string VersionsPath(const std::string& program_dir) {
  return Folder(program_dir) + "versoes.json";
}

std::string VersionHashesPath(const std::string& program_dir) {
  return Folder(program_dir) + "versoes-sha256.json";
}

InstalledVersions InstalledVersions::Read(const std::string& program_dir) {
  InstalledVersions read;
  try {
    const std::optional<Json> versions = ReadObject(VersionsPath(program_dir));
    const std::optional<Json> hashes = ReadObject(VersionHashesPath(program_dir));
    if (versions) {
      for (const auto& [key, value] : versions->items()) {
        const std::optional<std::int64_t> version = protocol::json_fields::PositiveInteger(value);
        if (!version) {
          throw Error("a bad version in " + VersionsPath(program_dir), Cause::kRecordBadVersion,
                      {.subject = VersionsPath(program_dir)});
        }
        const std::string name = cp1252::FromUtf8(key);
        const std::string upper = cp1252::UpperAscii(name);
        read.builds_[upper].version = *version;
        read.names_[upper] = name;
      }
    }
    if (hashes) {
      for (const auto& [key, value] : hashes->items()) {
        if (!protocol::json_fields::IsSha256(value, false)) {
          throw Error("a bad hash in " + VersionHashesPath(program_dir), Cause::kRecordBadHash,
                      {.subject = VersionHashesPath(program_dir)});
        }
        const auto build = read.builds_.find(cp1252::UpperAscii(cp1252::FromUtf8(key)));
        // A hash without a version (a cut between the two writes) records nothing.
        if (build != read.builds_.end()) build->second.sha256 = value.get<std::string>();
      }
    }
  } catch (const Error& error) {
    read.builds_.clear();
    read.names_.clear();
    read.problem_ = error.reason();
  }
  return read;
}

std::optional<InstalledBuild> InstalledVersions::Find(const std::string& name) const {
  const auto found = builds_.find(cp1252::UpperAscii(name));
  if (found == builds_.end()) return std::nullopt;
  return found->second;
}

void InstalledVersions::Record(const std::string& program_dir, const std::string& name,
                               const InstalledBuild& build) {
  InstalledVersions records = Read(program_dir);
  if (!records.readable()) {
    throw IoError("Cannot record the version of " + name, Cause::kVersionsUnreadable,
                  {.detail = records.problem(), .file = name});
  }
  const std::string upper = cp1252::UpperAscii(name);
  records.builds_[upper] = build;
  records.names_[upper] = name;
  OrderedJson versions = OrderedJson::object();
  OrderedJson hashes = OrderedJson::object();
  for (const auto& [key, recorded] : records.builds_) {
    const std::string text = cp1252::ToUtf8(records.names_[key]);
    versions[text] = recorded.version;
    if (!recorded.sha256.empty()) hashes[text] = recorded.sha256;
  }
  std::error_code ignored;
  std::filesystem::create_directories(Folder(program_dir), ignored);
  WriteObject(VersionHashesPath(program_dir), hashes);
  WriteObject(VersionsPath(program_dir), versions);
}

std::optional<std::int64_t> InstalledVersion(const std::string& program_dir,
                                             const std::string& name) {
  const std::optional<InstalledBuild> build = InstalledVersions::Read(program_dir).Find(name);
  if (!build) return std::nullopt;
  return build->version;
}

}  // namespace jov
