// The client library's program-wide operations: configuration and point-of-sale modules.
#pragma once

#include <string>

namespace Calvora {

// Read from clientlib.ini in the program directory at every call (defaults when missing).
std::string WorkingDirectory();
std::string WebURL();
int WebPort();

// Loads "<program dir>/<code>.bpl", runs its ExecutaModulo(flag) and returns when it ends.
void LoadBPL_JOVINI(const std::string& code, bool flag);
void UnLoadBPL(const std::string& code);

}  // namespace Calvora
