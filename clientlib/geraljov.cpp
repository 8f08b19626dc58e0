#include "clientlib/geraljov.h"

namespace Jov_calvora {

bool SetADODBSession(jov::Database& connection) { return connection.IsConnected(); }

}  // namespace Jov_calvora
