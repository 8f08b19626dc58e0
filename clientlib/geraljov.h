// Geraljov and Jov_calvora: the database connection string and session set-up.
#pragma once

#include <string>

#include "platform/database.h"

namespace Geraljov {
// The database connection string from clientlib.ini (the argument is unused, kept as called).
std::string _GetStringConexJov(const std::string& name);
}  // namespace Geraljov

namespace Jov_calvora {
// Prepares a just-connected session; returns true when it could.
bool SetADODBSession(jov::Database& connection);
}  // namespace Jov_calvora
