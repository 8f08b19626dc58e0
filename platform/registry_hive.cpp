#include "platform/registry_hive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <unordered_map>

#include "platform/atomic_file.h"
#include "platform/cp1252.h"
#include "platform/errors.h"
#include "platform/file_text.h"
#include "platform/host_path.h"
#include "platform/system_text.h"

namespace jov {
namespace {

constexpr std::size_t kMaxHiveBytes = 16u << 20;
constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";

using cp1252::EqualsIgnoringAsciiCase;

std::string Describe(const std::string& key, const std::string& name) {
  return "'" + (name.empty() ? std::string("(Padrão)") : name) + "' in HKEY_LOCAL_MACHINE\\" + key;
}

// "Software\\X\\" and "\\Software\\X" name the same key; empty components are refused.
std::string NormalKey(const std::string& key) {
  std::size_t begin = 0;
  std::size_t end = key.size();
  while (begin < end && key[begin] == '\\') ++begin;
  while (end > begin && key[end - 1] == '\\') --end;
  std::string out = key.substr(begin, end - begin);
  if (out.empty()) {
    throw Error("Registry key '" + key + "' is not valid: empty name", Cause::kRegistryKeyEmptyName,
                {.subject = key});
  }
  if (out.find("\\\\") != std::string::npos || out.find_first_of("\r\n", 0) != std::string::npos ||
      out.find('\0') != std::string::npos) {
    throw Error("Registry key '" + key + "' is not valid", Cause::kRegistryKeyInvalid,
                {.subject = key});
  }
  return out;
}

hive::Key* FindKey(hive::Hive& h, std::string_view path) {
  for (hive::Key& k : h.keys) {
    if (EqualsIgnoringAsciiCase(k.path, path)) return &k;
  }
  return nullptr;
}

hive::Value* FindValue(hive::Key& k, std::string_view name) {
  for (hive::Value& v : k.values) {
    if (EqualsIgnoringAsciiCase(v.name, name)) return &v;
  }
  return nullptr;
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void CheckStorable(std::string_view text, const char* what) {
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    throw Error(std::string("Cannot store a registry ") + what +
                    " holding a line break or NUL: " + std::string(text),
                Cause::kRegistryTextRefused, {.detail = std::string(text)});
  }
}

class Parser {
 public:
  Parser(std::string_view text, const std::string& path) : text_(text), path_(path) {}

  hive::Hive Run() {
    if (text_.size() > kMaxHiveBytes) {
      throw Error("Registry hive " + path_ + " is corrupt: larger than " +
                      std::to_string(kMaxHiveBytes) + " bytes",
                  Cause::kHiveTooLarge,
                  {.subject = path_, .number = static_cast<std::int64_t>(kMaxHiveBytes)});
    }
    hive::Hive h;
    if (text_.find_first_not_of(" \t\r\n") == std::string_view::npos) return h;
    std::string_view line;
    if (!NextLine(line) || line != "REGEDIT4") Fail("it does not begin with REGEDIT4");
    std::size_t current = kNoKey;
    while (NextLine(line)) {
      const std::size_t first = line.find_first_not_of(" \t");
      if (first == std::string_view::npos || line[first] == ';') continue;
      line.remove_prefix(first);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
      if (line.front() == '[') {
        current = Section(h, line);
      } else {
        if (current == kNoKey) Fail("a value before the first key");
        ValueLine(h.keys[current], value_index_[current], line);
      }
    }
    return h;
  }

 private:
  static constexpr std::size_t kNoKey = static_cast<std::size_t>(-1);
  // Names in upper case to their place: a key or value named again is found in constant time,
  // so a hive of many keys or of one key with many values parses in linear time.
  using Index = std::unordered_map<std::string, std::size_t>;

  [[noreturn]] void Fail(const std::string& what) const {
    throw Error(
        "Registry hive " + path_ + " is corrupt: line " + std::to_string(line_no_) + ": " + what,
        Cause::kHiveCorrupt, {.subject = path_, .number = static_cast<std::int64_t>(line_no_)});
  }

