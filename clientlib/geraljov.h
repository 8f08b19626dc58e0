// Jov_calvora: the database session set-up.
#pragma once

#include <string>

#include "platform/database.h"

namespace Jov_calvora {
// Prepares a just-connected session; returns true when it could.
bool SetADODBSession(jov::Database& connection);
}  // namespace Jov_calvora
