// The client library's program-wide operations: the point-of-sale modules.
#pragma once

#include <string>

namespace Calvora {

// Loads "<program_dir>/<code>.bpl", runs its ExecutaModulo(flag) and returns when it ends.
void LoadBPL_JOVINI(const std::string& program_dir, const std::string& code, bool flag);
void UnLoadBPL(const std::string& code);

}  // namespace Calvora
