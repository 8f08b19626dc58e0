#include "clientlib/geraljov.h"

#include "clientlib/client_ini.h"

namespace Geraljov {

std::string _GetStringConexJov(const std::string& /*name*/) {
  const std::string dir = jov::ProgramDirectory();
  return jov::ReadClientIni(dir + "/clientlib.ini", dir).connection_string;
}

}  // namespace Geraljov

namespace Jov_calvora {

bool SetADODBSession(jov::Database& connection) { return connection.IsConnected(); }

}  // namespace Jov_calvora