  bool NextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    ++line_no_;
    if (line.find('\0') != std::string_view::npos) Fail("a NUL character");
    if (line.find('\r') != std::string_view::npos) Fail("a carriage return inside a line");
    return true;
  }

  // The index in h.keys of the key the section line names, added when new.
  std::size_t Section(hive::Hive& h, std::string_view line) {
    if (line.back() != ']') Fail("a key line without \"]\"");
    std::string_view name = line.substr(1, line.size() - 2);
    if (!name.empty() && name.front() == '-') Fail("key deletions are not supported");
    if (!EqualsIgnoringAsciiCase(name.substr(0, kRoot.size()), kRoot))
      Fail("a key outside HKEY_LOCAL_MACHINE");
    name.remove_prefix(kRoot.size());
    std::string path;
    if (!name.empty()) {
      if (name.front() != '\\' || name.size() == 1) Fail("a key outside HKEY_LOCAL_MACHINE");
      name.remove_prefix(1);
      if (name.back() == '\\' || name.find("\\\\") != std::string_view::npos) {
        Fail("a key with an empty name");
      }
      path = std::string(name);
    }
    const auto [at, added] = key_index_.try_emplace(cp1252::UpperAscii(path), h.keys.size());
    if (added) {
      h.keys.push_back({std::move(path), {}});
      value_index_.emplace_back();
    }
    return at->second;
  }

  // A quoted text starting at pos in line; returns the text and moves pos past it.
  std::string Quoted(std::string_view line, std::size_t& pos) {
    std::string out;
    ++pos;
    while (true) {
      if (pos >= line.size()) Fail("an unterminated quoted text");
      const char c = line[pos++];
      if (c == '"') return out;
      if (c == '\\') {
        if (pos >= line.size() || (line[pos] != '\\' && line[pos] != '"')) {
          Fail("an unknown escape in a quoted text");
        }
        out += line[pos++];
      } else {
        out += c;
      }
    }
  }

  void ValueLine(hive::Key& key, Index& values, std::string_view line) {
    hive::Value value;
    std::size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (line.front() == '"') {
      value.name = Quoted(line, pos);
    } else {
      Fail("expected a quoted value name");
    }
    if (pos >= line.size() || line[pos] != '=') Fail("expected \"=\" after the value name");
    std::string_view data = line.substr(pos + 1);
    if (!data.empty() && data.front() == '"') {
      std::size_t at = 0;
      value.kind = hive::Kind::kString;
      value.text = Quoted(data, at);
      if (at != data.size()) Fail("text after a quoted value");
    } else if (EqualsIgnoringAsciiCase(data.substr(0, 6), "dword:")) {
      const std::string_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
        Fail("a dword that is not 1 to 8 hex digits");
      }
      value.kind = hive::Kind::kDword;
      value.number =
          static_cast<std::uint32_t>(std::strtoul(std::string(digits).c_str(), nullptr, 16));
    } else if (EqualsIgnoringAsciiCase(data.substr(0, 3), "hex")) {
      value.kind = hive::Kind::kOther;
      value.text = OtherData(data);
    } else if (data == "-") {
      Fail("value deletions are not supported");
    } else {
      Fail("a value of unknown type");
    }
    const auto [at, added] = values.try_emplace(cp1252::UpperAscii(value.name), key.values.size());
    if (added) {
      key.values.push_back(std::move(value));
    } else {
      key.values[at->second] = std::move(value);
    }
  }

  // "hex:..." or "hex(N):...", continued on the next line after a trailing "\".
  std::string OtherData(std::string_view data) {
    const std::size_t colon = data.find(':');
    if (colon == std::string_view::npos) Fail("a hex value without \":\"");
    const std::string_view type = data.substr(3, colon - 3);
    if (!type.empty() &&
        (type.size() < 3 || type.front() != '(' || type.back() != ')' ||
         type.substr(1, type.size() - 2).find_first_not_of("0123456789abcdefABCDEF") !=
             std::string_view::npos)) {
      Fail("a hex value of unknown type");
    }
    std::string out(data.substr(0, colon + 1));
    std::string_view bytes = data.substr(colon + 1);
    while (true) {
      const bool more = !bytes.empty() && bytes.back() == '\\';
      if (more) bytes.remove_suffix(1);
      if (bytes.find_first_not_of("0123456789abcdefABCDEF, \t") != std::string_view::npos) {
        Fail("a hex value with a bad byte list");
      }
      for (char c : bytes) {
        if (c != ' ' && c != '\t') out += c;
      }
      if (!more) return out;
      std::string_view next;
      if (!NextLine(next)) Fail("a hex value continued past the end");
      const std::size_t first = next.find_first_not_of(" \t");
      bytes = first == std::string_view::npos ? std::string_view() : next.substr(first);
      while (!bytes.empty() && (bytes.back() == ' ' || bytes.back() == '\t'))
        bytes.remove_suffix(1);
    }
  }

