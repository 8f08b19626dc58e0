// Loading a point-of-sale module package and running it on the calling thread.
#pragma once

#include <string>

namespace jov {

class ModuleLoader {
 public:
  virtual ~ModuleLoader() = default;
  // Loads "<program dir>/<code>.bpl", calls its ExecutaModulo(flag) and returns when that
  // returns. Throws Error naming the package when it cannot be loaded or lacks the entry.
  virtual void Load(const std::string& code, bool flag) = 0;
  // Closes a package loaded by Load; nothing when it is not loaded.
  virtual void Unload(const std::string& code) = 0;
};

}  // namespace jov
