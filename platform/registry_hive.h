// Registry on Linux: one REGEDIT4 hive file shared by every program of the register.
#pragma once

#include <string>

#include "platform/registry.h"

namespace jov {

class RegistryHive : public Registry {
 public:
  // path: the hive file (JOV_HKLM, default /var/lib/jov/HKLM.reg).
  explicit RegistryHive(std::string path) : path_(std::move(path)) {}
  bool OpenKey(const std::string& key, bool create) override;
  bool ValueExists(const std::string& key, const std::string& name) override;
  std::string ReadString(const std::string& key, const std::string& name) override;
  std::int32_t ReadInteger(const std::string& key, const std::string& name) override;
  void WriteString(const std::string& key, const std::string& name,
                   const std::string& value) override;
  void WriteInteger(const std::string& key, const std::string& name, std::int32_t value) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;

 private:
  std::string path_;
};

// The hive path the register uses: $JOV_HKLM, or /var/lib/jov/HKLM.reg.
std::string DefaultHivePath();

}  // namespace jov
