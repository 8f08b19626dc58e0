#include "protocol/file_names.h"

#include "platform/cp1252.h"

namespace jov::protocol {
namespace {

bool EndsWithIgnoringCase(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         cp1252::EqualsIgnoringAsciiCase(name.substr(name.size() - suffix.size()), suffix);
}

// name less suffix when it ends with it (any case); nothing left otherwise.
std::string_view Less(std::string_view name, std::string_view suffix) {
  return EndsWithIgnoringCase(name, suffix) ? name.substr(0, name.size() - suffix.size())
                                            : std::string_view();
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool SafeFileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes || name.find("..") != std::string_view::npos) {
    return false;
  }
  for (const char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

bool IsArchiveName(std::string_view name) {
  return name.size() > 4 && EndsWithIgnoringCase(name, ".zip");
}

std::string SignatureNameOf(std::string_view archive) { return std::string(archive) + ".sig"; }
std::string ReleaseNameOf(std::string_view archive) { return std::string(archive) + ".release"; }
std::string ReleaseSignatureNameOf(std::string_view archive) {
  return std::string(archive) + ".release.sig";
}

bool IsSignatureName(std::string_view name) { return IsArchiveName(Less(name, ".sig")); }
bool IsReleaseName(std::string_view name) { return IsArchiveName(Less(name, ".release")); }
bool IsReleaseSignatureName(std::string_view name) {
  return IsArchiveName(Less(name, ".release.sig"));
}

std::string DeltaNameOf(std::string_view file, std::string_view from_sha256) {
  return std::string(file) + "." + std::string(from_sha256.substr(0, 16)) + ".zst";
}

bool IsDeltaName(std::string_view name) {
  const std::string_view stem = Less(name, ".zst");
  if (stem.size() < 18 || stem[stem.size() - 17] != '.') return false;
  for (const char c : stem.substr(stem.size() - 16)) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

Served ServedKindOf(std::string_view name) {
  if (!SafeFileName(name)) return Served::kNone;
  if (IsArchiveName(name)) return Served::kArchive;
  if (IsSignatureName(name)) return Served::kSignature;
  if (IsReleaseName(name)) return Served::kRelease;
  if (IsReleaseSignatureName(name)) return Served::kReleaseSignature;
  if (IsDeltaName(name)) return Served::kDelta;
  return Served::kNone;
}

std::string NameBeforeZip(std::string_view server_name) {
  const std::size_t zip = cp1252::UpperAscii(server_name).find(".ZIP");
  return zip == std::string::npos ? std::string() : std::string(server_name.substr(0, zip));
}

std::string LocalFileNameOf(std::string_view server_name) {
  if (server_name.size() > kMaxNameBytes) return {};
  std::string local = NameBeforeZip(server_name);
  return SafeFileName(local) ? local : std::string();
}

}  // namespace jov::protocol