  std::string_view text_;
  const std::string& path_;
  std::size_t pos_ = 0;
  int line_no_ = 0;
  Index key_index_;
  std::vector<Index> value_index_;  // one per key, in the order of hive.keys
};

std::string ReadHiveText(const std::string& path) {
  FileText file = ReadFileText(path, kMaxHiveBytes);  // a larger hive: the parser reports it
  if (file.error == ENOENT) return {};
  if (file.error == EINVAL) {  // a FIFO, a device: never waited on, never read
    throw Error("Cannot read registry hive " + path + ": not a regular file",
                Cause::kHiveNotRegular, {.subject = path});
  }
  if (file.error != 0) {
    throw Error("Cannot read registry hive " + path + ": " + SystemErrorText(file.error),
                Cause::kHiveUnreadable, {.subject = path, .detail = SystemErrorText(file.error)});
  }
  return std::move(file.text);
}

hive::Hive Load(const std::string& path) { return hive::Parse(ReadHiveText(path), path); }

std::string Folder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void MakeFolders(const std::string& dir) {
  for (std::size_t pos = 1; pos != std::string::npos;) {
    pos = dir.find('/', pos + 1);
    const std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return;  // the open reports it
  }
}

// Holds the writers' lock: an exclusive flock on "<hive>.lock" beside the hive, never on the
// hive itself, which every user who may read it could lock and so stop every write. The lock
// file is made 0600 by its first writer and opened for writing, so only those who may write
// the hive can take it. Readers never lock: a hive is only ever replaced whole.
class HiveLock {
 public:
  HiveLock(const std::string& path, int wait_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    auto pause = std::chrono::microseconds(200);
    MakeFolders(Folder(path));
    const std::string lock_path = path + ".lock";
    // Without waiting on the open: a FIFO in its place must not hold the writer.
    fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd_ < 0) {
      const std::string why = SystemErrorText(errno);
      throw Error("Cannot write registry hive " + path + ": " + lock_path + ": " + why,
                  Cause::kHiveUnwritable, {.subject = path, .other = lock_path, .detail = why});
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd_);
      throw Error(
          "Cannot write registry hive " + path + ": " + lock_path + " is not a regular file",
          Cause::kHiveLockNotRegular, {.subject = path, .other = lock_path});
    }
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        const std::string why = SystemErrorText(errno);
        ::close(fd_);
        throw Error("Cannot lock registry hive " + path + ": " + why, Cause::kHiveCannotLock,
                    {.subject = path, .detail = why});
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        ::close(fd_);
        throw Error("Cannot write registry hive " + path + ": it is locked by another program",
                    Cause::kHiveLocked, {.subject = path});
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
    struct stat hive {};
    if (::stat(path.c_str(), &hive) == 0) mode_ = hive.st_mode & 07777;
  }
  ~HiveLock() {
    ::close(fd_);  // closing releases the lock
  }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;

  mode_t mode() const { return mode_; }

 private:
  int fd_ = -1;
  mode_t mode_ = 0644;
};

void ReplaceHive(const std::string& path, const std::string& text, mode_t mode) {
  WriteFileAtomically(path, text, mode, "registry hive " + path);
}

