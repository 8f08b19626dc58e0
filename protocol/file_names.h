// The names of what the chain's server serves: archives, their signatures, releases and deltas.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace jov::protocol {

// The longest file name either side takes, in bytes (what a Linux folder holds).
inline constexpr std::size_t kMaxNameBytes = 255;

// A name that can only name a file of the folder it is looked up in: not empty, at most
// kMaxNameBytes, and without "/", "\", "..", NUL or another control byte (below 0x20, 0x7F).
bool SafeFileName(std::string_view name);

// "<something>.zip", the extension in any letter case.
bool IsArchiveName(std::string_view name);
// The names an archive's companions take: "<archive>.sig", "<archive>.release" and
// "<archive>.release.sig".
std::string SignatureNameOf(std::string_view archive);
std::string ReleaseNameOf(std::string_view archive);
std::string ReleaseSignatureNameOf(std::string_view archive);
// Whether name is such a companion of an archive (suffixes in any letter case).
bool IsSignatureName(std::string_view name);
bool IsReleaseName(std::string_view name);
bool IsReleaseSignatureName(std::string_view name);

// The name of the patch from the program file whose SHA-256 is from_sha256 (64 hex digits) to
// the program file named file: "<file>.<first 16 hex digits of from_sha256>.zst".
std::string DeltaNameOf(std::string_view file, std::string_view from_sha256);
// "<something>.<16 hex digits>.zst" (hex digits and extension in any letter case).
bool IsDeltaName(std::string_view name);

// What a name asked of the server's file downloads is; kNone for any name that is not safe.
enum class Served { kNone, kArchive, kSignature, kRelease, kReleaseSignature, kDelta };
Served ServedKindOf(std::string_view name);

// The server's file name cut before its first ".ZIP" (any case): "JovTab.exe.zip.sig" gives
// "JovTab.exe" as the register has always read it. Empty when it holds no ".ZIP".
std::string NameBeforeZip(std::string_view server_name);

// The local file name of a server archive name: NameBeforeZip when the server name is at most
// kMaxNameBytes and what it gives is a SafeFileName; empty otherwise.
std::string LocalFileNameOf(std::string_view server_name);

}  // namespace jov::protocol
