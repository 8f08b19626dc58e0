// JOV.EXE: the point-of-sale host. Loads the launcher package from its own folder, calls
// IniProc and unloads it again.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

namespace {

std::string OwnFolder() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(n));
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

int main() {
  const std::string package = OwnFolder() + "/Pkg_jov00000.bpl";
  void* handle = dlopen(package.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    std::fprintf(stderr, "Cannot load %s: %s\n", package.c_str(), reason ? reason : "unknown");
    return 1;
  }
  using Entry = void (*)();
  auto ini_proc = reinterpret_cast<Entry>(dlsym(handle, "IniProc"));
  if (ini_proc == nullptr) {
    std::fprintf(stderr, "Cannot load %s: it has no entry IniProc\n", package.c_str());
    dlclose(handle);
    return 1;
  }
  int code = 0;
  try {
    ini_proc();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    code = 1;
  }
  dlclose(handle);
  return code;
}
