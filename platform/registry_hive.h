// Registry on Linux: one REGEDIT4 hive file shared by every program of the register.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace jov {

// Reads see the hive file as it is on disk at the call and never lock. Every write takes an
// exclusive flock on the lock file "<hive>.lock" beside it (made 0600, so that only those who
// may write the hive can hold it up), re-reads the hive, writes the new one to a temporary
// file beside it, fsyncs it and renames it over the old one, so that a crash leaves the old or
// the new hive and two programs writing at once lose nothing. A write that changes nothing leaves
// the file alone. A hive that cannot be parsed raises and is never rewritten; nor is a read-only
// one.
class RegistryHive : public Registry {
 public:
  // path: the hive file (JOV_HKLM, default /var/lib/jov/HKLM.reg). A write waits at most
  // lock_wait_ms for another program's lock, then fails.
  explicit RegistryHive(std::string path, int lock_wait_ms = 3000)
      : path_(std::move(path)), lock_wait_ms_(lock_wait_ms) {}
  bool OpenKey(const std::string& key, bool create) override;
  bool ValueExists(const std::string& key, const std::string& name) override;
  std::string ReadString(const std::string& key, const std::string& name) override;
  std::int32_t ReadInteger(const std::string& key, const std::string& name) override;
  void WriteString(const std::string& key, const std::string& name,
                   const std::string& value) override;
  void WriteInteger(const std::string& key, const std::string& name, std::int32_t value) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int lock_wait_ms_;
};

// The hive path the register uses: $JOV_HKLM, or /var/lib/jov/HKLM.reg.
std::string DefaultHivePath();

// The hive file's content, as the parser and writer see it.
namespace hive {

enum class Kind { kString, kDword, kOther };

struct Value {
  std::string name;  // "" is the key's default value ("@")
  Kind kind = Kind::kString;
  std::string text;          // kString: the text; kOther: the data as written after "="
  std::uint32_t number = 0;  // kDword
};

struct Key {
  std::string path;  // below HKEY_LOCAL_MACHINE, "" for the root itself
  std::vector<Value> values;
};

struct Hive {
  std::vector<Key> keys;
};

// Parses REGEDIT4 text (CR LF or LF); an empty text is an empty hive. Throws Error naming
// the file (path) and the line. Sections of one key are merged; a later value replaces one
// of the same name. Data of other types (hex:, hex(N):) is kept as it is written.
Hive Parse(std::string_view text, const std::string& path);
// REGEDIT4 text with CR LF line ends. Throws Error for a name or text that the format
// cannot hold (a line break or NUL).
std::string Serialize(const Hive& hive);

}  // namespace hive
}  // namespace jov
