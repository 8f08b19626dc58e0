// The versions of the program files installed from signed releases, as the register keeps
// them in its program folder: "Dados/Jov_Bpl/versoes.json" ({"JovTab.exe": 42}) and, beside
// it, the archive each was installed from, "Dados/Jov_Bpl/versoes-sha256.json".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace jov {

// The records' files under a program folder (with or without its final "/").
std::string VersionsPath(const std::string& program_dir);
std::string VersionHashesPath(const std::string& program_dir);

// The build of a program installed from a release.
struct InstalledBuild {
  std::int64_t version = 0;
  std::string sha256;  // of the archive, 64 lower-case hex digits; empty when not recorded

  bool operator==(const InstalledBuild&) const = default;
};

// The records read once. A missing file records nothing. A file that cannot be read whole
// and valid (not a regular file, over 64 KiB, not an object of names to positive integers,
// or to 64 hex digits for the hashes) leaves the records unreadable: they then say nothing
// of any program, and whoever installs must not take that for "nothing installed".
class InstalledVersions {
 public:
  // Reads both files, bounded, without blocking on anything but a regular file. Never throws.
  static InstalledVersions Read(const std::string& program_dir);

  // The build recorded for the program name (letter case aside).
  std::optional<InstalledBuild> Find(const std::string& name) const;
  bool readable() const { return problem_.empty(); }
  // Why the records are unreadable, in Portuguese (Windows-1252); empty when readable.
  const std::string& problem() const { return problem_; }

  // Records build as the one installed of name, after its program file was installed: each
  // file is written to a temporary, flushed and renamed, the hashes first (so that a cut
  // between the two never pairs a version with another build's hash). Makes the folder when
  // missing. Throws IoError with a Portuguese reason, the records then as they were, also
  // when the records in place are unreadable (they are never overwritten blindly).
  static void Record(const std::string& program_dir, const std::string& name,
                     const InstalledBuild& build);

 private:
  std::map<std::string, InstalledBuild> builds_;  // by upper-case name
  std::map<std::string, std::string> names_;      // upper-case name -> name as recorded
  std::string problem_;
};

// The version last installed of the program name, nothing when none is recorded or the
// records cannot be read. For reports; blocks on the disk, never throws.
std::optional<std::int64_t> InstalledVersion(const std::string& program_dir,
                                             const std::string& name);

}  // namespace jov
