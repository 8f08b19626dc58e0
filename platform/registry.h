// The register's registry under HKEY_LOCAL_MACHINE, shared by every program of the register.
#pragma once

#include <cstdint>
#include <string>

namespace jov {

// Keys are paths below HKEY_LOCAL_MACHINE ("Software\\CALVORA\\..."); keys and value names
// compare without regard to ASCII case. Every failure throws Error naming the key or value.
class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the key for reading and writing, creating it when missing and create is set; false
  // when it is missing (and create is not set) or when the registry cannot be written now (no
  // write access, locked by another program).
  virtual bool OpenKey(const std::string& key, bool create) = 0;
  virtual bool ValueExists(const std::string& key, const std::string& name) = 0;
  // Reading a value stored with the other type throws.
  virtual std::string ReadString(const std::string& key, const std::string& name) = 0;
  virtual std::int32_t ReadInteger(const std::string& key, const std::string& name) = 0;
  virtual void WriteString(const std::string& key, const std::string& name,
                           const std::string& value) = 0;
  virtual void WriteInteger(const std::string& key, const std::string& name,
                            std::int32_t value) = 0;
  // Returns false when the value did not exist.
  virtual bool DeleteValue(const std::string& key, const std::string& name) = 0;
};

}  // namespace jov
