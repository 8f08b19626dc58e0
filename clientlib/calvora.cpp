#include "clientlib/calvora.h"

#include <dlfcn.h>

#include <map>

#include "platform/errors.h"

namespace Calvora {
namespace {

std::map<std::string, void*>& LoadedModules() {
  static std::map<std::string, void*> modules;
  return modules;
}

}  // namespace

void LoadBPL_JOVINI(const std::string& program_dir, const std::string& code, bool flag) {
  const std::string path = program_dir + "/" + code + ".bpl";
  void* handle = LoadedModules().count(code) ? LoadedModules()[code] : nullptr;
  if (handle == nullptr) {
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* loader = ::dlerror();
      const std::string why = loader != nullptr ? loader : "unknown";
      throw jov::Error("Cannot load package " + path + ": " + why, jov::Cause::kModuleLoad,
                       {.subject = path, .detail = why});
    }
    LoadedModules()[code] = handle;
  }
  using Entry = void (*)(int);
  auto entry = reinterpret_cast<Entry>(::dlsym(handle, "ExecutaModulo"));
  if (entry == nullptr) {
    throw jov::Error("Package " + path + " has no entry ExecutaModulo", jov::Cause::kModuleNoEntry,
                     {.subject = path, .other = "ExecutaModulo"});
  }
  entry(flag ? 1 : 0);
}

void UnLoadBPL(const std::string& code) {
  auto it = LoadedModules().find(code);
  if (it == LoadedModules().end()) return;
  ::dlclose(it->second);
  LoadedModules().erase(it);
}

}  // namespace Calvora
