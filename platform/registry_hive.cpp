#include "platform/registry_hive.h"

#include <cstdlib>

#include "platform/errors.h"

namespace jov {

std::string DefaultHivePath() {
  const char* path = std::getenv("JOV_HKLM");
  return path != nullptr && *path != '\0' ? path : "/var/lib/jov/HKLM.reg";
}

bool RegistryHive::OpenKey(const std::string&, bool) { return false; }
bool RegistryHive::ValueExists(const std::string&, const std::string&) { return false; }
std::string RegistryHive::ReadString(const std::string&, const std::string& name) {
  throw Error("Registry value " + name + " not available");
}
std::int32_t RegistryHive::ReadInteger(const std::string&, const std::string& name) {
  throw Error("Registry value " + name + " not available");
}
void RegistryHive::WriteString(const std::string&, const std::string& name, const std::string&) {
  throw Error("Registry value " + name + " not available");
}
void RegistryHive::WriteInteger(const std::string&, const std::string& name, std::int32_t) {
  throw Error("Registry value " + name + " not available");
}
bool RegistryHive::DeleteValue(const std::string&, const std::string&) { return false; }

}  // namespace jov
