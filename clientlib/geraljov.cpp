#include "clientlib/geraljov.h"

#include "clientlib/client_ini.h"

namespace Geraljov {

std::string _GetStringConexJov(const std::string& /*name*/) {
  return jov::CurrentClientIni().connection_string;
}

}  // namespace Geraljov

namespace Jov_calvora {

bool SetADODBSession(jov::Database& connection) { return connection.IsConnected(); }

}  // namespace Jov_calvora
