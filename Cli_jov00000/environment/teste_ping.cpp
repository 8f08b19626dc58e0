// Server reachability test.
#include "Cli_jov00000/frm_escolhe_sistema.h"

namespace Cli_jov00000 {

bool TfrmEscolheSistema::TestePing() { return false; }

}  // namespace Cli_jov00000