// Throws unless the hive may be replaced: a hive file without write bits is read-only even
// for root, and the file (when present) and its folder must be writable for this process.
void CheckWritable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if ((st.st_mode & 0222) == 0) {
      throw Error("Cannot write registry hive " + path + ": it is read-only", Cause::kHiveReadOnly,
                  {.subject = path});
    }
    if (::access(path.c_str(), W_OK) != 0) {
      const std::string why = SystemErrorText(errno);
      throw Error("Cannot write registry hive " + path + ": " + why, Cause::kHiveUnwritable,
                  {.subject = path, .detail = why});
    }
    const std::string folder = Folder(path);
    if (::access(folder.c_str(), W_OK) != 0) {
      const std::string why = SystemErrorText(errno);
      throw Error("Cannot write registry hive " + path + ": folder " + folder + ": " + why,
                  Cause::kHiveFolderUnwritable, {.subject = path, .other = folder, .detail = why});
    }
  } else if (errno != ENOENT) {
    const std::string why = SystemErrorText(errno);
    throw Error("Cannot write registry hive " + path + ": " + why, Cause::kHiveUnwritable,
                {.subject = path, .detail = why});
  }
}

// Removes the temporaries that writes of this hive cut short (by a power cut) left beside it.
// Call it holding the lock: every writer holds it while its temporary exists.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string own = FileNameOf(TemporaryPrefix(path));
  DIR* dir = ::opendir(Folder(path).c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.starts_with(own) && IsOwnTemporary(name)) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

// Runs change on the hive under the lock; writes the hive only when change returns true.
void Modify(const std::string& path, int wait_ms, const std::function<bool(hive::Hive&)>& change) {
  CheckWritable(path);
  HiveLock lock(path, wait_ms);
  RemoveStaleTemporaries(path);
  hive::Hive h = Load(path);
  if (!change(h)) return;
  const std::string text = hive::Serialize(h);
  // A hive its own reader refuses would be lost to every program of the register.
  if (text.size() > kMaxHiveBytes) {
    throw Error("Cannot write registry hive " + path + ": it would grow to " +
                    std::to_string(text.size()) + " bytes, more than the " +
                    std::to_string(kMaxHiveBytes) + " its readers accept",
                Cause::kHiveWouldGrow,
                {.subject = path, .number = static_cast<std::int64_t>(kMaxHiveBytes)});
  }
  ReplaceHive(path, text, lock.mode() == 0 ? 0644 : lock.mode());
}

const hive::Value& ExistingValue(hive::Hive& h, const std::string& key, const std::string& name) {
  hive::Key* k = FindKey(h, NormalKey(key));
  hive::Value* v = k == nullptr ? nullptr : FindValue(*k, name);
  if (v == nullptr) {
    throw Error("Registry value " + Describe(key, name) + " does not exist", Cause::kValueMissing,
                {.subject = name, .other = key});
  }
  return *v;
}

bool SameValue(const hive::Value& a, const hive::Value& b) {
  return a.kind == b.kind && a.text == b.text && a.number == b.number;
}

void Write(const std::string& path, int wait_ms, const std::string& key, hive::Value value) {
  CheckStorable(value.name, "value name");
  if (value.kind == hive::Kind::kString) CheckStorable(value.text, "text");
  const std::string normal = NormalKey(key);
  CheckWritable(path);  // a hive that cannot be written refuses even a write that changes nothing
  {
    // An unchanged value is not written: the hive file stays as it is.
    hive::Hive h = Load(path);
    hive::Key* k = FindKey(h, normal);
    hive::Value* existing = k == nullptr ? nullptr : FindValue(*k, value.name);
    if (existing != nullptr && SameValue(*existing, value)) return;
  }
  Modify(path, wait_ms, [&](hive::Hive& h) {
    hive::Key* k = FindKey(h, normal);
    if (k == nullptr) {
      throw Error(
          "Cannot write registry value " + Describe(key, value.name) + ": the key does not exist",
          Cause::kValueKeyMissing, {.subject = value.name, .other = key});
    }
    hive::Value* existing = FindValue(*k, value.name);
    if (existing == nullptr) {
      k->values.push_back(value);
      return true;
    }
    if (SameValue(*existing, value)) return false;
    value.name = existing->name;  // the stored spelling of the name is kept
    *existing = value;
    return true;
  });
}

}  // namespace

namespace hive {

Hive Parse(std::string_view text, const std::string& path) { return Parser(text, path).Run(); }

std::string Serialize(const Hive& h) {
  std::string out = "REGEDIT4\r\n";
  for (const Key& key : h.keys) {
    CheckStorable(key.path, "key");
    out += "\r\n[";
    out += kRoot;
    if (!key.path.empty()) out += "\\" + key.path;
    out += "]\r\n";
    for (const Value& v : key.values) {
      CheckStorable(v.name, "value name");
      if (v.name.empty()) {
        out += '@';
      } else {
        AppendQuoted(out, v.name);
      }
      out += '=';
      switch (v.kind) {
        case Kind::kString:
          CheckStorable(v.text, "text");
          AppendQuoted(out, v.text);
          break;
        case Kind::kDword: {
          char digits[16];
          std::snprintf(digits, sizeof digits, "dword:%08x", v.number);
          out += digits;
          break;
        }
        case Kind::kOther:
          CheckStorable(v.text, "value");
          out += v.text;
          break;
      }
      out += "\r\n";
    }
  }
  return out;
}

}  // namespace hive

std::string DefaultHivePath() {
  const char* path = std::getenv("JOV_HKLM");
  return path != nullptr && *path != '\0' ? path : "/var/lib/jov/HKLM.reg";
}

bool RegistryHive::OpenKey(const std::string& key, bool create) {
  try {
    const std::string normal = NormalKey(key);
    hive::Hive h = Load(path_);
    if (FindKey(h, normal) != nullptr) {
      // The key is opened for writing: it opens only when the hive can be written now.
      CheckWritable(path_);
      const HiveLock lock(path_, lock_wait_ms_);
      return true;
    }
    if (!create) return false;
    Modify(path_, lock_wait_ms_, [&](hive::Hive& fresh) {
      if (FindKey(fresh, normal) != nullptr) return false;
      fresh.keys.push_back({normal, {}});
      return true;
    });
    return true;
  } catch (const Error&) {
    return false;
  }
}

bool RegistryHive::ValueExists(const std::string& key, const std::string& name) {
  hive::Hive h = Load(path_);
  hive::Key* k = FindKey(h, NormalKey(key));
  return k != nullptr && FindValue(*k, name) != nullptr;
}

std::string RegistryHive::ReadString(const std::string& key, const std::string& name) {
  hive::Hive h = Load(path_);
  const hive::Value& v = ExistingValue(h, key, name);
  if (v.kind != hive::Kind::kString) {
    throw Error(
        "Invalid data type for registry value " + Describe(key, name) + ": it is not a string",
        Cause::kValueNotText, {.subject = name, .other = key});
  }
  return v.text;
}

std::int32_t RegistryHive::ReadInteger(const std::string& key, const std::string& name) {
  hive::Hive h = Load(path_);
  const hive::Value& v = ExistingValue(h, key, name);
  if (v.kind != hive::Kind::kDword) {
    throw Error(
        "Invalid data type for registry value " + Describe(key, name) + ": it is not an integer",
        Cause::kValueNotInteger, {.subject = name, .other = key});
  }
  return static_cast<std::int32_t>(v.number);
}

void RegistryHive::WriteString(const std::string& key, const std::string& name,
                               const std::string& value) {
  Write(path_, lock_wait_ms_, key, {name, hive::Kind::kString, value, 0});
}

void RegistryHive::WriteInteger(const std::string& key, const std::string& name,
                                std::int32_t value) {
  Write(path_, lock_wait_ms_, key,
        {name, hive::Kind::kDword, {}, static_cast<std::uint32_t>(value)});
}

bool RegistryHive::DeleteValue(const std::string& key, const std::string& name) {
  const std::string normal = NormalKey(key);
  if (!ValueExists(key, name)) return false;
  bool deleted = false;
  Modify(path_, lock_wait_ms_, [&](hive::Hive& h) {
    hive::Key* k = FindKey(h, normal);
    if (k == nullptr) return false;
    const auto before = k->values.size();
    std::erase_if(k->values,
                  [&](const hive::Value& v) { return EqualsIgnoringAsciiCase(v.name, name); });
    deleted = k->values.size() != before;
    return deleted;
  });
  return deleted;
}

}  // namespace jov
